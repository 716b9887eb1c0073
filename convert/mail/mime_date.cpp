#include "convert/mail/mime_date.h"

#include <array>
#include <string>
#include <vector>

namespace korvel::convert {

namespace {

// The date-time with its comments (nested, with quoted pairs) turned into
// blanks; std::nullopt when a comment is not closed.
std::optional<std::string> without_comments(std::string_view text)
{
    std::string out;
    int depth = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (depth > 0 && c == '\\') {
            ++i;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')' && depth > 0) {
            if (--depth == 0) {
                out += ' ';
            }
        } else if (depth == 0) {
            out += c;
        }
    }
    if (depth != 0) {
        return std::nullopt;
    }
    return out;
}

// Reads the date-time's parts in order; each step skips blanks first.
class date_reader
{
public:
    explicit date_reader(std::string_view text) : m_text(text) {}

    bool at_end()
    {
        skip_blanks();
        return m_at == m_text.size();
    }

    bool symbol(char c)
    {
        skip_blanks();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }

    // A run of digits of min..max length and its value.
    bool number(std::size_t min, std::size_t max, int &value)
    {
        skip_blanks();
        std::size_t n = 0;
        value = 0;
        while (m_at + n < m_text.size() && n <= max && is_digit(m_text[m_at + n])) {
            value = value * 10 + (m_text[m_at + n] - '0');
            ++n;
        }
        if (n < min || n > max) {
            return false;
        }
        m_at += n;
        return true;
    }

    // A run of letters, as written.
    std::string word()
    {
        skip_blanks();
        std::size_t start = m_at;
        while (m_at < m_text.size() && is_letter(m_text[m_at])) {
            ++m_at;
        }
        return std::string(m_text.substr(start, m_at - start));
    }

    // Looks at the next word without taking it.
    std::string peek_word()
    {
        std::size_t at = m_at;
        std::string w = word();
        m_at = at;
        return w;
    }

private:
    static bool is_digit(char c) { return c >= '0' && c <= '9'; }
    static bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
    void skip_blanks()
    {
        while (m_at < m_text.size() &&
               (m_text[m_at] == ' ' || m_text[m_at] == '\t' || m_text[m_at] == '\r' ||
                m_text[m_at] == '\n')) {
            ++m_at;
        }
    }

    std::string_view m_text;
    std::size_t m_at = 0;
};

bool same_word(const std::string &a, std::string_view b)
{
    return g_ascii_strcasecmp(a.c_str(), std::string(b).c_str()) == 0;
}

template <std::size_t N>
int index_of(const std::string &w, const std::array<std::string_view, N> &names)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (same_word(w, names[i])) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

constexpr std::array<std::string_view, 7> day_names = {"Mon", "Tue", "Wed", "Thu",
                                                        "Fri", "Sat", "Sun"};
constexpr std::array<std::string_view, 12> month_names = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 10> zone_names = {"UT",  "GMT", "EST", "EDT", "CST",
                                                         "CDT", "MST", "MDT", "PST", "PDT"};

bool zone(date_reader &r)
{
    if (r.symbol('+') || r.symbol('-')) {
        int offset = 0;
        return r.number(4, 4, offset) && offset % 100 < 60;
    }
    const std::string w = r.word();
    if (index_of(w, zone_names) >= 0) {
        return true;
    }
    // The obsolete military zones: one letter other than J.
    return w.size() == 1 && w != "J" && w != "j";
}

} // namespace

bool is_rfc5322_date(std::string_view text)
{
    const std::optional<std::string> bare = without_comments(text);
    if (!bare) {
        return false;
    }
    date_reader r(*bare);
    if (index_of(r.peek_word(), day_names) >= 0) {
        r.word();
        if (!r.symbol(',')) {
            return false;
        }
    }
    int day = 0;
    int year = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    if (!r.number(1, 2, day) || day < 1 || day > 31 || index_of(r.word(), month_names) < 0 ||
        !r.number(2, 4, year) || !r.number(2, 2, hour) || hour > 23 || !r.symbol(':') ||
        !r.number(2, 2, minute) || minute > 59) {
        return false;
    }
    if (r.symbol(':') && (!r.number(2, 2, second) || second > 60)) {
        return false;
    }
    return zone(r) && r.at_end();
}

void settle_date_header(GMimeMessage *message, std::optional<std::int64_t> made_from)
{
    GMimeObject *object = GMIME_OBJECT(message);
    GMimeHeaderList *headers = g_mime_object_get_header_list(object);
    std::vector<std::string> dates;
    const int count = g_mime_header_list_get_count(headers);
    for (int i = 0; i < count; ++i) {
        GMimeHeader *header = g_mime_header_list_get_header_at(headers, i);
        const char *name = g_mime_header_get_name(header);
        if (name != nullptr && g_ascii_strcasecmp(name, "Date") == 0) {
            const char *value = g_mime_header_get_value(header);
            dates.emplace_back(value != nullptr ? value : "");
        }
    }
    const bool first_reads = !dates.empty() && is_rfc5322_date(dates.front());
    if (first_reads && dates.size() == 1) {
        return;
    }
    for (std::size_t i = first_reads ? 1 : 0; i < dates.size(); ++i) {
        g_mime_object_append_header(object, "X-Original-Date", dates[i].c_str(), nullptr);
    }
    while (g_mime_object_remove_header(object, "Date")) {
    }
    if (first_reads) {
        g_mime_object_set_header(object, "Date", dates.front().c_str(), nullptr);
    } else if (made_from) {
        GDateTime *date = g_date_time_new_from_unix_utc(*made_from);
        if (date != nullptr) {
            g_mime_message_set_date(message, date);
            g_date_time_unref(date);
        }
    }
}

} // namespace korvel::convert
