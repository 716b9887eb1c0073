#include "preview/preview_builder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "preview/rtf_reader.h"
#include "scan/files.h"
#include "scan/item_export.h"
#include "scan/item_kinds.h"
#include "scan/item_record.h"
#include "scan/scan_state.h"
#include "scan/target_path.h"
#include "scan/text.h"

namespace korvel {
namespace {

// The names of the preview files in the working directory.
constexpr char header_page_name[] = "header.html";
constexpr char frameset_page_name[] = "temp.html";
constexpr char rtf_copy_name[] = "body.rtf";

// The two frameset prefixes (the two blanks before "scrolling" belong to
// them) and their common suffix; the body file's full path goes between.
constexpr std::u16string_view frameset_rows_prefix =
    u"<html><head></head><frameset rows='28%,*' border='0'><frame src='header.html'  "
    u"scrolling='auto' frameborder='1'><frame src='";
constexpr std::u16string_view frameset_cols_prefix =
    u"<html><head></head><frameset cols='50%,*' border='0'><frame src='header.html'  "
    u"scrolling='auto' frameborder='1'><frame src='";
constexpr std::u16string_view frameset_suffix = u"'></frameset></html>";

// The e-mail page's fixed texts, in page order.
constexpr std::u16string_view email_prologue =
    u"<html><style type='text/css'>body {margin-left: 10px;margin-top: 0px;margin-right: "
    u"0px;margin-bottom: 0px; }body,td,th {font-family: Verdana, Arial, Helvetica, "
    u"sans-serif;\tfont-size: 10px;color: #333333;}</style><body marginheight='0' "
    u"marginwidth='0' bgcolor='#e2effc'><table width='100%' border='0' cellspacing='1' "
    u"cellpadding='1'><tr><td width='47%' height='16' style='font-family:Verdana, Arial, "
    u"Helvetica, sans-serif; font-size:10px; font-weight:bold;'>";
constexpr std::u16string_view email_after_from =
    u"</td></tr><tr><td height='16' style='font-family:Verdana, Arial, Helvetica, "
    u"sans-serif; font-size:10px; font-weight:bold;'>";
constexpr std::u16string_view email_after_subject =
    u"</td></tr><tr><td height='16' style='font-family:Verdana, Arial, Helvetica, "
    u"sans-serif; font-size:10px; font-weight:normal;'><span style='font-family:Verdana, "
    u"Arial, Helvetica, sans-serif; font-size:10px; font-weight:bold;'>To: </span><span "
    u"style='color:#BD28B8'>";
constexpr std::u16string_view email_after_to = u"</span>";
constexpr std::u16string_view email_cc_label = u"<br><b> CC:</b> ";
constexpr std::u16string_view email_bcc_label = u"<br><b> BCC:</b> ";
constexpr std::u16string_view email_end_of_recipients = u"</td></tr>";
constexpr std::u16string_view email_attachment_start =
    u"<tr><td height='16' style='font-family:Verdana, Arial, Helvetica, sans-serif; "
    u"font-size:10px; font-weight:normal;'><span style='font-family:Verdana, Arial, "
    u"Helvetica, sans-serif; font-size:10px; font-weight:bold;'>Attachment:</span>";
constexpr std::u16string_view email_attachment_end = u"</td> </tr>";
constexpr std::u16string_view email_epilogue = u"</table></body></html>";

constexpr std::u16string_view line_end = u"<br>";

// One line of the contact page: its label and the contact holder it shows
// (the occurrence-th holder read from tag: two properties are read twice).
struct contact_line
{
    const char16_t *label;
    std::uint32_t tag;
    int occurrence;
};

constexpr std::array<contact_line, 66> contact_lines = {{
    {u"<b>First Name :</b> ", 0x3A06, 0},
    {u"<b>Middle Name :</b> ", 0x3A44, 0},
    {u"<b>Last Name :</b> ", 0x3A11, 0},
    {u"<b>Full Name:</b> ", 0x8005, 0},
    {u"<b>Assistant Name :</b> ", 0x3A30, 0},
    {u"<b>Assistant Phone :</b> ", 0x3A2E, 0},
    {u"<b>Birth Day :</b> ", 0x3A42, 0},
    {u"<b>Business Address :</b> ", 0x3A15, 0},
    {u"<b>Business City :</b> ", 0x3A27, 0},
    {u"<b>Business Country :</b> ", 0x3A26, 0},
    {u"<b>Business Fax :</b> ", 0x3A24, 0},
    {u"<b>Business HomePage :</b> ", 0x3A51, 0},
    {u"<b>Business Phone :</b> ", 0x3A08, 0},
    {u"<b>Business Postal Code :</b> ", 0x3A2A, 0},
    {u"<b>Business State :</b> ", 0x3A28, 0},
    {u"<b>Business Street :</b> ", 0x3A29, 0},
    {u"<b>Callback Phone :</b> ", 0x3A02, 0},
    {u"<b>Car Phone :</b> ", 0x3A1E, 0},
    {u"<b>Company Main Phone :</b> ", 0x3A57, 0},
    {u"<b>Company Name :</b> ", 0x3A16, 0},
    {u"<b>Customer Id :</b> ", 0x3A4A, 0},
    {u"<b>Department :</b> ", 0x3A18, 0},
    {u"<b>Display Name Prefix :</b> ", 0x3A13, 0},
    {u"<b>E-mail Address :</b> ", 0x8084, 0},
    {u"<b>E-mail Address2 :</b> ", 0x8094, 0},
    {u"<b>E-mail Address3 :</b> ", 0x80A3, 0},
    {u"<b>E-mail Type :</b> ", 0x8082, 0},
    {u"<b>Gov Id :</b> ", 0x3A07, 0},
    {u"<b>Hobbies :</b> ", 0x3A43, 0},
    {u"<b>Home Address :</b> ", 0x3A5D, 0},
    {u"<b>Home City :</b> ", 0x3A59, 0},
    {u"<b>Home Country :</b> ", 0x3A5A, 0},
    {u"<b>Home Fax :</b> ", 0x3A25, 0},
    {u"<b>Home Phone :</b> ", 0x3A09, 0},
    {u"<b>Home Phone2 :</b> ", 0x3A2F, 0},
    {u"<b>Home State :</b> ", 0x3A5C, 0},
    {u"<b>Home Street :</b> ", 0x3A5D, 1},
    {u"<b>Home Postal Code :</b> ", 0x3A5B, 0},
    {u"<b>isdn phone :</b> ", 0x3A2D, 0},
    {u"<b>Language :</b> ", 0x002F, 0},
    {u"<b>Manager Name :</b> ", 0x3A4E, 0},
    {u"<b>Mileage :</b> ", 0x3A1C, 0},
    {u"<b>Mobile Phone :</b> ", 0x3A1C, 1},
    {u"<b>Nickname:</b> ", 0x3A4F, 0},
    {u"<b>Office Location :</b> ", 0x3A19, 0},
    {u"<b>Other City :</b> ", 0x3A5F, 0},
    {u"<b>Other Country :</b> ", 0x3A60, 0},
    {u"<b>Other State :</b> ", 0x3A62, 0},
    {u"<b>Other Street :</b> ", 0x3A63, 0},
    {u"<b>Personal Homepage:</b> ", 0x3A50, 0},
    {u"<b>Profession :</b> ", 0x3A46, 0},
    {u"<b>Radio Phone :</b> ", 0x3A1D, 0},
    {u"<b>Spouse Name :</b> ", 0x3A48, 0},
    {u"<b>Suffix :</b> ", 0x3A05, 0},
    {u"<b>Surname :</b> ", 0x3A11, 0},
    {u"<b>Telex :</b> ", 0x3A2C, 0},
    {u"<b>ttytdd Phone :</b> ", 0x3A4B, 0},
    {u"<b>Job Title :</b> ", 0x3A17, 0},
    {u"<b>Title :</b> ", 0x3A45, 0},
    {u"<b>FreeBusyAddress :</b> ", 0x80D8, 0},
    {u"<b>Busness Address country/region :</b> ", 0x8049, 0},
    {u"<b>Busness Address City :</b> ", 0x8046, 0},
    {u"<b>Busness Address state/province :</b> ", 0x8047, 0},
    {u"<b>Busness Address Street :</b> ", 0x8045, 0},
    {u"<b>Busness Address Postal :</b> ", 0x8048, 0},
    {u"<b>Busness Address Postal box :</b> ", 0x804A, 0},
}};

// The page a kind text chooses.
enum class page_kind
{
    email,
    contact,
    appointment,
    task,
    body_only,
};

page_kind page_for_kind(const std::u16string &kind)
{
    if (kind == u"email" || kind == u"meeting") {
        return page_kind::email;
    }
    if (kind == u"contact") {
        return page_kind::contact;
    }
    if (kind == u"appointment") {
        return page_kind::appointment;
    }
    if (kind == u"task") {
        return page_kind::task;
    }
    // "activity", "note", "document", "RSSfeed" and anything else.
    return page_kind::body_only;
}

// The row's sequence text as a number: leading blanks, a sign and decimal
// digits, up to the first other character; no digits give 0, a number out
// of range the nearest end of the range.
std::int32_t sequence_number(const std::u16string &text)
{
    std::size_t at = 0;
    while (at < text.size() && (text[at] == u' ' || (text[at] >= u'\t' && text[at] <= u'\r'))) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) {
        negative = text[at] == u'-';
        ++at;
    }
    std::int64_t value = 0;
    for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
        value = value * 10 + (text[at] - u'0');
        if (value > INT32_MAX + std::int64_t{1}) {
            value = INT32_MAX + std::int64_t{1};
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT32_MAX) {
        value = INT32_MAX;
    }
    return static_cast<std::int32_t>(value);
}

void replace_all(std::u16string &text, std::u16string_view from, std::u16string_view to)
{
    if (from.empty()) {
        return;
    }
    std::u16string out;
    out.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t found = text.find(from); found != std::u16string::npos;
         found = text.find(from, start)) {
        out.append(text, start, found - start);
        out.append(to);
        start = found + from.size();
    }
    out.append(text, start, std::u16string::npos);
    text = std::move(out);
}

