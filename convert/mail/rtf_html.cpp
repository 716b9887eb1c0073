#include "convert/mail/rtf_html.h"

#include <array>
#include <cstddef>
#include <vector>

#include "scan/text.h"

namespace korvel::convert {

namespace {

// Groups nested deeper than this share the state of the deepest kept one, so
// a document of nothing but "{" cannot make the state stack grow without end.
constexpr std::size_t max_kept_depth = 4096;

struct token
{
    enum kind
    {
        end,
        open,
        close,
        word,   // \name[N]
        symbol, // \x (not a letter), \'hh is hex
        hex,    // \'hh
        text,   // one byte of text
    };
    kind type = end;
    std::string_view name;
    bool has_parameter = false;
    std::int32_t parameter = 0;
    unsigned char byte = 0;
};

bool is_letter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_digit(char c)
{
    return c >= '0' && c <= '9';
}

class lexer
{
public:
    explicit lexer(std::string_view rtf) : m_rtf(rtf) {}

    token next()
    {
        token t;
        while (m_pos < m_rtf.size()) {
            char c = m_rtf[m_pos++];
            switch (c) {
            case '{':
                t.type = token::open;
                return t;
            case '}':
                t.type = token::close;
                return t;
            case '\r':
            case '\n':
                // Raw line breaks carry no meaning in RTF.
                continue;
            case '\\':
                return control(t);
            default:
                t.type = token::text;
                t.byte = static_cast<unsigned char>(c);
                return t;
            }
        }
        return t;
    }

    // Skips n bytes of \binN data.
    void skip_bytes(std::int32_t n)
    {
        if (n <= 0) {
            return;
        }
        std::size_t left = m_rtf.size() - m_pos;
        m_pos += static_cast<std::size_t>(n) < left ? static_cast<std::size_t>(n) : left;
    }

private:
    token control(token &t)
    {
        if (m_pos >= m_rtf.size()) {
            return t; // a backslash at the very end: the document ends
        }
        char c = m_rtf[m_pos];
        if (!is_letter(c)) {
            ++m_pos;
            if (c == '\'') {
                if (m_pos + 1 < m_rtf.size()) {
                    int high = hex_digit(m_rtf[m_pos]);
                    int low = hex_digit(m_rtf[m_pos + 1]);
                    if (high >= 0 && low >= 0) {
                        m_pos += 2;
                        t.type = token::hex;
                        t.byte = static_cast<unsigned char>(high * 16 + low);
                        return t;
                    }
                }
                // A broken escape: the quote alone, ignored.
                t.type = token::symbol;
                t.byte = '\'';
                return t;
            }
            t.type = token::symbol;
            t.byte = static_cast<unsigned char>(c);
            return t;
        }
        std::size_t start = m_pos;
        while (m_pos < m_rtf.size() && is_letter(m_rtf[m_pos])) {
            ++m_pos;
        }
        t.type = token::word;
        t.name = m_rtf.substr(start, m_pos - start);
        bool negative = false;
        if (m_pos < m_rtf.size() && m_rtf[m_pos] == '-' && m_pos + 1 < m_rtf.size() &&
            is_digit(m_rtf[m_pos + 1])) {
            negative = true;
            ++m_pos;
        }
        if (m_pos < m_rtf.size() && is_digit(m_rtf[m_pos])) {
            std::int64_t value = 0;
            while (m_pos < m_rtf.size() && is_digit(m_rtf[m_pos])) {
                if (value < 0x7FFFFFFF) {
                    value = value * 10 + (m_rtf[m_pos] - '0');
                }
                ++m_pos;
            }
            if (value > 0x7FFFFFFF) {
                value = 0x7FFFFFFF;
            }
            t.has_parameter = true;
            t.parameter = static_cast<std::int32_t>(negative ? -value : value);
        }
        if (m_pos < m_rtf.size() && m_rtf[m_pos] == ' ') {
            ++m_pos; // the delimiter belongs to the control word
        }
        return t;
    }

