#include "convert/save/pst_sink.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <unistd.h>

#include "convert/save/pff_source.h"
#include "convert/writer/pst_writer.h"
#include "scan/names.h"

namespace korvel::convert {

namespace {
// Embedded messages nest no deeper than this; a damaged file could claim more.
constexpr int maximum_embedding_depth = 64;

bool is_table_bookkeeping(std::uint16_t id)
{
    return id == tag_row_identifier || id == tag_row_version;
}

} // namespace

bool pst_sink_skips_folder_property(std::uint16_t id, std::uint16_t type)
{
    // Content count, unread count, has-sub-folders, associated content count.
    return id == tag_content_count || id == tag_content_unread_count || id == tag_subfolders ||
           id == tag_associated_content_count || is_table_bookkeeping(id) || type == pt_object;
}

bool pst_sink_skips_message_property(std::uint16_t id, std::uint16_t type)
{
    return is_table_bookkeeping(id) || type == pt_object;
}

bool pst_sink_skips_attachment_property(std::uint16_t id, std::uint16_t type)
{
    // The data (bytes or embedded object) is written from the attachment itself.
    return id == tag_attach_data || is_table_bookkeeping(id) || type == pt_object;
}

namespace {

// Builds the writer's message from a libpff message: properties, recipients,
// attachments (data read from libpff while the writer writes), embedded
// messages. Holds the libpff items the data sources read from.
class message_reader
{
public:
    message_reader(code_page_decoder &decoder, std::vector<std::string> &problems,
                   const std::atomic<bool> *stop)
        : m_decoder(decoder), m_problems(problems), m_stop(stop)
    {
    }
    ~message_reader()
    {
        for (libpff_item_t *item : m_held) {
            libpff_item_free(&item, nullptr);
        }
    }
    message_reader(const message_reader &) = delete;
    message_reader &operator=(const message_reader &) = delete;

    // Returns 1, or -1 when the message's own properties cannot be read (why set).
    int read(libpff_item_t *item, std::uint32_t fallback_code_page, const std::string &where,
             int depth, message &out, std::string &why);

private:
    void problem(const std::string &where, const std::string &text)
    {
        m_problems.push_back(where.empty() ? text : where + ": " + text);
    }
    void report(const std::string &where, const std::vector<source_problem> &problems)
    {
        for (const source_problem &p : problems) {
            problem(where, p.text);
        }
    }
    void read_recipients(libpff_item_t *item, std::uint32_t code_page, const std::string &where,
                         message &out);
    void read_attachments(libpff_item_t *item, std::uint32_t code_page, const std::string &where,
                          int depth, message &out);
    // The message an attachment embeds into a. Returns 1, or -1 (reported).
    int read_embedded(libpff_item_t *source, std::uint32_t code_page, const std::string &at,
                      int depth, attachment &a);
    // Reads an attachment's data in order while the writer writes.
    std::function<void(std::uint64_t, std::span<std::uint8_t>)> data_reader(libpff_item_t *source,
                                                                            const std::string &at);