// The From text as the pages show it: angle brackets become square ones.
std::u16string bracketed_from(std::u16string from)
{
    for (char16_t &c : from) {
        if (c == u'<') {
            c = u'[';
        } else if (c == u'>') {
            c = u']';
        }
    }
    return from;
}

// Page texts are written as their UTF-16 little-endian code units.
std::vector<std::uint8_t> utf16le_bytes(std::u16string_view text)
{
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return bytes;
}

// Writes a preview file: under a temporary name first, renamed over name
// when complete, so the pane never reads half a page and nothing that lies
// at name (a link, an attachment of that name) is written through. Returns
// false when the file could not be made; a failed write still leaves what
// was written, as a short write of the file itself would.
bool write_preview_file(const std::string &directory, std::string_view name,
                        const std::uint8_t *data, std::size_t size)
{
    std::string temporary = directory + "/.korvel-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    write_all(fd, data, size);
    ::close(fd);
    const std::string path = directory + "/" + std::string(name);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool write_preview_page(const std::string &directory, std::string_view name,
                        std::u16string_view text)
{
    const std::vector<std::uint8_t> bytes = utf16le_bytes(text);
    return write_preview_file(directory, name, bytes.data(), bytes.size());
}

// The body bytes as the body files take them: without the last byte (the
// recorded sizes count a terminating zero).
std::size_t body_file_size(const message_values &values)
{
    std::size_t size = values.body_size > 0 ? values.body_size - 1 : 0;
    return size < values.body_bytes.size() ? size : values.body_bytes.size();
}

// Writes the body file by body kind and answers its name.
std::string write_body_file(const std::string &directory, const message_values &values)
{
    const std::uint8_t *bytes = values.body_bytes.data();
    const std::size_t size = body_file_size(values);
    if (values.body_kind == u"html") {
        write_preview_file(directory, "body.html", bytes, size);
        return "body.html";
    }
    if (values.body_kind == u"rtf") {
        // The RTF reader reads the copy back; its text becomes body.txt.
        std::u16string text;
        if (write_preview_file(directory, rtf_copy_name, bytes, size)) {
            const std::string copy = directory + "/" + rtf_copy_name;
            if (std::FILE *stream = std::fopen(copy.c_str(), "r")) {
                // A document the reader stops in keeps the text read so far.
                rtf_parse(stream, text);
                std::fclose(stream);
            }
        }
        write_preview_page(directory, "body.txt", text);
        return "body.txt";
    }
    // "txt" and anything else (also no body kind recorded yet).
    write_preview_file(directory, "body.txt", bytes, size);
    return "body.txt";
}

// The attachment list text as the e-mail page shows it: the bare file names,
// each followed by ";".
std::u16string attachment_names(std::u16string list, const std::u16string &working_directory)
{
    replace_all(list, working_directory, u"");
    replace_all(list, std::u16string_view(&path_separator, 1), u"");
    replace_all(list, u" ;", u";");
    return list;
}

std::u16string email_page(const std::u16string &from, const std::u16string &subject,
                          const message_values &values, const std::u16string &attachments)
{
    std::u16string to = values.to_text;
    replace_all(to, u";", u"; ");
    std::u16string page;
    page.reserve(1024 + from.size() + subject.size() + to.size() + values.cc_text.size() +
                 values.bcc_text.size() + attachments.size());
    page.append(email_prologue);
    page.append(from);
    page.append(email_after_from);
    page.append(subject);
    page.append(email_after_subject);
    page.append(to);
    page.append(email_after_to);
    if (!values.cc_text.empty()) {
        page.append(email_cc_label);
        page.append(values.cc_text);
    }
    if (!values.bcc_text.empty()) {
        page.append(email_bcc_label);
        page.append(values.bcc_text);
    }
    page.append(email_end_of_recipients);
    if (!attachments.empty()) {
        page.append(email_attachment_start);
        page.append(attachments);
        page.append(email_attachment_end);
    }
    page.append(email_epilogue);
    return page;
}

void append_line(std::u16string &page, std::u16string_view label, const std::u16string &value,
                 std::u16string_view end = line_end)
{
    page.append(label);
    page.append(value);
    page.append(end);
}

void append_line(std::u16string &page, std::u16string_view label,
                 const std::optional<std::u16string> &value)
{
    if (value) {
        append_line(page, label, *value);
    }
}

void append_nonempty_line(std::u16string &page, std::u16string_view label,
                          const std::u16string &value, std::u16string_view end = line_end)
{
    if (!value.empty()) {
        append_line(page, label, value, end);
    }
}

// The holder index of the occurrence-th contact value read from tag, or -1.
int contact_holder(std::uint32_t tag, int occurrence)
{
    for (std::size_t i = 0; i < contact_properties.size(); ++i) {
        if (contact_properties[i].tag == tag && occurrence-- == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::u16string contact_page(const contact_values &values)
{
    std::u16string page;
    for (const contact_line &line : contact_lines) {
        const int holder = contact_holder(line.tag, line.occurrence);
        if (holder >= 0) {
            append_line(page, line.label, values.values[static_cast<std::size_t>(holder)]);
        }
    }
    return page;
}

std::u16string appointment_page(const appointment_values &values, const std::u16string &from)
{
    std::u16string page;
    append_line(page, u"<b>Start Date/Time :</b> ", values.start);
    append_line(page, u"<b>End Date/Time :</b> ", values.end);
    append_line(page, u"<b>Reminder Date :</b> ", values.recurrence_pattern);
    append_line(page, u"<b>Location :</b> ", values.location);
    append_nonempty_line(page, u"<b>Subject :</b> ", from);
    append_line(page, u"<b>First Effective Time :</b> ", values.clip_start);
    // This label has no colon.
    append_line(page, u"<b>Last Effective Time </b> ", values.clip_end);
    append_line(page, u"<b>Busy Status :</b> ", values.busy_status);
    append_line(page, u"<b>Duration :</b> ", values.duration);
    return page;
}

std::u16string task_page(const task_values &values, const std::u16string &from)
{
    std::u16string page;
    append_line(page, u"<b>Start Date:</b> ", values.start_date);
    append_line(page, u"<b>Due Date:</b> ", values.due_date);
    append_nonempty_line(page, u"<b>Subject:</b> ", from);
    append_nonempty_line(page, u"<b>Version:</b> ", values.version);
    append_nonempty_line(page, u"<b>Complete:</b> ", values.complete);
    append_nonempty_line(page, u"<b>Total Effort:</b> ", values.total_effort);
    append_nonempty_line(page, u"<b>Actual Effort:</b> ", values.actual_effort);
    append_nonempty_line(page, u"<b>Completed:</b> ", values.percent_complete, u"%<br>");
    append_nonempty_line(page, u"<b>Status:</b> ", values.status);
    return page;
}

// A file path as the path of a URL: every byte of its UTF-8 but the
// unreserved ones and "/" percent-encoded, so that a "#", "?", "%", blank or
// quote in the temporary directory's name stays part of the path.
std::u16string path_as_url(const std::u16string &path)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::u16string url;
    url.reserve(path.size() + 16);
    for (const char c : utf16_to_utf8(path)) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' || byte == '_' ||
            byte == '~' || byte == '/') {
            url.push_back(static_cast<char16_t>(byte));
        } else {
            url.push_back(u'%');
            url.push_back(static_cast<char16_t>(hex[byte >> 4]));
            url.push_back(static_cast<char16_t>(hex[byte & 0x0F]));
        }
    }
    return url;
}

std::u16string frameset_page(std::u16string_view prefix, const std::u16string &body_path)
{
    const std::u16string body_url = path_as_url(body_path);
    std::u16string page;
    page.reserve(prefix.size() + body_url.size() + frameset_suffix.size());
    page.append(prefix);
    page.append(body_url);
    page.append(frameset_suffix);
    return page;
}

// A content id as an HTML body names it: without "cid:" and without the
// angle brackets some senders keep around it.
std::string bare_content_id(std::string id)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!id.empty() && blank(id.back())) {
        id.pop_back();
    }
    std::size_t start = 0;
    while (start < id.size() && blank(id[start])) {
        ++start;
    }
    id.erase(0, start);
    if (id.size() >= 4 && (id[0] == 'c' || id[0] == 'C') && (id[1] == 'i' || id[1] == 'I') &&
        (id[2] == 'd' || id[2] == 'D') && id[3] == ':') {
        id.erase(0, 4);
    }
    if (id.size() >= 2 && id.front() == '<' && id.back() == '>') {
        id = id.substr(1, id.size() - 2);
    }
    return id;
}

