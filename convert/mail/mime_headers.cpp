#include "convert/mail/mime_headers.h"

#include <functional>
#include <unordered_map>

#include <gmime/gmime.h>

namespace korvel::convert {

namespace {

// GMime's header formatters read the header's name (for the folding of its
// first line) and parser options from a header object: one list per thread
// keeps one such header per name, made the first time the name is met.
class formatting_headers
{
public:
    formatting_headers() : m_list(g_mime_header_list_new(g_mime_parser_options_get_default())) {}
    ~formatting_headers()
    {
        g_object_unref(m_list);
        if (m_params != nullptr) {
            g_mime_param_list_clear(m_params);
            g_object_unref(m_params);
        }
    }
    formatting_headers(const formatting_headers &) = delete;
    formatting_headers &operator=(const formatting_headers &) = delete;

    GMimeHeader *header(const char *name)
    {
        GMimeHeader *h = g_mime_header_list_get_header(m_list, name);
        if (h == nullptr) {
            g_mime_header_list_append(m_list, name, "", nullptr);
            h = g_mime_header_list_get_header(m_list, name);
        }
        return h;
    }

    // An empty parameter list, reused.
    GMimeParamList *params()
    {
        if (m_params == nullptr) {
            m_params = g_mime_param_list_new();
        }
        g_mime_param_list_clear(m_params);
        return m_params;
    }

private:
    GMimeHeaderList *m_list;
    GMimeParamList *m_params = nullptr;
};

formatting_headers &formatting()
{
    thread_local formatting_headers headers;
    return headers;
}

// Appends "name:" and a raw value GMime made (which starts with its blank and
// ends with its line end), then frees the value.
void append_raw(std::string &out, const char *name, char *raw_value)
{
    out += name;
    out += ':';
    if (raw_value != nullptr) {
        out += raw_value;
        g_free(raw_value);
    }
}

// Appends a GString GMime filled, from its start, and frees it.
void append_string(std::string &out, GString *text)
{
    out.append(text->str, text->len);
    g_string_free(text, TRUE);
}

// Header lines GMime formatted once, by what they were made from.
class formatted_lines
{
public:
    // The line for key, made by make the first time.
    template <typename Make> const std::string &get(const std::string &key, Make make)
    {
        auto found = m_lines.find(key);
        if (found != m_lines.end()) {
            return found->second;
        }
        if (m_lines.size() >= limit) {
            m_lines.clear();
        }
        return m_lines.emplace(key, make()).first->second;
    }

private:
    static constexpr std::size_t limit = 256;
    std::unordered_map<std::string, std::string> m_lines;
};

formatted_lines &cache()
{
    thread_local formatted_lines lines;
    return lines;
}

std::string formatted_by(const std::function<void(header_lines &)> &add)
{
    header_lines lines;
    add(lines);
    return lines.take();
}

// The first character of a boundary must be formatted as its others are;
// ours start with "=_korvel_" (which GMime quotes) and go on in hex digits
// and '_', all alike.
constexpr std::string_view boundary_start = "=_korvel_";

} // namespace

void header_lines::add_fixed(const char *name, const char *value)
{
    std::string key = std::string(name) + '\0' + value;
    m_text += cache().get(key, [&] {
        return formatted_by([&](header_lines &lines) { lines.add_text(name, value); });
    });
}

void header_lines::add_text_type(const char *subtype, const char *charset)
{
    std::string key = std::string("text/") + subtype + '\0' + charset;
    m_text += cache().get(key, [&] {
        return formatted_by([&](header_lines &lines) {
            lines.add_content_type("text", subtype, "charset", charset);
        });
    });
}

void header_lines::add_multipart_type(const char *subtype, const std::string &boundary)
{
    if (boundary.size() <= boundary_start.size() ||
        boundary.compare(0, boundary_start.size(), boundary_start) != 0) {
        add_content_type("multipart", subtype, "boundary", boundary.c_str());
        return;
    }
    std::string stand_in(boundary_start);
    stand_in.resize(boundary.size(), '0');
    std::string key = std::string("multipart/") + subtype + '\0' + std::to_string(boundary.size());
    const std::string &line = cache().get(key, [&] {
        return formatted_by([&](header_lines &lines) {
            lines.add_content_type("multipart", subtype, "boundary", stand_in.c_str());
        });
    });
    const std::size_t at = line.find(stand_in);
    if (at == std::string::npos) {
        add_content_type("multipart", subtype, "boundary", boundary.c_str());
        return;
    }
    m_text.append(line, 0, at);
    m_text += boundary;
    m_text.append(line, at + stand_in.size());
}

void header_lines::add_text(const char *name, const char *value, const char *charset)
{
    append_raw(m_text, name,
               g_mime_header_format_default(formatting().header(name), nullptr, value, charset));
}

void header_lines::add_id(const char *name, std::string_view id)
{
    // As GMime's message-id formatter writes it.
    m_text += name;
    m_text += ": <";
    m_text += id;
    m_text += ">\n";
}

void header_lines::add_references(const char *name, const char *value)
{
    append_raw(m_text, name,
               g_mime_header_format_references(formatting().header(name), nullptr, value, nullptr));
}

void header_lines::add_addresses(const char *name, const std::vector<address> &addresses)
{
    InternetAddressList *list = address_list(addresses);
    if (list == nullptr) {
        return;
    }
    // As the message writes an address header: the list encoded after the
    // name, so that the first line folds where it would.
    GString *line = g_string_new(name);
    g_string_append(line, ": ");
    internet_address_list_encode(list, nullptr, line);
    g_object_unref(list);
    append_string(m_text, line);
}

void header_lines::add_content_type(std::string_view type, std::string_view subtype,
                                    const char *parameter, const char *value)
{
    GString *line = g_string_new("Content-Type: ");
    g_string_append_len(line, type.data(), static_cast<gssize>(type.size()));
    g_string_append_c(line, '/');
    g_string_append_len(line, subtype.data(), static_cast<gssize>(subtype.size()));
    GMimeParamList *params = formatting().params();
    if (parameter != nullptr) {
        g_mime_param_list_set_parameter(params, parameter, value);
    }
    g_mime_param_list_encode(params, nullptr, TRUE, line);
    append_string(m_text, line);
}

void header_lines::add_disposition(const char *disposition, const std::string &file_name)
{
    GString *line = g_string_new("Content-Disposition: ");
    g_string_append(line, disposition);
    GMimeParamList *params = formatting().params();
    if (!file_name.empty()) {
        g_mime_param_list_set_parameter(params, "filename", file_name.c_str());
    }
    g_mime_param_list_encode(params, nullptr, TRUE, line);
    append_string(m_text, line);
}

std::string header_lines::take()
{
    std::string out;
    out.swap(m_text);
    return out;
}

} // namespace korvel::convert