    std::string_view m_rtf;
    std::size_t m_pos = 0;
};

// Destinations that hold no body text, also when written without "\*".
constexpr std::array<std::string_view, 24> skipped_destinations = {
    "fonttbl",
    "colortbl",
    "stylesheet",
    "info",
    "pict",
    "object",
    "header",
    "footer",
    "headerl",
    "headerr",
    "headerf",
    "footerl",
    "footerr",
    "footerf",
    "footnote",
    "fldinst",
    "themedata",
    "listtable",
    "listoverridetable",
    "rsidtbl",
    "generator",
    "xmlnstbl",
    "latentstyles",
    "datastore",
};

// Control words that stand for one character.
struct symbol_word
{
    std::string_view word;
    std::uint32_t code_point;
};

constexpr std::array<symbol_word, 9> symbol_words = {{
    {"lquote", 0x2018},
    {"rquote", 0x2019},
    {"ldblquote", 0x201C},
    {"rdblquote", 0x201D},
    {"bullet", 0x2022},
    {"endash", 0x2013},
    {"emdash", 0x2014},
    {"enspace", 0x2002},
    {"emspace", 0x2003},
}};

const symbol_word *find_symbol_word(std::string_view name)
{
    for (const symbol_word &s : symbol_words) {
        if (name == s.word) {
            return &s;
        }
    }
    return nullptr;
}

bool is_skipped_destination(std::string_view name)
{
    for (std::string_view d : skipped_destinations) {
        if (name == d) {
            return true;
        }
    }
    return false;
}

struct group_state
{
    bool skip = false;    // inside a destination without body text
    bool htmltag = false; // inside {\*\htmltag ...}
    bool htmlrtf = false; // inside \htmlrtf ... \htmlrtf0
    std::int32_t uc = 1;  // fallback characters after \uN
};

class extractor
{
public:
    extractor(std::string_view rtf, std::string &html) : m_lexer(rtf), m_html(html) {}

    void run()
    {
        m_stack.push_back(group_state{});
        for (;;) {
            token t = m_lexer.next();
            if (t.type == token::end) {
                break;
            }
            if (t.type == token::open) {
                open_group();
                continue;
            }
            if (t.type == token::close) {
                if (!close_group()) {
                    break; // the document's own group closed
                }
                continue;
            }
            if (m_group_start) {
                if (t.type == token::symbol && t.byte == '*') {
                    m_star = true;
                    continue;
                }
                m_group_start = false;
                if (t.type == token::word && start_destination(t)) {
                    continue;
                }
                if (m_star) {
                    // An unknown "\*" destination: readers skip what they do not know.
                    state().skip = true;
                }
            }
            handle(t);
        }
        flush_surrogate();
    }

    std::uint32_t code_page() const { return m_code_page; }

private:
    group_state &state() { return m_stack.back(); }

    bool emitting()
    {
        const group_state &s = state();
        return !s.skip && (s.htmltag || !s.htmlrtf);
    }

    void open_group()
    {
        m_fallback = 0;
        if (m_stack.size() < max_kept_depth) {
            m_stack.push_back(m_stack.back());
            // A destination keyword applies to the new group only.
            state().htmltag = state().htmltag && !state().skip;
        } else {
            ++m_excess;
        }
        m_group_start = true;
        m_star = false;
    }

    // False when the outermost group closes.
    bool close_group()
    {
        m_fallback = 0;
        m_group_start = false;
        m_star = false;
        if (m_excess > 0) {
            --m_excess;
            return true;
        }
        if (m_stack.size() <= 2) {
            // Stack: the state outside the document, then the document's group.
            if (m_stack.size() == 2) {
                m_stack.pop_back();
            }
            return false;
        }
        m_stack.pop_back();
        return true;
    }

    // A control word at the start of a group; true when it named a destination.
    bool start_destination(const token &t)
    {
        if (t.name == "htmltag" && m_star) {
            if (!state().skip) {
                state().htmltag = true;
            }
            return true;
        }
        if (t.name == "mhtmltag" || is_skipped_destination(t.name)) {
            // mhtmltag repeats a tag with rewritten links; the htmltag beside
            // it keeps the original.
            state().skip = true;
            return true;
        }
        return false;
    }

    void handle(const token &t)
    {
        if (m_fallback > 0 && (t.type == token::text || t.type == token::hex ||
                               t.type == token::word || t.type == token::symbol)) {
            --m_fallback;
            return;
        }
        switch (t.type) {
        case token::text:
        case token::hex:
            if (emitting()) {
                flush_surrogate();
                m_html.push_back(static_cast<char>(t.byte));
            }
            return;
        case token::symbol:
            symbol(t.byte);
            return;
        case token::word:
            word(t);
            return;
        default:
            return;
        }
    }