void collect_content_ids(const message_values &values, const std::string &working_directory,
                         std::map<std::string, std::string> &content_ids)
{
    const std::string inside = working_directory + "/";
    for (const written_attachment &written : values.written_attachments) {
        std::string id = bare_content_id(written.content_id);
        if (id.empty() || written.path.compare(0, inside.size(), inside) != 0) {
            continue;
        }
        // The first attachment of an id wins, as a body can show only one.
        content_ids.emplace(std::move(id), written.path);
    }
}

// The working directory, emptied, with what the last item left in values
// cleared; its path is used whole, however long. nullopt without a private
// temporary directory.
std::optional<std::u16string> fresh_working_directory(message_values &values)
{
    std::u16string working_wide;
    if (!message_values_attachment_parent(&values, &working_wide)) {
        return std::nullopt;
    }
    working_wide.push_back(path_separator);
    working_wide.append(u"Attachments");
    const std::string working = utf16_to_utf8(working_wide);
    remove_directory(working);
    ::mkdir(working.c_str(), 0700);
    values.attachment_list.clear();
    values.written_attachments.clear();
    // Only the e-mail and contact exports read recipients: a meeting (or a
    // row without a record) must not show the names of the item before it.
    values.to_text.clear();
    values.cc_text.clear();
    values.bcc_text.clear();
    return working_wide;
}