    code_page_decoder &m_decoder;
    std::vector<std::string> &m_problems;
    const std::atomic<bool> *m_stop;
    std::vector<libpff_item_t *> m_held;
};

std::string join(const std::string &where, const std::string &part)
{
    return where.empty() ? part : where + ", " + part;
}

int message_reader::read(libpff_item_t *item, std::uint32_t fallback_code_page,
                         const std::string &where, int depth, message &out, std::string &why)
{
    std::vector<source_entry> entries;
    std::vector<source_problem> problems;
    if (read_item_record_set(item, 0, pst_sink_skips_message_property, entries, problems) != 1) {
        why = problems.empty() ? "no properties" : problems.front().text;
        return -1;
    }
    report(where, problems);
    std::uint32_t code_page = entries_code_page(entries, fallback_code_page);
    entries_to_bag(entries, code_page, m_decoder, out);
    read_recipients(item, code_page, where, out);
    read_attachments(item, code_page, where, depth, out);
    return 1;
}

void message_reader::read_recipients(libpff_item_t *item, std::uint32_t code_page,
                                     const std::string &where, message &out)
{
    libpff_error_t *error = nullptr;
    libpff_item_t *recipients = nullptr;
    int r = libpff_message_get_recipients(item, &recipients, &error);
    if (r != 1) {
        if (r == -1) {
            problem(where, "recipients cannot be read: " + pff_error_text(error));
            libpff_error_free(&error);
        }
        return;
    }
    int count = 0;
    if (libpff_item_get_number_of_record_sets(recipients, &count, &error) != 1) {
        problem(where, "recipients cannot be read: " + pff_error_text(error));
        libpff_error_free(&error);
        count = 0;
    }
    for (int i = 0; i < count; ++i) {
        std::string at = join(where, "recipient " + std::to_string(i + 1));
        std::vector<source_entry> entries;
        std::vector<source_problem> problems;
        if (read_item_record_set(recipients, i, pst_sink_skips_message_property, entries,
                                 problems) != 1) {
            problem(at, problems.empty() ? "cannot be read" : problems.front().text);
            continue;
        }
        report(at, problems);
        property_bag bag;
        entries_to_bag(entries, code_page, m_decoder, bag);
        out.recipients.push_back(std::move(bag));
    }
    libpff_item_free(&recipients, nullptr);
}

void message_reader::read_attachments(libpff_item_t *item, std::uint32_t code_page,
                                      const std::string &where, int depth, message &out)
{
    libpff_error_t *error = nullptr;
    int count = 0;
    if (libpff_message_get_number_of_attachments(item, &count, &error) != 1) {
        problem(where, "attachments cannot be read: " + pff_error_text(error));
        libpff_error_free(&error);
        return;
    }
    for (int i = 0; i < count; ++i) {
        std::string at = join(where, "attachment " + std::to_string(i + 1));
        libpff_item_t *source = nullptr;
        if (libpff_message_get_attachment(item, i, &source, &error) != 1) {
            problem(at, "cannot be read: " + pff_error_text(error));
            libpff_error_free(&error);
            continue;
        }
        m_held.push_back(source);
        std::vector<source_entry> entries;
        std::vector<source_problem> problems;
        if (read_item_record_set(source, 0, pst_sink_skips_attachment_property, entries,
                                 problems) == -1) {
            problem(at, problems.empty() ? "cannot be read" : problems.front().text);
            continue;
        }
        report(at, problems);
        attachment a;
        entries_to_bag(entries, code_page, m_decoder, a);
        int type = 0;
        if (libpff_attachment_get_type(source, &type, &error) != 1) {
            libpff_error_free(&error);
            type = LIBPFF_ATTACHMENT_TYPE_UNDEFINED;
        }
        if (type == LIBPFF_ATTACHMENT_TYPE_ITEM) {
            if (read_embedded(source, code_page, at, depth, a) != 1) {
                continue;
            }
        } else if (type == LIBPFF_ATTACHMENT_TYPE_REFERENCE) {
            a.how = attachment::kind::by_reference;
        } else {
            size64_t size = 0;
            if (type == LIBPFF_ATTACHMENT_TYPE_DATA &&
                libpff_attachment_get_data_size(source, &size, &error) == -1) {
                problem(at, "its data cannot be read: " + pff_error_text(error));
                libpff_error_free(&error);
                size = 0;
            }
            a.how = attachment::kind::by_value;
            a.data.size = size;
            a.data.read = data_reader(source, at);
        }
        out.attachments.push_back(std::move(a));
    }
}

int message_reader::read_embedded(libpff_item_t *source, std::uint32_t code_page,
                                  const std::string &at, int depth, attachment &a)
{
    if (depth >= maximum_embedding_depth) {
        problem(at, "embedded messages nested too deep");
        return -1;
    }
    libpff_error_t *error = nullptr;
    libpff_item_t *embedded = nullptr;
    if (libpff_attachment_get_item(source, &embedded, &error) != 1) {
        problem(at, "the embedded message cannot be read: " + pff_error_text(error));
        libpff_error_free(&error);
        return -1;
    }
    m_held.push_back(embedded);
    auto inner = std::make_shared<message>();
    std::string why;
    if (read(embedded, code_page, join(at, "embedded message"), depth + 1, *inner, why) != 1) {
        problem(at, "the embedded message cannot be read: " + why);
        return -1;
    }
    a.how = attachment::kind::embedded;
    a.embedded = std::move(inner);
    return 1;
}

std::function<void(std::uint64_t, std::span<std::uint8_t>)>
message_reader::data_reader(libpff_item_t *source, const std::string &at)
{
    // Read in order while the writer writes; a part libpff cannot read
    // is written as zeros and the attachment named in the report.
    auto position = std::make_shared<std::uint64_t>(0);
    auto failed = std::make_shared<bool>(false);
    std::vector<std::string> *problems_out = &m_problems;
    const std::atomic<bool> *stop = m_stop;
    return [source, position, failed, problems_out, at, stop](std::uint64_t offset,
                                                              std::span<std::uint8_t> buffer) {
        if (stop && stop->load()) {
            throw std::runtime_error("stopped");
        }
        std::size_t done = 0;
        if (!*failed && *position != offset) {
            libpff_error_t *seek_error = nullptr;
            if (libpff_attachment_data_seek_offset(source, static_cast<off64_t>(offset), SEEK_SET,
                                                   &seek_error) < 0) {
                libpff_error_free(&seek_error);
                *failed = true;
                problems_out->push_back(at + ": its data cannot be read from byte " +
                                        std::to_string(offset));
            }
            *position = offset;
        }
        while (!*failed && done < buffer.size()) {
            libpff_error_t *read_error = nullptr;
            ssize_t n = libpff_attachment_data_read_buffer(source, buffer.data() + done,
                                                           buffer.size() - done, &read_error);
            if (n <= 0) {
                std::string text = pff_error_text(read_error);
                libpff_error_free(&read_error);
                *failed = true;
                problems_out->push_back(at + ": its data cannot be read from byte " +
                                        std::to_string(offset + done) +
                                        (text.empty() ? "" : ": " + text));
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(done), buffer.end(), 0);
        *position = offset + buffer.size();
    };
}

// A message whose attachments together are at most this big is read whole
// by the reading thread; a bigger one is streamed from its libpff file when
// written, the reading thread waiting meanwhile, so memory stays bounded.
constexpr std::uint64_t read_whole_limit = 1u << 20;

// The by-value attachments of m and of the messages embedded in it.
void for_each_data(message &m, const std::function<void(attachment &)> &visit)
{
    for (attachment &a : m.attachments) {
        if (a.how == attachment::kind::by_value) {
            visit(a);
        } else if (a.how == attachment::kind::embedded && a.embedded) {
            for_each_data(*a.embedded, visit);
        }
    }
}

struct pst_prepared : prepared_message
{
    message m;
    // Only while attachments are still to be read from it.
    std::unique_ptr<message_reader> reader;
};

class pst_sink : public mailbox_sink
{
public:
    int open(const std::string &temporary_path, sink_error &error) override
    {
        m_path = temporary_path;
        writer_options options;
        options.write_thread = m_threads > 1;
        int r = guarded(error, [&] {
            m_writer = std::make_unique<pst_writer>(temporary_path, std::move(options));
        });
        if (r != 1) {
            error.fatal = true;
        }
        return r;
    }

    int begin_folder(const sink_folder &folder, sink_error &error) override
    {
        property_bag props;
        if (folder.folder) {
            std::vector<source_entry> entries;
            std::vector<source_problem> problems;
            read_item_record_set(folder.folder, 0, pst_sink_skips_folder_property, entries,
                                 problems);
            for (const source_problem &p : problems) {
                m_problems.push_back(p.text);
            }
            entries_to_bag(entries, entries_code_page(entries, default_code_page), m_decoder,
                           props);
        }
        // The walk's names and class win: they are what it read for this folder.
        if (!folder.path.empty() && (!folder.path.back().empty() || !folder.folder)) {
            props.set_unicode(tag_display_name, folder.path.back());
        }
        if (!folder.container_class.empty()) {
            props.set_unicode(tag_container_class, folder.container_class);
        }
        return guarded(error, [&] {
            std::uint32_t parent = m_open.empty() ? pst_writer::root_folder() : m_open.back();
            std::uint32_t nid = m_writer->add_folder(parent, props);
            mark_special(folder.path, nid);
            m_open.push_back(nid);
        });
    }

    int end_folder(sink_error &error) override
    {
        if (m_open.empty()) {
            error = {"no folder is open", false};
            return -1;
        }
        if (m_open.size() == 1) {
            m_ipm_path_open = false;
        }
        m_open.pop_back();
        return 1;
    }

    int add_message(libpff_item_t *item, bool associated, sink_error &error) override
    {
        if (m_open.empty()) {
            error = {"no folder is open", false};
            return -1;
        }
        message m;
        message_reader reader(m_decoder, m_problems, m_stop);
        std::string why;
        if (reader.read(item, default_code_page, "", 0, m, why) != 1) {
            error = {why, false};
            return -1;
        }
        return write(m, associated, error);
    }

    void set_threads(unsigned threads) override { m_threads = threads; }

private:
    int write(const message &m, bool associated, sink_error &error)
    {
        if (m_open.empty()) {
            error = {"no folder is open", false};
            return -1;
        }
        return guarded(error, [&] {
            if (associated) {
                m_writer->add_associated_message(m_open.back(), m);
            } else {
                m_writer->add_message(m_open.back(), m);
            }
        });
    }

    bool prepares_messages() const override { return true; }

    std::unique_ptr<prepared_message> prepare_message(libpff_item_t *item, bool) override
    {
        auto out = std::make_unique<pst_prepared>();
        // One decoder per reading thread: its iconv handles are its own.
        thread_local code_page_decoder decoder;
        out->reader = std::make_unique<message_reader>(decoder, out->problems, m_stop);
        std::string why;
        if (out->reader->read(item, default_code_page, "", 0, out->m, why) != 1) {
            out->result = -1;
            out->error = {why, false};
            out->reader.reset();
            return out;
        }
        std::uint64_t data_size = 0;
        for_each_data(out->m, [&](attachment &a) { data_size += a.data.size; });
        if (data_size > read_whole_limit) {
            out->borrows_source = true;
            out->bytes = read_whole_limit;
            return out;
        }
        try {
            for_each_data(out->m, [&](attachment &a) {
                std::vector<std::uint8_t> bytes(static_cast<std::size_t>(a.data.size));
                a.data.read(0, bytes);
                a.data = data_source::from_bytes(std::move(bytes));
            });
        } catch (const std::exception &e) {
            out->result = -1; // a Stop
            out->error = {e.what(), false};
        }
        out->reader.reset();
        out->bytes = static_cast<std::size_t>(data_size) + 4096;
        return out;
    }

    int write_prepared(prepared_message &prepared, bool associated, sink_error &error) override
    {
        auto &p = static_cast<pst_prepared &>(prepared);
        int r = p.result;
        if (r == 1) {
            r = write(p.m, associated, error);
        } else {
            error = p.error;
        }
        // After the write: a streamed attachment adds its problems while written.
        m_problems.insert(m_problems.end(), p.problems.begin(), p.problems.end());
        p.problems.clear();
        return r;
    }

    void set_stop_flag(const std::atomic<bool> *stop) override { m_stop = stop; }

public:
    std::vector<std::string> take_problems() override
    {
        std::vector<std::string> out;
        out.swap(m_problems);
        return out;
    }

    int close(sink_error &error) override
    {
        if (!m_writer) {
            error = {"the output is not open", true};
            return -1;
        }
        int r = guarded(error, [&] { m_writer->finish(); });
        if (r != 1) {
            error.fatal = true;
        }
        m_writer.reset();
        return r;
    }

    void abandon() override
    {
        m_writer.reset();
        if (!m_path.empty()) {
            ::unlink(m_path.c_str());
        }
    }

private:
    template <typename F> int guarded(sink_error &error, F &&write)
    {
        try {
            write();
            return 1;
        } catch (const output_error &e) {
            error = {std::strerror(e.error_number()), true};
        } catch (const std::bad_alloc &) {
            error = {"out of memory", false};
        } catch (const std::exception &e) {
            error = {e.what(), false};
        }
        return -1;
    }

    // The source's "Top of Personal Folders", its "Deleted Items" and
    // "Search Root" become the new store's.
    void mark_special(const std::vector<std::string> &path, std::uint32_t nid)
    {
        if (path.size() == 1 && path[0] == "Top of Personal Folders") {
            m_writer->set_special_folder(pst_writer::special_folder::ipm_subtree, nid);
            m_ipm_path_open = true;
        } else if (path.size() == 1 && path[0] == "Search Root") {
            m_writer->set_special_folder(pst_writer::special_folder::search_root, nid);
        } else if (path.size() == 2 && m_ipm_path_open && path[1] == "Deleted Items") {
            m_writer->set_special_folder(pst_writer::special_folder::deleted_items, nid);
        }
    }

    std::unique_ptr<pst_writer> m_writer;
    std::string m_path;
    std::vector<std::uint32_t> m_open;
    std::vector<std::string> m_problems;
    code_page_decoder m_decoder;
    const std::atomic<bool> *m_stop = nullptr;
    unsigned m_threads = 1;
    bool m_ipm_path_open = false;
};

} // namespace

std::unique_ptr<mailbox_sink> make_pst_sink()
{
    return std::make_unique<pst_sink>();
}

} // namespace korvel::convert
