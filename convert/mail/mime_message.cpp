#include "convert/mail/mime_message.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <random>

#include "convert/mail/mime_addresses.h"
#include "convert/mail/mime_date.h"
#include "convert/mail/mime_headers.h"
#include "convert/mail/rtf_html.h"
#include "convert/pim/pim_values.h"
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
    error_slot e;
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

// The same test as converting to UTF-16 succeeding, without building the
// UTF-16 copy of a body.
bool valid_utf8(std::string_view text)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
    std::uint32_t code_point = 0;
    for (std::size_t i = 0; i < text.size();) {
        std::size_t length = utf8_sequence_length(bytes + i, text.size() - i, code_point);
        if (length == 0) {
            return false;
        }
        i += length;
    }
    return true;
}

// An address from a name, an address type and candidate addresses: the SMTP
// one when there is one.
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

// The encoding GMime would pick for a part of these bytes (7-bit transport),
// found on the buffer itself rather than through streams over a part.
GMimeContentEncoding best_encoding(const std::string &bytes)
{
    GMimeFilter *filter = g_mime_filter_best_new(GMIME_FILTER_BEST_ENCODING);
    char *out = nullptr;
    std::size_t out_length = 0;
    std::size_t out_prespace = 0;
    // The best filter only counts: it leaves its input as it is.
    char *in = const_cast<char *>(bytes.data());
    g_mime_filter_filter(filter, in, bytes.size(), 0, &out, &out_length, &out_prespace);
    g_mime_filter_complete(filter, in, 0, 0, &out, &out_length, &out_prespace);
    GMimeContentEncoding encoding = g_mime_filter_best_encoding(
        reinterpret_cast<GMimeFilterBest *>(filter), GMIME_ENCODING_CONSTRAINT_7BIT);
    g_object_unref(filter);
    return encoding;
}

// The bytes in a transfer encoding, in one pass over the buffer.
std::string encode(const std::string &bytes, GMimeContentEncoding encoding)
{
    GMimeEncoding encoder;
    g_mime_encoding_init_encode(&encoder, encoding);
    std::string out(g_mime_encoding_outlen(&encoder, bytes.size()), '\0');
    std::size_t n = g_mime_encoding_flush(&encoder, bytes.data(), bytes.size(), out.data());
    out.resize(n);
    return out;
}

// A text part, its content stored already encoded.
mime_part text_part(const char *subtype, std::string bytes, const char *charset)
{
    mime_part part;
    header_lines headers;
    headers.add_text_type(subtype, charset);
    GMimeContentEncoding encoding = best_encoding(bytes);
    if (encoding == GMIME_CONTENT_ENCODING_BASE64 ||
        encoding == GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE) {
        part.content = encode(bytes, encoding);
    } else {
        part.content = std::move(bytes);
    }
    if (const char *name = g_mime_content_encoding_to_string(encoding)) {
        headers.add_fixed("Content-Transfer-Encoding", name);
    }
    part.headers = headers.take();
    return part;
}

mime_part note_part(const std::string &text)
{
    return text_part("plain", text, "utf-8");
}

// The multipart boundaries of one message. GMime would open and read the
// system's random source for every multipart (a tenth of the conversion
// time); one random seed per process, mixed with the message's identifier
// and a count of its multiparts, gives boundaries as unlikely to occur in a
// body as GMime's own ("=_" never appears in base64 or quoted-printable).
// Counted per message, not per process, so that they do not depend on which
// reading thread made which message first.
class boundary_maker
{
public:
    explicit boundary_maker(std::uint32_t message_identifier)
    {
        static const std::uint64_t seed = [] {
            std::random_device device;
            return (static_cast<std::uint64_t>(device()) << 32) ^ device();
        }();
        m_base = seed ^ (static_cast<std::uint64_t>(message_identifier) << 20);
    }

    std::string next()
    {
        const std::uint64_t n = m_count++;
        // splitmix64 of base + n.
        std::uint64_t z = m_base + 0x9E3779B97F4A7C15ULL * (n + 1);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        char boundary[64];
        std::snprintf(boundary, sizeof boundary, "=_korvel_%016llx_%llx",
                      static_cast<unsigned long long>(z), static_cast<unsigned long long>(n));
        return boundary;
    }

private:
    std::uint64_t m_base = 0;
    std::uint64_t m_count = 0;
};

