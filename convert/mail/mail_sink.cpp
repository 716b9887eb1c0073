#include "convert/mail/mail_sink.h"

#include <cerrno>
#include <cstring>
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

// Longest name made from a folder name, in bytes.
constexpr std::size_t folder_name_limit = 120;
// How often a message is written again without an attachment that failed.
constexpr int max_attachment_retries = 8;
// A message whose bodies and attachments take more is not made in memory by
// a reading thread but streamed from its file (as the PST sink does).
constexpr std::uint64_t read_whole_limit = 1u << 20;
// What a prepared item holds besides its bytes, for the readers' bound.
constexpr std::size_t prepared_overhead = 1024;
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

std::string unique_name(const std::string &original, std::set<std::string> &taken)
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

// Makes (or opens) directory name in parent; its descriptor, or -1 (error
// filled).
int make_directory(int parent, const std::string &name, sink_error &error)
{
    if (::mkdirat(parent, name.c_str(), 0755) != 0 && errno != EEXIST) {
        error = {"Cannot create the folder \"" + name + "\": " + errno_text(errno), true};
        return -1;
    }
    int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = {"Cannot open the folder \"" + name + "\": " + errno_text(errno), true};
    }
    return fd;
}

// Appends text to a file beside the folder; a failed write is fatal.
int append(fd_writer &writer, const std::string &text, const std::string &name, sink_error &error)
{
    if (!writer.write(text.data(), text.size())) {
        error = {"Cannot write \"" + name + "\": " + errno_text(writer.error()), true};
        return -1;
    }
    return 1;
}

} // namespace

void mail_sink::level::close()
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

mail_sink::~mail_sink()
{
    close_all();
}

int mail_sink::fail(sink_error &error, std::string message, bool fatal)
{
    error.message = std::move(message);
    error.fatal = fatal;
    return -1;
}

int mail_sink::open(const std::string &temporary_path, sink_error &error)
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

int mail_sink::begin_folder(const sink_folder &folder, sink_error &error)
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

int mail_sink::end_folder(sink_error &error)
{
    if (m_levels.empty()) {
        return fail(error, "No folder is open");
    }
    level &l = m_levels.back();
    int result = finish_folder(l, error);
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

int mail_sink::add_message(libpff_item_t *message, bool associated, sink_error &error)
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
    // On the save's own thread a message goes straight to the output.
    std::unique_ptr<prepared_item> item = read_item(message, false);
    return write_item(*item, error);
}

std::unique_ptr<prepared_message> mail_sink::prepare_message(libpff_item_t *message,
                                                             bool associated)
{
    if (associated) {
        auto out = std::make_unique<prepared_item>();
        out->result = 0;
        return out;
    }
    return read_item(message, true);
}

int mail_sink::write_prepared(prepared_message &message, bool associated, sink_error &error)
{
    if (m_levels.empty()) {
        return fail(error, "No folder is open");
    }
    m_problems.clear();
    if (associated || m_levels.back().left_out) {
        return 0;
    }
    return write_item(static_cast<prepared_item &>(message), error);
}

std::unique_ptr<mail_sink::prepared_item> mail_sink::read_item(libpff_item_t *message,
                                                               bool whole) const
{
    auto out = std::make_unique<prepared_item>();
    out->item = message;
    std::string message_class = read_message_class(message);
    // An item without a class (a recovered one, say) is taken as the
    // mail it most likely is: MAPI's default class is IPM.Note.
    switch (message_class.empty() ? item_family::mail : classify_message_class(message_class)) {
    case item_family::mail:
        break;
    case item_family::contact:
    case item_family::distribution_list: {
        out->what = prepared_item::kind::contact;
        std::string card;
        std::string why;
        out->result = contact_to_vcard(message, card, why);
        if (out->result == -1) {
            out->error = {why.empty() ? "The contact could not be read" : why, false};
        }
        out->output.assign(card.begin(), card.end());
        out->bytes = out->output.size() + prepared_overhead;
        return out;
    }
    case item_family::appointment:
    case item_family::task:
        out->what = prepared_item::kind::calendar;
        out->borrows_source = whole;
        out->bytes = prepared_overhead;
        return out;
    case item_family::other:
        out->result = 0;
        return out;
    }
    out->file_base = mail_file_base(message);
    if (build_mail(message, out->build) != 1) {
        out->result = -1;
        out->error = {"The message could not be read", false};
        return out;
    }
    if (!whole || out->build.message->content_bytes() > read_whole_limit) {
        // Written from the source when its turn comes.
        out->borrows_source = whole;
        out->bytes = read_whole_limit;
        return out;
    }
    fd_writer memory(quotes_from_lines());
    out->result = write_message(message, out->build, memory, out->problems, out->error);
    out->build = {};
    out->output = memory.take();
    out->bytes = out->output.size() + prepared_overhead;
    return out;
}

