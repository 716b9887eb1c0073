#include "convert/mail/mime_message.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>

#include "convert/mail/mime_date.h"
#include "convert/mail/mime_streams.h"
#include "convert/pim/pim_values.h"
#include "convert/mail/rtf_html.h"
#include "preview/rtf_reader.h"
#include "scan/names.h"
#include "scan/pff_values.h"
#include "scan/text.h"

namespace korvel::convert {

namespace {

// Embedded messages nested deeper than this are left out with a note.
constexpr int max_embedding_depth = 16;
// Bodies larger than this are not read (they are held in memory to be encoded).
constexpr std::size_t body_limit = 512u * 1024 * 1024;

template <class T> GMimeObject *as_object(T *p)
{
    return reinterpret_cast<GMimeObject *>(p);
}
template <class T> GMimePart *as_part(T *p)
{
    return reinterpret_cast<GMimePart *>(p);
}

void unref(gpointer p)
{
    if (p != nullptr) {
        g_object_unref(p);
    }
}

struct pff_error
{
    libpff_error_t *error = nullptr;
    ~pff_error() { clear(); }
    libpff_error_t **get()
    {
        clear();
        return &error;
    }
    void clear()
    {
        if (error != nullptr) {
            libpff_error_free(&error);
        }
    }
};

int read_set_string(libpff_item_t *item, int set_index, std::uint32_t tag, std::string &out,
                    std::uint32_t code_page = 0)
{
    int result = pim_read_text_in_set(item, set_index, tag, out, code_page);
    if (result != 1) {
        out.clear();
    }
    return result;
}

// Text through the engine's PIM readers: Unicode values are decoded from
// their stored UTF-16 (libpff's own conversion loses characters beyond the
// first 65536, emoji say); 8-bit ones by the message's code page.
std::string message_string(libpff_item_t *message, std::uint32_t tag)
{
    std::string text;
    if (pim_read_text(message, tag, text) != 1) {
        text.clear();
    }
    return text;
}

std::int64_t unix_from_filetime(std::uint64_t filetime)
{
    return static_cast<std::int64_t>(filetime / 10000000ULL) - 11644473600LL;
}

std::string lower(std::string_view text)
{
    std::string out(text);
    for (char &c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

bool starts_with(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// The body read through one of libpff's body calls, without its terminating
// zero. False when absent or unreadable.
using body_size_fn = int (*)(libpff_item_t *, size_t *, libpff_error_t **);
using body_read_fn = int (*)(libpff_item_t *, uint8_t *, size_t, libpff_error_t **);

int read_body(libpff_item_t *message, body_size_fn size_fn, body_read_fn read_fn, std::string &out)
{
    out.clear();
    pff_error e;
    std::size_t size = 0;
    int result = size_fn(message, &size, e.get());
    if (result != 1) {
        return result == 0 ? 0 : -1;
    }
    if (size == 0) {
        return 0;
    }
    if (size > body_limit) {
        return -1;
    }
    std::string buffer(size, '\0');
    if (read_fn(message, reinterpret_cast<std::uint8_t *>(buffer.data()), size, e.get()) != 1) {
        return -1;
    }
    while (!buffer.empty() && buffer.back() == '\0') {
        buffer.pop_back();
    }
    out = std::move(buffer);
    return out.empty() ? 0 : 1;
}

bool valid_utf8(std::string_view text)
{
    std::u16string ignored;
    return utf8_to_utf16(text, ignored);
}

// An address from a name, an address type and candidate addresses: the SMTP
// one when there is one.
struct address
{
    std::string name;
    std::string email;
};

std::string pick_email(const std::string &smtp, const std::string &email,
                       const std::string &address_type)
{
    if (!smtp.empty()) {
        return smtp;
    }
    if (lower(address_type) == "smtp" || email.find('@') != std::string::npos) {
        return email;
    }
    // An Exchange directory name is no internet address.
    return {};
}

void add_address(InternetAddressList *list, const address &a)
{
    if (a.name.empty() && a.email.empty()) {
        return;
    }
    InternetAddress *ia =
        internet_address_mailbox_new(a.name.empty() ? nullptr : a.name.c_str(), a.email.c_str());
    internet_address_list_add(list, ia);
    g_object_unref(ia);
}

const char *mime_type_for_extension(std::string_view file_name)
{
    std::size_t dot = file_name.rfind('.');
    if (dot == std::string_view::npos) {
        return "application/octet-stream";
    }
    std::string ext = lower(file_name.substr(dot + 1));
    static const std::pair<const char *, const char *> table[] = {
        {"txt", "text/plain"},
        {"htm", "text/html"},
        {"html", "text/html"},
        {"csv", "text/csv"},
        {"xml", "text/xml"},
        {"rtf", "application/rtf"},
        {"pdf", "application/pdf"},
        {"doc", "application/msword"},
        {"dot", "application/msword"},
        {"docx", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
        {"xls", "application/vnd.ms-excel"},
        {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {"ppt", "application/vnd.ms-powerpoint"},
        {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
        {"msg", "application/vnd.ms-outlook"},
        {"zip", "application/zip"},
        {"gz", "application/gzip"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"png", "image/png"},
        {"gif", "image/gif"},
        {"bmp", "image/bmp"},
        {"tif", "image/tiff"},
        {"tiff", "image/tiff"},
        {"ics", "text/calendar"},
        {"vcf", "text/vcard"},
        {"wav", "audio/x-wav"},
        {"mp3", "audio/mpeg"},
    };
    for (const auto &[e, type] : table) {
        if (ext == e) {
            return type;
        }
    }
    return "application/octet-stream";
}

// "type/subtype" split for g_mime_part_new_with_type; false when malformed.
bool split_mime_type(std::string_view mime, std::string &type, std::string &subtype)
{
    std::size_t slash = mime.find('/');
    if (slash == std::string_view::npos || slash == 0 || slash + 1 >= mime.size()) {
        return false;
    }
    type = lower(mime.substr(0, slash));
    subtype = lower(mime.substr(slash + 1));
    std::size_t end = subtype.find_first_of("; \t");
    if (end != std::string::npos) {
        subtype.resize(end);
    }
    auto token_ok = [](const std::string &s) {
        return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || std::strchr("!#$&^_.+-", c);
        });
    };
    return token_ok(type) && token_ok(subtype);
}

GMimeTextPart *text_part(const char *subtype, const std::string &bytes, const char *charset)
{
    GMimeTextPart *part = g_mime_text_part_new_with_subtype(subtype);
    GMimeStream *stream = g_mime_stream_mem_new_with_buffer(bytes.data(), bytes.size());
    GMimeDataWrapper *wrapper =
        g_mime_data_wrapper_new_with_stream(stream, GMIME_CONTENT_ENCODING_DEFAULT);
    g_mime_part_set_content(as_part(part), wrapper);
    g_object_unref(wrapper);
    g_object_unref(stream);
    g_mime_text_part_set_charset(part, charset);
    g_mime_part_set_content_encoding(
        as_part(part),
        g_mime_part_get_best_content_encoding(as_part(part), GMIME_ENCODING_CONSTRAINT_7BIT));
    return part;
}

GMimeObject *note_part(const std::string &text)
{
    return as_object(text_part("plain", text, "utf-8"));
}

// A multipart with its boundary. GMime would open and read the system's random
// source for every multipart (a tenth of the conversion time); one random seed
// per process, mixed with a counter, gives boundaries as unlikely to occur in
// a body as GMime's own ("=_" never appears in base64 or quoted-printable).
GMimeMultipart *new_multipart(const char *subtype)
{
    static std::atomic<std::uint64_t> counter{0};
    static const std::uint64_t seed = [] {
        std::random_device device;
        return (static_cast<std::uint64_t>(device()) << 32) ^ device();
    }();
    std::uint64_t n = counter.fetch_add(1, std::memory_order_relaxed);
    // splitmix64 of seed + n: boundaries of different runs do not repeat.
    std::uint64_t z = seed + 0x9E3779B97F4A7C15ULL * (n + 1);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    char boundary[64];
    std::snprintf(boundary, sizeof boundary, "=_korvel_%016llx_%llx",
                  static_cast<unsigned long long>(z), static_cast<unsigned long long>(n));
    GMimeMultipart *multipart = g_mime_multipart_new_with_subtype(subtype);
    g_mime_multipart_set_boundary(multipart, boundary);
    return multipart;
}

} // namespace

item_family classify_message_class(std::string_view message_class)
{
    std::string c = lower(message_class);
    if (c == "ipm.note" || starts_with(c, "ipm.note.") || starts_with(c, "report.") ||
        c == "ipm.schedule.meeting" || starts_with(c, "ipm.schedule.meeting.")) {
        return item_family::mail;
    }
    if (starts_with(c, "ipm.contact")) {
        return item_family::contact;
    }
    if (starts_with(c, "ipm.distlist")) {
        return item_family::distribution_list;
    }
    if (starts_with(c, "ipm.appointment")) {
        return item_family::appointment;
    }
    if (starts_with(c, "ipm.task")) {
        return item_family::task;
    }
    return item_family::other;
}

std::string read_message_class(libpff_item_t *message)
{
    return message_string(message, 0x001A);
}

void mime_initialize()
{
    static std::once_flag once;
    std::call_once(once, [] { g_mime_init(); });
}

const char *charset_for_code_page(std::uint32_t code_page)
{
    switch (code_page) {
    case 65001:
        return "utf-8";
    case 20127:
        return "us-ascii";
    case 874:
        return "windows-874";
    case 932:
        return "shift_jis";
    case 936:
        return "gb2312";
    case 949:
        return "euc-kr";
    case 950:
        return "big5";
    case 1250:
        return "windows-1250";
    case 1251:
        return "windows-1251";
    case 1253:
        return "windows-1253";
    case 1254:
        return "windows-1254";
    case 1255:
        return "windows-1255";
    case 1256:
        return "windows-1256";
    case 1257:
        return "windows-1257";
    case 1258:
        return "windows-1258";
    case 20866:
        return "koi8-r";
    case 21866:
        return "koi8-u";
    case 28591:
        return "iso-8859-1";
    case 28592:
        return "iso-8859-2";
    case 28595:
        return "iso-8859-5";
    case 28597:
        return "iso-8859-7";
    case 28605:
        return "iso-8859-15";
    case 50220:
    case 50221:
    case 50222:
        return "iso-2022-jp";
    case 51932:
        return "euc-jp";
    case 51949:
        return "euc-kr";
    case 54936:
        return "gb18030";
    default:
        return "windows-1252";
    }
}

std::string safe_file_name(std::string_view name, std::size_t max_bytes, std::string_view fallback)
{
    std::string out;
    out.reserve(name.size());
    std::size_t i = 0;
    while (i < name.size()) {
        std::uint32_t cp = 0;
        std::size_t length = utf8_sequence_length(
            reinterpret_cast<const unsigned char *>(name.data() + i), name.size() - i, cp);
        if (length == 0) {
            // Not UTF-8: the byte as Windows-1252.
            cp = windows1252_to_utf16(static_cast<unsigned char>(name[i]));
            length = 1;
        }
        i += length;
        if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp < 0xA0)) {
            out.push_back(' ');
            continue;
        }
        switch (cp) {
        case '/':
        case '\\':
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
            out.push_back('_');
            continue;
        default:
            break;
        }
        std::u16string unit;
        append_code_point(unit, cp);
        std::string encoded = utf16_to_utf8(unit);
        if (out.size() + encoded.size() > max_bytes) {
            break;
        }
        out += encoded;
    }
    // No leading or trailing blanks or dots (hidden files, "." and "..").
    std::size_t start = out.find_first_not_of(" .");
    if (start == std::string::npos) {
        return std::string(fallback);
    }
    std::size_t end = out.find_last_not_of(" .");
    out = out.substr(start, end - start + 1);
    // Runs of blanks become one.
    std::string collapsed;
    for (char c : out) {
        if (c == ' ' && !collapsed.empty() && collapsed.back() == ' ') {
            continue;
        }
        collapsed.push_back(c);
    }
    return collapsed;
}

std::string rtf_body_text(std::string_view rtf)
{
    if (rtf.empty()) {
        return {};
    }
    std::string copy(rtf);
    std::FILE *stream = fmemopen(copy.data(), copy.size(), "r");
    if (stream == nullptr) {
        return {};
    }
    // A reader of its own: each body reads as if alone, whatever the
    // preview's reader carries from its last document.
    std::u16string text;
    rtf_parse_alone(stream, text); // what was read up to an error is kept
    std::fclose(stream);
    return utf16_to_utf8(text);
}

struct mime_message::build_state
{
    const std::set<int> *left_out = nullptr;
    int next_attachment = 0;
};

mime_message::mime_message()
{
    mime_initialize();
}

mime_message::~mime_message()
{
    release();
}

void mime_message::release()
{
    unref(m_message);
    m_message = nullptr;
    for (GMimeStream *s : m_streams) {
        g_object_unref(s);
    }
    m_streams.clear();
    m_stream_ids.clear();
    // Free in reverse: embedded messages before the attachments holding them.
    for (auto it = m_items.rbegin(); it != m_items.rend(); ++it) {
        libpff_item_t *item = *it;
        libpff_item_free(&item, nullptr);
    }
    m_items.clear();
}

int mime_message::build(libpff_item_t *message, std::vector<std::string> &problems,
                        const std::set<int> &left_out)
{
    release();
    if (message == nullptr) {
        return -1;
    }
    build_state state;
    state.left_out = &left_out;
    m_subject = pim_read_subject(message);

    std::string sender = message_string(message, tag_sent_representing_smtp_address);
    if (sender.empty()) {
        sender = pick_email(message_string(message, tag_sender_smtp_address),
                            message_string(message, tag_sender_email_address),
                            message_string(message, tag_sender_address_type));
    }
    if (sender.empty()) {
        sender = pick_email({}, message_string(message, tag_sent_representing_email),
                            message_string(message, tag_sent_representing_address_type));
    }
    // The separator line is one word: no blanks in it.
    sender.erase(std::remove_if(sender.begin(), sender.end(),
                                [](char c) { return c == ' ' || c == '\t' || c == '\n'; }),
                 sender.end());
    m_envelope_sender = sender.empty() ? "MAILER-DAEMON" : sender;
    std::uint64_t filetime = 0;
    if (read_filetime(message, tag_message_delivery_time, &filetime) == 1 ||
        read_filetime(message, tag_client_submit_time, &filetime) == 1) {
        m_envelope_time = unix_from_filetime(filetime);
    }

    m_message = build_message(message, state, 0, problems);
    return m_message != nullptr ? 1 : -1;
}

GMimeMessage *mime_message::build_message(libpff_item_t *message, build_state &state, int depth,
                                          std::vector<std::string> &problems)
{
    GMimeMessage *result = nullptr;

    // When it was sent: the date of headers made from the properties, and of
    // kept headers whose own date does not read.
    std::optional<std::int64_t> sent;
    std::uint64_t filetime = 0;
    if (read_filetime(message, tag_client_submit_time, &filetime) == 1 ||
        read_filetime(message, tag_message_delivery_time, &filetime) == 1 ||
        read_filetime(message, tag_creation_time, &filetime) == 1) {
        sent = unix_from_filetime(filetime);
    }

    // Headers: the ones the message arrived with, else made from its properties.
    std::string transport = message_string(message, tag_transport_headers);
    if (!transport.empty()) {
        while (!transport.empty() && (transport.back() == '\n' || transport.back() == '\r')) {
            transport.pop_back();
        }
        transport += "\n\n";
        GMimeStream *stream = g_mime_stream_mem_new_with_buffer(transport.data(), transport.size());
        GMimeParser *parser = g_mime_parser_new_with_stream(stream);
        result = g_mime_parser_construct_message(parser, nullptr);
        g_object_unref(parser);
        g_object_unref(stream);
        if (result != nullptr) {
            // The body is rebuilt from the item: its old structure headers go.
            GMimeObject *o = as_object(result);
            g_mime_object_remove_header(o, "Content-Type");
            g_mime_object_remove_header(o, "Content-Transfer-Encoding");
            g_mime_object_remove_header(o, "Content-Disposition");
            g_mime_object_remove_header(o, "Content-Length");
            if (g_mime_message_get_from(result) == nullptr ||
                internet_address_list_length(g_mime_message_get_from(result)) == 0) {
                // Headers without a sender are no usable headers.
                if (g_mime_object_get_header(o, "From") == nullptr) {
                    g_object_unref(result);
                    result = nullptr;
                }
            }
        }
    }
    if (result == nullptr) {
        result = g_mime_message_new(TRUE);
        address from{message_string(message, tag_sent_representing_name),
                     pick_email(message_string(message, tag_sent_representing_smtp_address),
                                message_string(message, tag_sent_representing_email),
                                message_string(message, tag_sent_representing_address_type))};
        address sender{message_string(message, tag_sender_name),
                       pick_email(message_string(message, tag_sender_smtp_address),
                                  message_string(message, tag_sender_email_address),
                                  message_string(message, tag_sender_address_type))};
        if (from.name.empty() && from.email.empty()) {
            from = sender;
        }
        add_address(g_mime_message_get_addresses(result, GMIME_ADDRESS_TYPE_FROM), from);
        if ((!sender.name.empty() || !sender.email.empty()) &&
            (sender.email != from.email || sender.name != from.name)) {
            add_address(g_mime_message_get_addresses(result, GMIME_ADDRESS_TYPE_SENDER), sender);
        }

        std::vector<pim_recipient> recipients;
        if (pim_read_recipients(message, recipients) < 0) {
            problems.push_back("recipients could not be read");
        }
        for (const pim_recipient &r : recipients) {
            GMimeAddressType which = GMIME_ADDRESS_TYPE_TO;
            if (r.type == 2) {
                which = GMIME_ADDRESS_TYPE_CC;
            } else if (r.type == 3) {
                which = GMIME_ADDRESS_TYPE_BCC;
            } else if (r.type != 1) {
                continue; // the originator's own row is no recipient
            }
            add_address(g_mime_message_get_addresses(result, which), {r.name, r.address});
        }

        std::string subject = pim_read_subject(message);
        if (!subject.empty()) {
            g_mime_message_set_subject(result, subject.c_str(), "utf-8");
        }
        std::string id = message_string(message, tag_internet_message_id);
        id.erase(std::remove_if(id.begin(), id.end(),
                                [](char c) { return c == '<' || c == '>' || c == ' '; }),
                 id.end());
        if (!id.empty()) {
            g_mime_message_set_message_id(result, id.c_str());
        }
        std::string in_reply_to = message_string(message, tag_in_reply_to);
        if (!in_reply_to.empty()) {
            g_mime_object_set_header(as_object(result), "In-Reply-To", in_reply_to.c_str(),
                                     nullptr);
        }
        std::string references = message_string(message, tag_references);
        if (!references.empty()) {
            g_mime_object_set_header(as_object(result), "References", references.c_str(), nullptr);
        }
    }

    settle_date_header(result, sent);

    // Bodies: plain, HTML, and the RTF body for what they do not give.
    std::string plain;
    std::string html;
    const char *html_charset = "utf-8";
    if (pim_read_body(message, plain) < 0) {
        plain.clear();
        problems.push_back("the plain text body could not be read");
    }
    if (read_body(message, libpff_message_get_html_body_size, libpff_message_get_html_body, html) <
        0) {
        problems.push_back("the HTML body could not be read");
    }
    if (!html.empty()) {
        std::uint32_t code_page = 0;
        if (read_int32(message, tag_internet_code_page, &code_page) == 1 && code_page != 0) {
            html_charset = charset_for_code_page(code_page);
        } else if (!valid_utf8(html)) {
            html_charset = "windows-1252";
        }
    }
    if (html.empty() || plain.empty()) {
        std::string rtf;
        int rtf_result =
            read_body(message, libpff_message_get_rtf_body_size, libpff_message_get_rtf_body, rtf);
        if (rtf_result < 0) {
            problems.push_back("the RTF body could not be read");
        } else if (rtf_result == 1) {
            std::uint32_t code_page = 1252;
            if (html.empty() && rtf_html_extract(rtf, html, code_page) == 1) {
                html_charset = charset_for_code_page(code_page);
            }
            if (plain.empty()) {
                plain = rtf_body_text(rtf);
            }
        }
    }
    if (!valid_utf8(plain)) {
        plain = utf16_to_utf8(decode_8bit(plain));
    }

    // Attachments: inline images (content id, referenced by the HTML) go
    // beside the HTML; the rest after the body.
    std::vector<GMimeObject *> related;
    std::vector<GMimeObject *> attached;
    int attachment_count = 0;
    pff_error e;
    if (libpff_message_get_number_of_attachments(message, &attachment_count, e.get()) != 1) {
        attachment_count = 0;
    }
    // An attachment's 8-bit names are in its message's code page.
    const std::uint32_t code_page = read_code_page(message);
    for (int i = 0; i < attachment_count; ++i) {
        libpff_item_t *attachment = nullptr;
        if (libpff_message_get_attachment(message, i, &attachment, e.get()) != 1 ||
            attachment == nullptr) {
            problems.push_back("attachment " + std::to_string(i + 1) + " could not be read");
            attached.push_back(note_part("Attachment " + std::to_string(i + 1) +
                                         " could not be read from the mailbox.\n"));
            continue;
        }
        m_items.push_back(attachment);
        std::string file_name;
        if (read_set_string(attachment, 0, tag_attach_long_filename, file_name, code_page) != 1 ||
            file_name.empty()) {
            if (read_set_string(attachment, 0, tag_attach_filename, file_name, code_page) != 1 ||
                file_name.empty()) {
                read_set_string(attachment, 0, tag_display_name, file_name, code_page);
            }
        }
        int type = 0;
        if (libpff_attachment_get_type(attachment, &type, e.get()) != 1) {
            type = LIBPFF_ATTACHMENT_TYPE_UNDEFINED;
        }
        if (type == LIBPFF_ATTACHMENT_TYPE_ITEM) {
            libpff_item_t *embedded = nullptr;
            GMimeMessage *inner = nullptr;
            if (depth + 1 < max_embedding_depth &&
                libpff_attachment_get_item(attachment, &embedded, e.get()) == 1 &&
                embedded != nullptr) {
                m_items.push_back(embedded);
                inner = build_message(embedded, state, depth + 1, problems);
            }
            if (inner == nullptr) {
                problems.push_back("embedded message " + std::to_string(i + 1) +
                                   " could not be read");
                attached.push_back(note_part("An embedded message could not be read.\n"));
                continue;
            }
            GMimeMessagePart *part = g_mime_message_part_new_with_message("rfc822", inner);
            g_object_unref(inner);
            g_mime_object_set_disposition(as_object(part), "attachment");
            attached.push_back(as_object(part));
            continue;
        }
        if (type != LIBPFF_ATTACHMENT_TYPE_DATA) {
            // A link to a file outside the mailbox: nothing to carry over.
            continue;
        }
        int index = state.next_attachment++;
        if (state.left_out->count(index) != 0) {
            attached.push_back(note_part("The attachment \"" + file_name +
                                         "\" could not be read from the mailbox.\n"));
            continue;
        }
        size64_t size = 0;
        int size_result = libpff_attachment_get_data_size(attachment, &size, e.get());
        if (size_result == -1) {
            problems.push_back("attachment " + std::to_string(i + 1) + " (" + file_name +
                               ") could not be read");
            attached.push_back(note_part("The attachment \"" + file_name +
                                         "\" could not be read from the mailbox.\n"));
            continue;
        }
        if (size_result != 1) {
            size = 0; // no data at all: an empty attachment
        }
        std::string mime;
        read_set_string(attachment, 0, tag_attach_mime_tag, mime, code_page);
        std::string major;
        std::string minor;
        if (!split_mime_type(mime, major, minor)) {
            split_mime_type(mime_type_for_extension(file_name), major, minor);
        }
        GMimePart *part = g_mime_part_new_with_type(major.c_str(), minor.c_str());
        GMimeStream *data = attachment_stream_new(attachment, size, m_stop);
        m_streams.push_back(data);
        m_stream_ids.push_back(index);
        g_object_ref(data);
        GMimeDataWrapper *wrapper =
            g_mime_data_wrapper_new_with_stream(data, GMIME_CONTENT_ENCODING_DEFAULT);
        g_mime_part_set_content(part, wrapper);
        g_object_unref(wrapper);
        g_object_unref(data);
        g_mime_part_set_content_encoding(part, GMIME_CONTENT_ENCODING_BASE64);
        if (!file_name.empty()) {
            g_mime_part_set_filename(part, file_name.c_str());
        }
        std::string content_id;
        read_set_string(attachment, 0, tag_attach_content_id, content_id, code_page);
        content_id.erase(std::remove_if(content_id.begin(), content_id.end(),
                                        [](char c) { return c == '<' || c == '>' || c == ' '; }),
                         content_id.end());
        bool is_inline = !content_id.empty() && !html.empty() &&
                         html.find("cid:" + content_id) != std::string::npos;
        if (!content_id.empty()) {
            g_mime_object_set_content_id(as_object(part), content_id.c_str());
        }
        g_mime_object_set_disposition(as_object(part), is_inline ? "inline" : "attachment");
        if (!file_name.empty()) {
            // The disposition was replaced: name the file again.
            g_mime_part_set_filename(part, file_name.c_str());
        }
        (is_inline ? related : attached).push_back(as_object(part));
    }

    // Assemble: mixed[ alternative[ plain, related[ html, images ] ], attachments ].
    GMimeObject *html_part = nullptr;
    if (!html.empty()) {
        html_part = as_object(text_part("html", html, html_charset));
        if (!related.empty()) {
            GMimeMultipart *r = new_multipart("related");
            g_mime_multipart_add(r, html_part);
            g_object_unref(html_part);
            for (GMimeObject *p : related) {
                g_mime_multipart_add(r, p);
                g_object_unref(p);
            }
            related.clear();
            html_part = as_object(r);
        }
    }
    for (GMimeObject *p : related) {
        attached.push_back(p); // no HTML to show them in
    }
    GMimeObject *body = nullptr;
    if (html_part != nullptr && !plain.empty()) {
        GMimeMultipart *alternative = new_multipart("alternative");
        GMimeObject *plain_part = as_object(text_part("plain", plain, "utf-8"));
        g_mime_multipart_add(alternative, plain_part);
        g_object_unref(plain_part);
        g_mime_multipart_add(alternative, html_part);
        g_object_unref(html_part);
        body = as_object(alternative);
    } else if (html_part != nullptr) {
        body = html_part;
    } else {
        body = as_object(text_part("plain", plain, "utf-8"));
    }
    if (!attached.empty()) {
        GMimeMultipart *mixed = new_multipart("mixed");
        g_mime_multipart_add(mixed, body);
        g_object_unref(body);
        for (GMimeObject *p : attached) {
            g_mime_multipart_add(mixed, p);
            g_object_unref(p);
        }
        body = as_object(mixed);
    }
    g_mime_message_set_mime_part(result, body);
    g_object_unref(body);
    return result;
}

int mime_message::write(GMimeStream *stream)
{
    if (m_message == nullptr || stream == nullptr) {
        return -1;
    }
    ssize_t written = g_mime_object_write_to_stream(as_object(m_message), nullptr, stream);
    if (written < 0 || failed_attachment() >= 0) {
        return -1;
    }
    return 1;
}

int mime_message::failed_attachment() const
{
    for (std::size_t i = 0; i < m_streams.size(); ++i) {
        if (attachment_stream_failed(m_streams[i])) {
            return m_stream_ids[i];
        }
    }
    return -1;
}

} // namespace korvel::convert
