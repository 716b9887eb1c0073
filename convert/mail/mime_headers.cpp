#include "convert/mail/mime_headers.h"

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

} // namespace

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