int mail_sink::build_mail(libpff_item_t *message, mail_build &build) const
{
    build.message = std::make_unique<mime_message>();
    build.message->set_stop_flag(m_stop);
    build.problems.clear();
    if (build.message->build(message, build.problems, build.left_out) != 1) {
        build.message.reset();
        return -1;
    }
    return 1;
}

int mail_sink::write_item(prepared_item &item, sink_error &error)
{
    if (item.result != 1) {
        error = item.error;
        return item.result;
    }
    m_problems.insert(m_problems.end(), item.problems.begin(), item.problems.end());
    switch (item.what) {
    case prepared_item::kind::contact:
        return add_contact(item.output, error);
    case prepared_item::kind::calendar:
        return add_calendar_item(item.item, error);
    case prepared_item::kind::mail:
        break;
    }
    if (make_level(m_levels.size() - 1, error) != 1) {
        return -1;
    }
    return add_mail(item, m_levels.back(), error);
}

std::vector<std::string> mail_sink::take_problems()
{
    std::vector<std::string> out;
    out.swap(m_problems);
    return out;
}

int mail_sink::close(sink_error &error)
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

void mail_sink::abandon()
{
    close_all();
    if (!m_path.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
        m_path.clear();
    }
}

void mail_sink::close_all()
{
    for (level &l : m_levels) {
        l.close();
    }
    m_levels.clear();
    close_fd(m_root_fd);
    close_fd(m_pim_fd);
    close_fd(m_top_fd);
}

// Makes level i's file or directory, its parents' first.
int mail_sink::make_level(std::size_t i, sink_error &error)
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
    if (make_folder(l, container, error) != 1) {
        return -1;
    }
    l.made = true;
    return 1;
}

// The directory of the contacts-and-calendars tree that holds level i's
// .vcf and .ics: the same folder names as the mail tree, as plain
// directories. -1 (error filled) on failure.
int mail_sink::pim_directory_fd(std::size_t i, sink_error &error)
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
int mail_sink::container_fd(std::size_t i, sink_error &error)
{
    if (i == 0) {
        return m_root_fd;
    }
    level &parent = m_levels[i - 1];
    return children_directory(parent, error);
}

int mail_sink::write_message(libpff_item_t *message, mail_build &build, fd_writer &writer,
                             std::vector<std::string> &problems, sink_error &error) const
{
    std::uint64_t start = writer.offset();
    for (int attempt = 0; attempt <= max_attachment_retries; ++attempt) {
        if (!build.message && build_mail(message, build) != 1) {
            return fail(error, "The message could not be read", false);
        }
        mime_message &m = *build.message;
        bool ok = write_before(m, writer) && m.write(writer) == 1;
        if (ok) {
            ok = writer.end_message() && write_after(writer);
        }
        if (ok) {
            problems.insert(problems.end(), build.problems.begin(), build.problems.end());
            if (!build.left_out.empty()) {
                problems.push_back(std::to_string(build.left_out.size()) +
                                   " attachment(s) could not be read");
            }
            return 1;
        }
        if (writer.error() != 0) {
            return fail(error, "Cannot write the output: " + errno_text(writer.error()));
        }
        int failed = m.failed_attachment();
        build.message.reset();
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
        build.left_out.insert(failed);
    }
    return fail(error, "Too many attachments of the message could not be read", false);
}

int mail_sink::put_mail(prepared_item &mail, fd_writer &writer, sink_error &error)
{
    if (mail.build.message) {
        return write_message(mail.item, mail.build, writer, m_problems, error);
    }
    if (!writer.write_raw(mail.output.data(), mail.output.size())) {
        return fail(error, "Cannot write the output: " + errno_text(writer.error()));
    }
    return 1;
}

// Opens "<folder name><suffix>" for the folder opened last in the
// contacts-and-calendars tree; -1 (error filled) on failure.
int mail_sink::open_beside(level &l, const char *suffix, int &fd,
                           std::unique_ptr<fd_writer> &writer, sink_error &error)
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

int mail_sink::add_contact(const std::vector<char> &card, sink_error &error)
{
    level &l = m_levels.back();
    if (!l.vcf && open_beside(l, ".vcf", l.vcf_fd, l.vcf, error) != 1) {
        return -1;
    }
    if (!l.vcf->write(card.data(), card.size())) {
        return fail(error, "Cannot write \"" + l.name + ".vcf\": " + errno_text(l.vcf->error()));
    }
    return 1;
}

int mail_sink::add_calendar_item(libpff_item_t *message, sink_error &error)
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

int mail_sink::finish_folder(level &, sink_error &)
{
    return 1;
}

std::string mail_sink::mail_file_base(libpff_item_t *) const
{
    return {};
}

bool mail_sink::write_before(const mime_message &, fd_writer &) const
{
    return true;
}

bool mail_sink::write_after(fd_writer &) const
{
    return true;
}

} // namespace korvel::convert