mime_part new_multipart(const char *subtype, boundary_maker &boundaries)
{
    mime_part multipart;
    multipart.what = mime_part::kind::multipart;
    multipart.boundary = boundaries.next();
    header_lines headers;
    headers.add_multipart_type(subtype, multipart.boundary);
    multipart.headers = headers.take();
    return multipart;
}

// A multipart of first and then rest; rest is left empty.
mime_part multipart_of(const char *subtype, mime_part first, std::vector<mime_part> &rest,
                       boundary_maker &boundaries)
{
    mime_part multipart = new_multipart(subtype, boundaries);
    multipart.children.reserve(rest.size() + 1);
    multipart.children.push_back(std::move(first));
    for (mime_part &p : rest) {
        multipart.children.push_back(std::move(p));
    }
    rest.clear();
    return multipart;
}


// When the message was sent: the date of headers made from the properties,
// and of kept headers whose own date does not read.
std::optional<std::int64_t> sent_time(libpff_item_t *message)
{
    std::uint64_t filetime = 0;
    if (read_filetime(message, tag_client_submit_time, &filetime) == 1 ||
        read_filetime(message, tag_message_delivery_time, &filetime) == 1 ||
        read_filetime(message, tag_creation_time, &filetime) == 1) {
        return unix_from_filetime(filetime);
    }
    return std::nullopt;
}

// The headers the message arrived with, without their old structure headers
// (the body is rebuilt from the item), with one Date (settle_date_header) and
// a MIME-Version; false when it kept none, or none that name a sender.
bool kept_headers(libpff_item_t *message, header_lines &lines)
{
    std::string transport = message_string(message, tag_transport_headers);
    if (transport.empty()) {
        return false;
    }
    while (!transport.empty() && (transport.back() == '\n' || transport.back() == '\r')) {
        transport.pop_back();
    }
    transport += "\n\n";
    GMimeStream *stream = g_mime_stream_mem_new_with_buffer(transport.data(), transport.size());
    GMimeParser *parser = g_mime_parser_new_with_stream(stream);
    GMimeMessage *result = g_mime_parser_construct_message(parser, nullptr);
    g_object_unref(parser);
    g_object_unref(stream);
    if (result == nullptr) {
        return false;
    }
    GMimeObject *o = GMIME_OBJECT(result);
    g_mime_object_remove_header(o, "Content-Type");
    g_mime_object_remove_header(o, "Content-Transfer-Encoding");
    g_mime_object_remove_header(o, "Content-Disposition");
    g_mime_object_remove_header(o, "Content-Length");
    if ((g_mime_message_get_from(result) == nullptr ||
         internet_address_list_length(g_mime_message_get_from(result)) == 0) &&
        g_mime_object_get_header(o, "From") == nullptr) {
        g_object_unref(result);
        return false;
    }
    settle_date_header(result, sent_time(message));
    // Parsing is GMime's; the kept lines are written as it writes them, one
    // by one, and the line ends converted with the rest of the header block.
    GMimeHeaderList *headers = g_mime_object_get_header_list(o);
    GByteArray *bytes = g_byte_array_new();
    GMimeStream *out = g_mime_stream_mem_new_with_byte_array(bytes);
    const int count = g_mime_header_list_get_count(headers);
    for (int i = 0; i < count; ++i) {
        g_mime_header_write_to_stream(g_mime_header_list_get_header_at(headers, i), nullptr, out);
    }
    lines.add_formatted(std::string_view(reinterpret_cast<const char *>(bytes->data), bytes->len));
    if (!g_mime_header_list_contains(headers, "MIME-Version")) {
        lines.add_fixed("MIME-Version", "1.0");
    }
    g_object_unref(out); // frees the bytes too
    g_object_unref(result);
    return true;
}

// From, and Sender when someone else sent it on the author's behalf.
struct originators
{
    address from;
    address sender;
};