    void symbol(unsigned char c)
    {
        if (!emitting()) {
            return;
        }
        switch (c) {
        case '\\':
        case '{':
        case '}':
            flush_surrogate();
            m_html.push_back(static_cast<char>(c));
            return;
        case '~':
            code_point(0xA0);
            return;
        case '_':
            code_point(0x2011);
            return;
        case '\r':
        case '\n':
            line_break();
            return;
        default:
            return; // \- (optional hyphen), \| , \: and the like carry no text
        }
    }

    void word(const token &t)
    {
        std::string_view w = t.name;
        if (w == "htmlrtf") {
            state().htmlrtf = !t.has_parameter || t.parameter != 0;
            return;
        }
        if (w == "bin") {
            m_lexer.skip_bytes(t.has_parameter ? t.parameter : 0);
            return;
        }
        if (w == "ansicpg" && t.has_parameter && t.parameter > 0) {
            m_code_page = static_cast<std::uint32_t>(t.parameter);
            return;
        }
        if (w == "uc" && t.has_parameter) {
            state().uc = t.parameter < 0 ? 0 : (t.parameter > 16 ? 16 : t.parameter);
            return;
        }
        if (w == "u" && t.has_parameter) {
            if (emitting()) {
                std::int32_t v = t.parameter;
                if (v < 0) {
                    v += 65536;
                }
                unicode_unit(static_cast<std::uint32_t>(v));
            }
            m_fallback = state().uc;
            return;
        }
        if (!emitting()) {
            return;
        }
        if (w == "par" || w == "line") {
            line_break();
        } else if (w == "tab") {
            flush_surrogate();
            m_html.push_back('\t');
        } else if (const symbol_word *symbol = find_symbol_word(w)) {
            code_point(symbol->code_point);
        }
    }

    void line_break()
    {
        flush_surrogate();
        m_html += "\r\n";
    }

    void unicode_unit(std::uint32_t unit)
    {
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            flush_surrogate();
            m_high = unit;
            return;
        }
        if (unit >= 0xDC00 && unit <= 0xDFFF) {
            if (m_high != 0) {
                std::uint32_t cp = 0x10000 + ((m_high - 0xD800) << 10) + (unit - 0xDC00);
                m_high = 0;
                reference(cp);
            } else {
                reference(0xFFFD);
            }
            return;
        }
        if (unit == 0) {
            flush_surrogate();
            return;
        }
        code_point(unit);
    }

    void code_point(std::uint32_t cp)
    {
        flush_surrogate();
        reference(cp > 0x10FFFF ? 0xFFFD : cp);
    }

    void flush_surrogate()
    {
        if (m_high != 0) {
            m_high = 0;
            reference(0xFFFD);
        }
    }

    void reference(std::uint32_t cp)
    {
        m_html += "&#";
        m_html += std::to_string(cp);
        m_html += ';';
    }

    lexer m_lexer;
    std::string &m_html;
    std::vector<group_state> m_stack;
    std::size_t m_excess = 0;
    bool m_group_start = false;
    bool m_star = false;
    std::int32_t m_fallback = 0;
    std::uint32_t m_high = 0;
    std::uint32_t m_code_page = 1252;
};

} // namespace

bool rtf_encapsulates_html(std::string_view rtf)
{
    lexer l(rtf);
    token t = l.next();
    if (t.type != token::open) {
        return false;
    }
    t = l.next();
    if (t.type != token::word || t.name != "rtf") {
        return false;
    }
    // The marker sits among the header's first control words.
    for (int i = 0; i < 16; ++i) {
        t = l.next();
        if (t.type != token::word) {
            return false;
        }
        if (t.name == "fromhtml") {
            return !t.has_parameter || t.parameter == 1;
        }
    }
    return false;
}

int rtf_html_extract(std::string_view rtf, std::string &html, std::uint32_t &code_page)
{
    html.clear();
    code_page = 1252;
    if (!rtf_encapsulates_html(rtf)) {
        return 0;
    }
    extractor e(rtf, html);
    e.run();
    code_page = e.code_page();
    return 1;
}

} // namespace korvel::convert