// The re-export of the row's item, with the mailbox and the records to
// ourselves; from and subject are the row's own texts.
void export_row(scan_state *state, std::int32_t sequence, std::u16string *from,
                std::u16string *subject)
{
    if (state == nullptr) {
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(state->mailbox_mutex);
    for (const item_record *record = state->records.head; record != nullptr;
         record = record->next) {
        if (record->sequence != sequence) {
            continue;
        }
        *from = bracketed_from(record->from);
        *subject = record->subject;
        export_record_item(state, record);
    }
}

} // namespace

int preview_selected_item(scan_state *state, const std::u16string &sequence_text,
                          const std::u16string &kind_text_argument, preview_outcome &outcome)
{
    // The row's texts may live in the list itself, which the re-export can
    // grow (an attached message adds a row): keep our own copy.
    const std::u16string kind_text = kind_text_argument;
    outcome = preview_outcome{};
    message_values &values = export_message_values();

    message_values_reset_body(&values);
    const std::int32_t sequence = sequence_number(sequence_text);

    const std::optional<std::u16string> working_directory = fresh_working_directory(values);
    if (!working_directory) {
        // No private temporary directory: nowhere to write, nothing to show.
        return 1;
    }
    const std::u16string &working_wide = *working_directory;
    const std::string working = utf16_to_utf8(working_wide);

    std::u16string from;
    std::u16string subject;
    export_row(state, sequence, &from, &subject);

    const std::u16string attachments = attachment_names(values.attachment_list, working_wide);
    collect_content_ids(values, working, outcome.content_ids);

    std::u16string body_path = working_wide;
    body_path.push_back(path_separator);
    body_path.append(u16(write_body_file(working, values)));

    std::u16string frameset_path = working_wide;
    frameset_path.push_back(path_separator);
    frameset_path.append(u16(frameset_page_name));

    const page_kind kind = page_for_kind(kind_text);
    if (kind == page_kind::body_only) {
        outcome.navigate = true;
        outcome.path = body_path;
        return 1;
    }
    if (kind == page_kind::email) {
        // A header page that cannot be made leaves its frame empty.
        write_preview_page(working, header_page_name,
                           email_page(from, subject, values, attachments));
        if (write_preview_page(working, frameset_page_name,
                               frameset_page(frameset_rows_prefix, body_path))) {
            outcome.navigate = true;
            outcome.path = frameset_path;
        }
        return 1;
    }
    const kind_values &kinds = export_kind_values();
    const std::u16string page = kind == page_kind::contact ? contact_page(kinds.contact)
                                : kind == page_kind::appointment
                                    ? appointment_page(kinds.appointment, from)
                                    : task_page(kinds.task, from);
    if (!write_preview_page(working, header_page_name, page)) {
        return 1;
    }
    // The pane goes to the frameset page even when it could not be made.
    write_preview_page(working, frameset_page_name, frameset_page(frameset_cols_prefix, body_path));
    outcome.navigate = true;
    outcome.path = frameset_path;
    return 1;
}

} // namespace korvel