originators read_originators(libpff_item_t *message)
{
    originators o;
    o.from = {message_string(message, tag_sent_representing_name),
              pick_email(message_string(message, tag_sent_representing_smtp_address),
                         message_string(message, tag_sent_representing_email),
                         message_string(message, tag_sent_representing_address_type))};
    o.sender = {message_string(message, tag_sender_name),
                pick_email(message_string(message, tag_sender_smtp_address),
                           message_string(message, tag_sender_email_address),
                           message_string(message, tag_sender_address_type))};
    if (o.from.name.empty() && o.from.email.empty()) {
        o.from = o.sender;
    }
    if (o.sender.email == o.from.email && o.sender.name == o.from.name) {
        o.sender = {};
    }
    return o;
}

void add_recipients(header_lines &lines, libpff_item_t *message, std::vector<std::string> &problems)
{
    std::vector<pim_recipient> recipients;
    if (pim_read_recipients(message, recipients) < 0) {
        problems.push_back("recipients could not be read");
    }
    // Rows of type 1, 2 and 3; the originator's own row (0) is no recipient.
    std::vector<address> to, cc, bcc;
    for (const pim_recipient &r : recipients) {
        if (r.type == 1) {
            to.push_back({r.name, r.address});
        } else if (r.type == 2) {
            cc.push_back({r.name, r.address});
        } else if (r.type == 3) {
            bcc.push_back({r.name, r.address});
        }
    }
    lines.add_addresses("To", to);
    lines.add_addresses("Cc", cc);
    lines.add_addresses("Bcc", bcc);
}

// Headers made from the message's properties, for an item that kept none of
// its own, in the order GMime gives a message's headers (From, Subject,
// Sender, To, Cc, then the rest as set).
void headers_from_properties(libpff_item_t *message, header_lines &lines,
                             std::vector<std::string> &problems)
{
    const originators o = read_originators(message);
    lines.add_addresses("From", {o.from});
    std::string subject = pim_read_subject(message);
    if (!subject.empty()) {
        lines.add_text("Subject", subject.c_str(), "utf-8");
    }
    lines.add_addresses("Sender", {o.sender});
    add_recipients(lines, message, problems);
    std::string id = message_string(message, tag_internet_message_id);
    id.erase(std::remove_if(id.begin(), id.end(),
                            [](char c) { return c == '<' || c == '>' || c == ' '; }),
             id.end());
    if (!id.empty()) {
        lines.add_id("Message-Id", id);
    }
    std::string in_reply_to = message_string(message, tag_in_reply_to);
    if (!in_reply_to.empty()) {
        lines.add_references("In-Reply-To", in_reply_to.c_str());
    }
    std::string references = message_string(message, tag_references);
    if (!references.empty()) {
        lines.add_references("References", references.c_str());
    }
    if (const std::optional<std::int64_t> sent = sent_time(message)) {
        GDateTime *date = g_date_time_new_from_unix_utc(*sent);
        if (date != nullptr) {
            char *text = g_mime_utils_header_format_date(date);
            lines.add_text("Date", text);
            g_free(text);
            g_date_time_unref(date);
        }
    }
    lines.add_fixed("MIME-Version", "1.0");
}

struct message_bodies
{
    std::string plain;
    std::string html;
    const char *html_charset = "utf-8";
};

// Plain, HTML, and the RTF body for what they do not give: plain text
// recovered from it, HTML it encapsulates.
message_bodies read_bodies(libpff_item_t *message, std::vector<std::string> &problems)
{
    message_bodies b;
    if (pim_read_body(message, b.plain) < 0) {
        b.plain.clear();
        problems.push_back("the plain text body could not be read");
    }
    if (read_body(message, libpff_message_get_html_body_size, libpff_message_get_html_body,
                  b.html) < 0) {
        problems.push_back("the HTML body could not be read");
    }
    if (!b.html.empty()) {
        std::uint32_t code_page = 0;
        if (read_int32(message, tag_internet_code_page, &code_page) == 1 && code_page != 0) {
            b.html_charset = charset_for_code_page(code_page);
        } else if (!valid_utf8(b.html)) {
            b.html_charset = "windows-1252";
        }
    }
    if (b.html.empty() || b.plain.empty()) {
        std::string rtf;
        int rtf_result =
            read_body(message, libpff_message_get_rtf_body_size, libpff_message_get_rtf_body, rtf);
        if (rtf_result < 0) {
            problems.push_back("the RTF body could not be read");
        } else if (rtf_result == 1) {
            std::uint32_t code_page = 1252;
            if (b.html.empty() && rtf_html_extract(rtf, b.html, code_page) == 1) {
                b.html_charset = charset_for_code_page(code_page);
            }
            if (b.plain.empty()) {
                b.plain = rtf_body_text(rtf);
            }
        }
    }
    if (!valid_utf8(b.plain)) {
        b.plain = utf16_to_utf8(decode_8bit(b.plain));
    }
    return b;
}

