#include "convert/mail/mail_sink.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "convert/pim/icalendar.h"
#include "convert/mail/mime_message.h"
#include "convert/mail/mime_streams.h"
#include "convert/pim/pim_values.h"
#include "convert/pim/vcard.h"
#include "scan/names.h"
#include "scan/pff_values.h"

namespace korvel::convert {

namespace {

// Longest name made from a folder name or a subject, in bytes.
constexpr std::size_t folder_name_limit = 120;
constexpr std::size_t file_name_limit = 100;
// How often a message is written again without an attachment that failed.
constexpr int max_attachment_retries = 8;
// The two trees of the output directory: the mail alone, which a mail client
// takes whole as its local folders (every plain file there becomes a folder),
// and the contacts and calendars beside it, for address books and calendars.
constexpr const char *mail_directory = "Mail";
constexpr const char *pim_directory = "Contacts and Calendars";
// Folders below this one are the user's own; empty ones among them are made
// too. Elsewhere (the store's system folders) only folders with something in
// them are.
constexpr const char *ipm_subtree_name = "Top of Personal Folders";
// PidTagFolderType's value for a search folder.
constexpr std::uint32_t folder_type_search = 2;
// The node type of a search folder's identifier (MS-PST NID_TYPE_SEARCH_FOLDER).
constexpr std::uint32_t nid_type_search_folder = 0x03;

// Suffixes that the files beside a folder use; a folder name ending in one
// gets "_" so that it cannot take a sibling's file.
constexpr const char *reserved_suffixes[] = {".sbd", ".msf", ".eml", ".vcf", ".ics"};

std::string lower_ascii(std::string text)
{
    for (char &c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

bool ends_with(const std::string &text, const char *suffix)
{
    std::size_t n = std::strlen(suffix);
    return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

std::string errno_text(int code)
{
    return std::strerror(code);
}

void close_fd(int &fd)
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
}

// A search folder holds the results of a query over other folders, nothing of
// its own.
bool is_search_folder(libpff_item_t *folder)
{
    if (folder == nullptr) {
        return false;
    }
    std::uint32_t type = 0;
    if (read_int32(folder, tag_folder_type, &type) == 1 && type == folder_type_search) {
        return true;
    }
    std::uint32_t identifier = 0;
    libpff_error_t *error = nullptr;
    if (libpff_item_get_identifier(folder, &identifier, &error) != 1) {
        libpff_error_free(&error);
        return false;
    }
    return (identifier & 0x1F) == nid_type_search_folder;
}

class mail_sink final : public mailbox_sink
{
public:
    explicit mail_sink(output_format format) : m_mbox(format == output_format::mbox) {}
    ~mail_sink() override { close_all(); }

    int open(const std::string &temporary_path, sink_error &error) override
    {
        mime_initialize();
        if (::mkdir(temporary_path.c_str(), 0755) != 0) {
            return fail(error, "Cannot create " + temporary_path + ": " + errno_text(errno));
        }
        m_path = temporary_path;
        m_top_fd = ::open(temporary_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_top_fd < 0) {
            return fail(error, "Cannot open " + temporary_path + ": " + errno_text(errno));
        }
        m_root_fd = make_directory(m_top_fd, mail_directory, error);
        return m_root_fd < 0 ? -1 : 1;
    }

    // The folder's file (mbox) or directory (EML) is made when the first
    // message goes into it or below it; at once for the user's own folders.
    int begin_folder(const sink_folder &folder, sink_error &error) override
    {
        if (m_root_fd < 0) {
            return fail(error, "The output is not open");
        }
        std::set<std::string> &siblings = m_levels.empty() ? m_root_names : m_levels.back().names;
        level l;
        l.original = folder.path.empty() ? std::string() : folder.path.back();
        l.name = unique_name(l.original, siblings);
        l.left_out =
            (!m_levels.empty() && m_levels.back().left_out) || is_search_folder(folder.folder);
        const bool users_own = !folder.path.empty() && folder.path.front() == ipm_subtree_name;
        m_levels.push_back(std::move(l));
        if (users_own && !m_levels.back().left_out) {
            return make_level(m_levels.size() - 1, error);
        }
        return 1;
    }

    int end_folder(sink_error &error) override
    {
        if (m_levels.empty()) {
            return fail(error, "No folder is open");
        }
        level &l = m_levels.back();
        int result = 1;
        if (l.writer && !l.writer->flush()) {
            result = fail(error, "Cannot write the mailbox file \"" + l.name +
                                     "\": " + errno_text(l.writer->error()));
        }
        if (l.vcf && !l.vcf->flush()) {
            result =
                fail(error, "Cannot write \"" + l.name + ".vcf\": " + errno_text(l.vcf->error()));
        }
        if (l.ics) {
            std::string end = ical_calendar_end();
            if (!l.ics->write(end.data(), end.size()) || !l.ics->flush()) {
                result = fail(error,
                              "Cannot write \"" + l.name + ".ics\": " + errno_text(l.ics->error()));
            }
        }
        l.close();
        m_levels.pop_back();
        return result;
    }

    int add_message(libpff_item_t *message, bool associated, sink_error &error) override
    {
        if (m_levels.empty()) {
            return fail(error, "No folder is open");
        }
        m_problems.clear();
        if (associated || m_levels.back().left_out) {
            // Folder settings and views, a search's results: nothing a mail
            // program reads.
            return 0;
        }
        std::string message_class = read_message_class(message);
        // An item without a class (a recovered one, say) is taken as the
        // mail it most likely is: MAPI's default class is IPM.Note.
        switch (message_class.empty() ? item_family::mail : classify_message_class(message_class)) {
        case item_family::mail:
            break;
        case item_family::contact:
        case item_family::distribution_list:
            return add_contact(message, error);
        case item_family::appointment:
        case item_family::task:
            return add_calendar_item(message, error);
        case item_family::other:
            return 0;
        }
        return m_mbox ? add_mbox(message, error) : add_eml(message, error);
    }

    void set_stop_flag(const std::atomic<bool> *stop) override { m_stop = stop; }

    std::vector<std::string> take_problems() override
    {
        std::vector<std::string> out;
        out.swap(m_problems);
        return out;
    }

    int close(sink_error &error) override
    {
        int result = 1;
        while (!m_levels.empty()) {
            if (end_folder(error) != 1) {
                result = -1;
            }
        }
        close_all();
        return result;
    }

    void abandon() override
    {
        close_all();
        if (!m_path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_path, ignored);
            m_path.clear();
        }
    }

private:
    struct level
    {
        std::string original;
        std::string name;
        // A search folder or one below it: nothing of it is written.
        bool left_out = false;
        // The folder's file or directory exists.
        bool made = false;
        // Its directory in the contacts-and-calendars tree, once one is made.
        int pim_children_fd = -1;
        // mbox: the folder's file and the directory holding it; the ".sbd"
        // directory for sub-folders once one exists. EML: the folder's directory.
        int file_fd = -1;
        int parent_fd = -1; // not owned
        int children_fd = -1;
        int dir_fd = -1;
        std::unique_ptr<fd_writer> writer;
        // "<name>.vcf" and "<name>.ics" beside the folder, made on first use.
        int vcf_fd = -1;
        int ics_fd = -1;
        std::unique_ptr<fd_writer> vcf;
        std::unique_ptr<fd_writer> ics;
        // The time zones the .ics has defined so far.
        ical_stream calendar;
        // Names taken among the sub-folders (lower case).
        std::set<std::string> names;

        void close()
        {
            writer.reset();
            vcf.reset();
            ics.reset();
            close_fd(vcf_fd);
            close_fd(ics_fd);
            close_fd(file_fd);
            close_fd(children_fd);
            close_fd(dir_fd);
            close_fd(pim_children_fd);
        }
    };

    static int fail(sink_error &error, std::string message, bool fatal = true)
    {
        error.message = std::move(message);
        error.fatal = fatal;
        return -1;
    }

    void close_all()
    {
        for (level &l : m_levels) {
            l.close();
        }
        m_levels.clear();
        close_fd(m_root_fd);
        close_fd(m_pim_fd);
        close_fd(m_top_fd);
    }

    // Makes (or opens) directory name in parent; its descriptor, or -1 (error
    // filled).
    static int make_directory(int parent, const std::string &name, sink_error &error)
    {
        if (::mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST) {
            fail(error, "Cannot create the folder \"" + name + "\": " + errno_text(errno));
            return -1;
        }
        int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            fail(error, "Cannot open the folder \"" + name + "\": " + errno_text(errno));
        }
        return fd;
    }

    // Makes level i's mbox file or EML directory, its parents' first.
    int make_level(std::size_t i, sink_error &error)
    {
        if (m_levels[i].made) {
            return 1;
        }
        if (i > 0 && make_level(i - 1, error) != 1) {
            return -1;
        }
        int container = container_fd(i, error);
        if (container < 0) {
            return -1;
        }
        level &l = m_levels[i];
        l.parent_fd = container;
        if (m_mbox) {
            // The folder's mbox file; its sub-folders go into "<name>.sbd".
            l.file_fd =
                ::openat(container, l.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (l.file_fd < 0) {
                return fail(error, "Cannot create the mailbox file for \"" + l.original +
                                       "\": " + errno_text(errno));
            }
            l.writer = std::make_unique<fd_writer>(l.file_fd, true);
        } else {
            if (::mkdirat(container, l.name.c_str(), 0755) != 0) {
                return fail(error, "Cannot create the folder \"" + l.original +
                                       "\": " + errno_text(errno));
            }
            l.dir_fd = ::openat(container, l.name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (l.dir_fd < 0) {
                return fail(error, "Cannot open the folder \"" + l.original +
                                       "\": " + errno_text(errno));
            }
        }
        l.made = true;
        return 1;
    }

    // The directory of the contacts-and-calendars tree that holds level i's
    // .vcf and .ics: the same folder names as the mail tree, as plain
    // directories. -1 (error filled) on failure.
    int pim_directory_fd(std::size_t i, sink_error &error)
    {
        if (i == 0) {
            if (m_pim_fd < 0) {
                m_pim_fd = make_directory(m_top_fd, pim_directory, error);
            }
            return m_pim_fd;
        }
        level &parent = m_levels[i - 1];
        if (parent.pim_children_fd < 0) {
            int above = pim_directory_fd(i - 1, error);
            if (above < 0) {
                return -1;
            }
            parent.pim_children_fd = make_directory(above, parent.name, error);
        }
        return parent.pim_children_fd;
    }

    // The directory level i's file or directory goes into; -1 (error filled)
    // on failure.
    int container_fd(std::size_t i, sink_error &error)
    {
        if (i == 0) {
            return m_root_fd;
        }
        level &parent = m_levels[i - 1];
        if (!m_mbox) {
            return parent.dir_fd;
        }
        if (parent.children_fd < 0) {
            std::string sbd = parent.name + ".sbd";
            if (::mkdirat(parent.parent_fd, sbd.c_str(), 0755) != 0 && errno != EEXIST) {
                fail(error,
                     "Cannot create the folder directory \"" + sbd + "\": " + errno_text(errno));
                return -1;
            }
            parent.children_fd =
                ::openat(parent.parent_fd, sbd.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (parent.children_fd < 0) {
                fail(error,
                     "Cannot open the folder directory \"" + sbd + "\": " + errno_text(errno));
                return -1;
            }
        }
        return parent.children_fd;
    }

    static std::string unique_name(const std::string &original, std::set<std::string> &taken)
    {
        std::string base = safe_file_name(original, folder_name_limit, "Folder");
        for (const char *suffix : reserved_suffixes) {
            if (ends_with(lower_ascii(base), suffix)) {
                base += '_';
                break;
            }
        }
        std::string name = base;
        for (int n = 2; taken.count(lower_ascii(name)) != 0; ++n) {
            name = base + " (" + std::to_string(n) + ")";
        }
        taken.insert(lower_ascii(name));
        return name;
    }

    static std::string from_line(const mime_message &m)
    {
        std::time_t t = static_cast<std::time_t>(m.envelope_time());
        std::tm tm{};
        char date[64] = "Thu Jan  1 00:00:00 1970";
        if (gmtime_r(&t, &tm) != nullptr) {
            std::strftime(date, sizeof date, "%a %b %e %H:%M:%S %Y", &tm);
        }
        return "From " + m.envelope_sender() + " " + date + "\n";
    }

    // Writes the message through the writer, leaving out attachments whose
    // data cannot be read. 1 written, -1 failed (error filled).
    int write_message(libpff_item_t *message, fd_writer &writer, bool separator, sink_error &error)
    {
        std::set<int> left_out;
        std::vector<std::string> problems;
        std::uint64_t start = writer.offset();
        for (int attempt = 0; attempt <= max_attachment_retries; ++attempt) {
            mime_message m;
            m.set_stop_flag(m_stop);
            problems.clear();
            if (m.build(message, problems, left_out) != 1) {
                return fail(error, "The message could not be read", false);
            }
            bool ok = true;
            if (separator) {
                std::string line = from_line(m);
                ok = writer.write_raw(line.data(), line.size());
            }
            if (ok) {
                GMimeStream *stream = writer_stream_new(&writer);
                ok = m.write(stream) == 1;
                g_object_unref(stream);
            }
            if (ok) {
                ok = writer.end_message() && (!separator || writer.write_raw("\n", 1));
            }
            if (ok) {
                if (!left_out.empty()) {
                    problems.push_back(std::to_string(left_out.size()) +
                                       " attachment(s) could not be read");
                }
                m_problems.insert(m_problems.end(), problems.begin(), problems.end());
                return 1;
            }
            if (writer.error() != 0) {
                return fail(error, "Cannot write the output: " + errno_text(writer.error()));
            }
            int failed = m.failed_attachment();
            writer.truncate_to(start);
            if (m_stop != nullptr && m_stop->load()) {
                return fail(error, "Stopped", false);
            }
            if (writer.error() != 0) {
                return fail(error, "Cannot write the output: " + errno_text(writer.error()));
            }
            if (failed < 0) {
                return fail(error, "The message could not be converted", false);
            }
            left_out.insert(failed);
        }
        return fail(error, "Too many attachments of the message could not be read", false);
    }

    // Opens "<folder name><suffix>" for the folder opened last in the
    // contacts-and-calendars tree; -1 (error filled) on failure.
    int open_beside(level &l, const char *suffix, int &fd, std::unique_ptr<fd_writer> &writer,
                    sink_error &error)
    {
        std::string name = l.name + suffix;
        int directory = pim_directory_fd(m_levels.size() - 1, error);
        if (directory < 0) {
            return -1;
        }
        fd = ::openat(directory, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) {
            return fail(error, "Cannot create \"" + name + "\": " + errno_text(errno));
        }
        writer = std::make_unique<fd_writer>(fd, false);
        return 1;
    }

    // Appends text to a file beside the folder; a failed write is fatal.
    static int append(fd_writer &writer, const std::string &text, const std::string &name,
                      sink_error &error)
    {
        if (!writer.write(text.data(), text.size())) {
            return fail(error, "Cannot write \"" + name + "\": " + errno_text(writer.error()));
        }
        return 1;
    }

    int add_contact(libpff_item_t *message, sink_error &error)
    {
        level &l = m_levels.back();
        std::string card;
        std::string why;
        int r = contact_to_vcard(message, card, why);
        if (r != 1) {
            return r == 0 ? 0
                          : fail(error, why.empty() ? "The contact could not be read" : why, false);
        }
        if (!l.vcf && open_beside(l, ".vcf", l.vcf_fd, l.vcf, error) != 1) {
            return -1;
        }
        return append(*l.vcf, card, l.name + ".vcf", error);
    }

    int add_calendar_item(libpff_item_t *message, sink_error &error)
    {
        level &l = m_levels.back();
        std::string component;
        std::vector<std::string> notes;
        std::string why;
        int r = calendar_item_to_ical(message, l.calendar, component, notes, why);
        if (r != 1) {
            return r == 0 ? 0
                          : fail(error, why.empty() ? "The item could not be read" : why, false);
        }
        if (!l.ics) {
            if (open_beside(l, ".ics", l.ics_fd, l.ics, error) != 1 ||
                append(*l.ics, ical_calendar_begin(), l.name + ".ics", error) != 1) {
                return -1;
            }
        }
        m_problems.insert(m_problems.end(), notes.begin(), notes.end());
        return append(*l.ics, component, l.name + ".ics", error);
    }

    int add_mbox(libpff_item_t *message, sink_error &error)
    {
        if (make_level(m_levels.size() - 1, error) != 1) {
            return -1;
        }
        level &l = m_levels.back();
        return write_message(message, *l.writer, true, error);
    }

    int add_eml(libpff_item_t *message, sink_error &error)
    {
        if (make_level(m_levels.size() - 1, error) != 1) {
            return -1;
        }
        level &l = m_levels.back();
        std::string subject = message_subject(message);
        std::string base = safe_file_name(subject, file_name_limit, "message");
        std::string name;
        int fd = -1;
        for (int n = 1; n < 100000 && fd < 0; ++n) {
            name = n == 1 ? base + ".eml" : base + " (" + std::to_string(n) + ").eml";
            fd = ::openat(l.dir_fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0 && errno != EEXIST) {
                return fail(error, "Cannot create \"" + name + "\": " + errno_text(errno));
            }
        }
        if (fd < 0) {
            return fail(error, "No free file name for \"" + base + "\"", false);
        }
        int result = 1;
        {
            fd_writer writer(fd, false);
            result = write_message(message, writer, false, error);
            if (result == 1 && !writer.flush()) {
                result =
                    fail(error, "Cannot write \"" + name + "\": " + errno_text(writer.error()));
            }
        }
        if (::close(fd) != 0 && result == 1) {
            result = fail(error, "Cannot write \"" + name + "\": " + errno_text(errno));
        }
        if (result != 1) {
            ::unlinkat(l.dir_fd, name.c_str(), 0);
        }
        return result;
    }

    static std::string message_subject(libpff_item_t *message)
    {
        return pim_read_subject(message);
    }

    bool m_mbox;
    std::string m_path;
    // The output directory, its mail tree and its contacts-and-calendars tree.
    int m_top_fd = -1;
    int m_root_fd = -1;
    int m_pim_fd = -1;
    std::set<std::string> m_root_names;
    std::vector<level> m_levels;
    // Parts of the message written last that were lost.
    std::vector<std::string> m_problems;
    const std::atomic<bool> *m_stop = nullptr;
};

} // namespace

std::unique_ptr<mailbox_sink> make_mbox_sink()
{
    return std::make_unique<mail_sink>(output_format::mbox);
}

std::unique_ptr<mailbox_sink> make_eml_sink()
{
    return std::make_unique<mail_sink>(output_format::eml);
}

} // namespace korvel::convert