// The attachment's file name: long, short, else its display name.
std::string attachment_file_name(libpff_item_t *attachment, std::uint32_t code_page)
{
    std::string file_name;
    if (read_set_string(attachment, 0, tag_attach_long_filename, file_name, code_page) != 1 ||
        file_name.empty()) {
        if (read_set_string(attachment, 0, tag_attach_filename, file_name, code_page) != 1 ||
            file_name.empty()) {
            read_set_string(attachment, 0, tag_display_name, file_name, code_page);
        }
    }
    return file_name;
}

// The body in its structure: mixed[ alternative[ plain, related[ html,
// images ] ], attachments ]; each level only when it has more than one part.
mime_part assemble(message_bodies &bodies, std::vector<mime_part> &related,
                   std::vector<mime_part> &attached, boundary_maker &boundaries)
{
    std::optional<mime_part> html_part;
    if (!bodies.html.empty()) {
        html_part = text_part("html", std::move(bodies.html), bodies.html_charset);
        if (!related.empty()) {
            html_part = multipart_of("related", std::move(*html_part), related, boundaries);
        }
    }
    for (mime_part &p : related) {
        attached.push_back(std::move(p)); // no HTML to show them in
    }
    related.clear();
    mime_part body;
    if (html_part && !bodies.plain.empty()) {
        body = new_multipart("alternative", boundaries);
        body.children.push_back(text_part("plain", std::move(bodies.plain), "utf-8"));
        body.children.push_back(std::move(*html_part));
    } else if (html_part) {
        body = std::move(*html_part);
    } else {
        body = text_part("plain", std::move(bodies.plain), "utf-8");
    }
    if (!attached.empty()) {
        body = multipart_of("mixed", std::move(body), attached, boundaries);
    }
    return body;
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
    boundary_maker *boundaries = nullptr;
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
    m_root = {};
    m_failed = -1;
    m_content_bytes = 0;
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
    std::uint32_t identifier = 0;
    error_slot e;
    if (libpff_item_get_identifier(message, &identifier, e.get()) != 1) {
        identifier = 0;
    }
    boundary_maker boundaries(identifier);
    state.boundaries = &boundaries;

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

    build_message(message, state, 0, problems, m_root);
    return 1;
}

// The message as a part of kind message: its header block (its body's
// headers at the end) and its body.
void mime_message::build_message(libpff_item_t *message, build_state &state, int depth,
                                 std::vector<std::string> &problems, mime_part &out)
{
    header_lines lines;
    out.body_ends_line = !kept_headers(message, lines);
    if (out.body_ends_line) {
        headers_from_properties(message, lines, problems);
    }
    message_bodies bodies = read_bodies(message, problems);
    m_content_bytes += bodies.plain.size() + bodies.html.size();
    std::vector<mime_part> related;
    std::vector<mime_part> attached;
    add_attachments(message, state, depth, bodies.html, problems, related, attached);
    mime_part body = assemble(bodies, related, attached, *state.boundaries);
    lines.add_formatted(body.headers);
    body.headers.clear();
    out.what = mime_part::kind::message;
    out.content = lines.take();
    out.children.push_back(std::move(body));
}

// Inline images (content id, referenced by the HTML) go to related, beside
// the HTML; the rest to attached, after the body.
void mime_message::add_attachments(libpff_item_t *message, build_state &state, int depth,
                                   const std::string &html, std::vector<std::string> &problems,
                                   std::vector<mime_part> &related,
                                   std::vector<mime_part> &attached)
{
    int attachment_count = 0;
    error_slot e;
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
        int type = 0;
        if (libpff_attachment_get_type(attachment, &type, e.get()) != 1) {
            type = LIBPFF_ATTACHMENT_TYPE_UNDEFINED;
        }
        if (type == LIBPFF_ATTACHMENT_TYPE_ITEM) {
            attached.push_back(embedded_part(attachment, i, state, depth, problems));
        } else if (type == LIBPFF_ATTACHMENT_TYPE_DATA) {
            bool is_inline = false;
            mime_part part = data_part(attachment, i, code_page, html, state, problems, is_inline);
            (is_inline ? related : attached).push_back(std::move(part));
        }
        // Otherwise a link to a file outside the mailbox: nothing to carry over.
    }
}

// An embedded message as message/rfc822, or a note when it cannot be read.
mime_part mime_message::embedded_part(libpff_item_t *attachment, int i, build_state &state,
                                      int depth, std::vector<std::string> &problems)
{
    error_slot e;
    libpff_item_t *embedded = nullptr;
    if (depth + 1 >= max_embedding_depth ||
        libpff_attachment_get_item(attachment, &embedded, e.get()) != 1 || embedded == nullptr) {
        problems.push_back("embedded message " + std::to_string(i + 1) + " could not be read");
        return note_part("An embedded message could not be read.\n");
    }
    m_items.push_back(embedded);
    mime_part part;
    build_message(embedded, state, depth + 1, problems, part);
    header_lines headers;
    headers.add_content_type("message", "rfc822");
    headers.add_disposition("attachment", {});
    part.headers = headers.take();
    return part;
}

// An attachment's data as a part of its type, or a note when it is left out
// or its size cannot be read. is_inline: an image the HTML shows.
mime_part mime_message::data_part(libpff_item_t *attachment, int i, std::uint32_t code_page,
                                  const std::string &html, build_state &state,
                                  std::vector<std::string> &problems, bool &is_inline)
{
    is_inline = false;
    const std::string file_name = attachment_file_name(attachment, code_page);
    const int index = state.next_attachment++;
    if (state.left_out->count(index) != 0) {
        return note_part("The attachment \"" + file_name +
                         "\" could not be read from the mailbox.\n");
    }
    error_slot e;
    size64_t size = 0;
    int size_result = libpff_attachment_get_data_size(attachment, &size, e.get());
    if (size_result == -1) {
        problems.push_back("attachment " + std::to_string(i + 1) + " (" + file_name +
                           ") could not be read");
        return note_part("The attachment \"" + file_name +
                         "\" could not be read from the mailbox.\n");
    }
    if (size_result != 1) {
        size = 0; // no data at all: an empty attachment
    }
    m_content_bytes += size;
    std::string mime;
    read_set_string(attachment, 0, tag_attach_mime_tag, mime, code_page);
    std::string major;
    std::string minor;
    if (!split_mime_type(mime, major, minor)) {
        split_mime_type(mime_type_for_extension(file_name), major, minor);
    }
    mime_part part;
    part.what = mime_part::kind::attachment;
    part.attachment = attachment;
    part.size = size;
    part.id = index;
    std::string content_id;
    read_set_string(attachment, 0, tag_attach_content_id, content_id, code_page);
    content_id.erase(std::remove_if(content_id.begin(), content_id.end(),
                                    [](char c) { return c == '<' || c == '>' || c == ' '; }),
                     content_id.end());
    is_inline = !content_id.empty() && !html.empty() &&
                html.find("cid:" + content_id) != std::string::npos;
    // Headers in the order readers have always seen: a named part's
    // disposition before its content id, an unnamed one's after.
    header_lines headers;
    headers.add_content_type(major, minor, file_name.empty() ? nullptr : "name", file_name.c_str());
    headers.add_fixed("Content-Transfer-Encoding", "base64");
    if (file_name.empty() && !content_id.empty()) {
        headers.add_id("Content-Id", content_id);
    }
    headers.add_disposition(is_inline ? "inline" : "attachment", file_name);
    if (!file_name.empty() && !content_id.empty()) {
        headers.add_id("Content-Id", content_id);
    }
    part.headers = headers.take();
    return part;
}

int mime_message::write(fd_writer &out)
{
    if (m_root.what != mime_part::kind::message) {
        return -1;
    }
    mime_part_writer writer(out, m_stop);
    const bool written = writer.write_message(m_root);
    m_failed = writer.failed_attachment();
    return written ? 1 : -1;
}

int mime_message::failed_attachment() const
{
    return m_failed;
}

} // namespace korvel::convert
