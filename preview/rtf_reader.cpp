#include "preview/rtf_reader.h"

#include <array>
#include <cstddef>
#include <deque>
#include <limits>
#include <mutex>
#include <new>
#include <string_view>
#include <utility>

#include "scan/text.h"

namespace korvel {

std::u16string rtf_text;

namespace {

// --- Reader state ---------------------------------------------------------

enum class destination_state : std::uint8_t
{
    normal = 0, // text bytes are emitted
    skip = 1,   // text bytes are dropped
};

enum class input_state : std::uint8_t
{
    normal = 0,      // bytes are text, braces or control words
    binary = 1,      // bytes are binary data, counted by the binary count
    hexadecimal = 2, // bytes are the hex digits of one "\'" escape
};

struct character_properties
{
    // Bold, set by "b".
    std::uint8_t bold;
    // Underline, set by "u" (and so by Unicode escapes).
    std::uint8_t underline;
    // Italic, set by "i".
    std::uint8_t italic;

    bool operator==(const character_properties &) const = default;
};

struct paragraph_properties
{
    // Left indent in twips, set by "li".
    std::int32_t left_indent;
    // Right indent in twips, set by "ri".
    std::int32_t right_indent;
    // First-line indent in twips, set by "fi".
    std::int32_t first_indent;
    // Justification: 0 left, 1 right, 2 centred, 3 justified.
    std::uint8_t justification;

    bool operator==(const paragraph_properties &) const = default;
};

struct section_properties
{
    // Column count, set by "cols".
    std::int32_t columns;
    // Page-number x position in twips, set by "pgnx".
    std::int32_t page_number_x;
    // Page-number y position in twips, set by "pgny".
    std::int32_t page_number_y;
    // Break type: 0 none, 1 column, 2 even, 3 odd, 4 page.
    std::uint8_t break_type;
    // Page-number format: 0 decimal, 1 upper roman, 2 lower roman, 3 upper
    // letter, 4 lower letter.
    std::uint8_t page_number_format;

    bool operator==(const section_properties &) const = default;
};

struct document_properties
{
    // Page width in twips, set by "paperw".
    std::int32_t page_width;
    // Page height in twips, set by "paperh".
    std::int32_t page_height;
    // Left margin in twips, set by "margl".
    std::int32_t margin_left;
    // Right margin in twips, set by "margr".
    std::int32_t margin_right;
    // Top margin in twips, set by "margt".
    std::int32_t margin_top;
    // Bottom margin in twips, set by "margb".
    std::int32_t margin_bottom;
    // First page number, set by "pgnstart".
    std::int32_t first_page;
    // Facing pages, set by "facingp".
    std::uint8_t facing_pages;
    // Landscape, set by "landscape".
    std::uint8_t landscape;

    bool operator==(const document_properties &) const = default;
};

// What a "{" saves and the matching "}" restores.
struct saved_state
{
    // Character formatting of the enclosing group.
    character_properties character;
    // Paragraph formatting of the enclosing group.
    paragraph_properties paragraph;
    // Section formatting of the enclosing group.
    section_properties section;
    // Document formatting of the enclosing group.
    document_properties document;
    // Destination state of the enclosing group.
    destination_state destination;
    // Input state at the "{".
    input_state input;

    bool operator==(const saved_state &) const = default;
};

// Consecutive groups opened with the same state share one entry, so that a
// run of "{" costs nothing however long it is; every other entry needs at
// least a control word and a brace of the document, so the stack's memory
// stays proportional to the document's size.
struct saved_run
{
    // The state every group of the run restores.
    saved_state state;
    // Number of open groups in the run (at least 1).
    std::uint64_t count;
};

struct reader_state
{
    // Whether text bytes are emitted or dropped.
    destination_state destination = destination_state::normal;
    // How the next input byte is taken.
    input_state input = input_state::normal;
    // Bytes left in the current binary run.
    std::uint64_t binary_count = 0;
    // Set by "*"; consumed by the next control word.
    bool skip_if_unknown = false;
    // Number of open groups (the sum of the stack's counts).
    std::uint64_t group_depth = 0;
    // Saved states of the open groups, newest last. A deque grows in fixed
    // blocks, so a deep stack never needs one huge reallocation, and it is
    // freed iteratively, never by recursion.
    std::deque<saved_run> stack;
    // Character formatting in force.
    character_properties character{};
    // Paragraph formatting in force.
    paragraph_properties paragraph{};
    // Section formatting in force.
    section_properties section{};
    // Document formatting in force.
    document_properties document{};
};

// The process-wide reader that rtf_parse continues from document to
// document, and the lock that keeps it to one document at a time.
reader_state process_state;
std::mutex process_mutex;

// The reader and text of the document this thread is reading. Thread-local,
// so that a reader of its own on one thread never redirects another's.
thread_local reader_state *state = &process_state;
thread_local std::u16string *output = &rtf_text;

// Points this thread's reading at a reader and a text for one document.
class reading_scope
{
public:
    reading_scope(reader_state &reader, std::u16string &out)
        : m_reader(std::exchange(state, &reader)), m_output(std::exchange(output, &out))
    {
    }
    ~reading_scope()
    {
        state = m_reader;
        output = m_output;
    }
    reading_scope(const reading_scope &) = delete;
    reading_scope &operator=(const reading_scope &) = delete;

private:
    reader_state *m_reader;
    std::u16string *m_output;
};

// --- Keyword table ----------------------------------------------------------

enum class keyword_kind : std::uint8_t
{
    character,   // the value goes down the character path
    destination, // the group's text is skipped
    property,    // the property named by the index is set
    special,     // binary run, hexadecimal byte or skip-if-unknown
};

enum property_index : std::uint8_t
{
    property_bold,
    property_underline,
    property_italic,
    property_left_indent,
    property_right_indent,
    property_first_indent,
    property_columns,
    property_break_type,
    property_page_number_x,
    property_page_number_y,
    property_page_number_format,
    property_justification,
    property_page_width,
    property_page_height,
    property_margin_left,
    property_margin_right,
    property_margin_top,
    property_margin_bottom,
    property_first_page,
    property_facing_pages,
    property_landscape,
};

enum special_index : std::uint8_t
{
    special_binary,
    special_skip_if_unknown,
    special_hexadecimal,
};

struct keyword_entry
{
    // The control word's letters, or a control symbol's one byte.
    std::string_view keyword;
    // How the entry acts.
    keyword_kind kind;
    // Character byte, or the property value used without a parameter.
    std::int32_t value;
    // A property entry that ignores the parameter.
    bool always_use_value;
    // A property_index or special_index; 0 for the other kinds.
    std::uint8_t index;
};

using kind = keyword_kind;

constexpr keyword_entry character_entry(std::string_view keyword, std::int32_t value)
{
    return {keyword, kind::character, value, false, 0};
}

constexpr keyword_entry destination_entry(std::string_view keyword)
{
    return {keyword, kind::destination, 0, false, 0};
}

constexpr std::array<keyword_entry, 78> keywords{{
    {"b", kind::property, 1, false, property_bold},
    {"u", kind::property, 1, false, property_underline},
    {"i", kind::property, 1, false, property_italic},
    {"li", kind::property, 0, false, property_left_indent},
    {"ri", kind::property, 0, false, property_right_indent},
    {"fi", kind::property, 0, false, property_first_indent},
    {"cols", kind::property, 1, false, property_columns},
    {"sbknone", kind::property, 0, true, property_break_type},
    {"sbkcol", kind::property, 1, true, property_break_type},
    {"sbkeven", kind::property, 2, true, property_break_type},
    {"sbkodd", kind::property, 3, true, property_break_type},
    {"sbkpage", kind::property, 4, true, property_break_type},
    {"pgnx", kind::property, 0, false, property_page_number_x},
    {"pgny", kind::property, 0, false, property_page_number_y},
    {"pgndec", kind::property, 0, true, property_page_number_format},
    {"pgnucrm", kind::property, 1, true, property_page_number_format},
    {"pgnlcrm", kind::property, 2, true, property_page_number_format},
    {"pgnucltr", kind::property, 3, true, property_page_number_format},
    {"pgnlcltr", kind::property, 4, true, property_page_number_format},
    {"qc", kind::property, 2, true, property_justification},
    {"ql", kind::property, 0, true, property_justification},
    {"qr", kind::property, 1, true, property_justification},
    {"qj", kind::property, 3, true, property_justification},
    {"paperw", kind::property, 12240, false, property_page_width},
    {"paperh", kind::property, 15480, false, property_page_height},
    {"margl", kind::property, 1800, false, property_margin_left},
    {"margr", kind::property, 1800, false, property_margin_right},
    {"margt", kind::property, 1440, false, property_margin_top},
    {"margb", kind::property, 1440, false, property_margin_bottom},
    {"pgnstart", kind::property, 1, true, property_first_page},
    {"facingp", kind::property, 1, true, property_facing_pages},
    {"landscape", kind::property, 1, true, property_landscape},
    character_entry("par", 0x0A),
    character_entry(std::string_view("\n", 1), 0x0A),
    character_entry(std::string_view("\r", 1), 0x0A),
    character_entry("tab", 0x09),
    character_entry("ldblquote", 0x22),
    character_entry("rdblquote", 0x22),
    character_entry("line", 0x0D),
    {"bin", kind::special, 0, false, special_binary},
    {"*", kind::special, 0, false, special_skip_if_unknown},
    {"'", kind::special, 0, false, special_hexadecimal},
    destination_entry("author"),
    destination_entry("buptim"),
    destination_entry("colortbl"),
    destination_entry("comment"),
    destination_entry("creatim"),
    destination_entry("doccomm"),
    destination_entry("fonttbl"),
    destination_entry("footer"),
    destination_entry("footerf"),
    destination_entry("footerl"),
    destination_entry("footerr"),
    destination_entry("footnote"),
    destination_entry("ftncn"),
    destination_entry("ftnsep"),
    destination_entry("ftnsepc"),
    destination_entry("header"),
    destination_entry("headerf"),
    destination_entry("headerl"),
    destination_entry("headerr"),
    destination_entry("info"),
    destination_entry("keywords"),
    destination_entry("operator"),
    destination_entry("pict"),
    destination_entry("printim"),
    destination_entry("private1"),
    destination_entry("revtim"),
    destination_entry("rxe"),
    destination_entry("stylesheet"),
    destination_entry("subject"),
    destination_entry("tc"),
    destination_entry("title"),
    destination_entry("txe"),
    destination_entry("xe"),
    character_entry("{", 0x7B),
    character_entry("}", 0x7D),
    character_entry("\\", 0x5C),
}};

// Control words longer than any RTF keyword are read to their end but taken
// as unknown; the longest in our table has 10 letters.
constexpr std::size_t max_keyword_letters = 32;

// Parameter digits beyond this value no longer change it (no overflow, and a
// "bin" run this long reaches the end of any stream first).
constexpr std::uint64_t max_digit_value = std::numeric_limits<std::uint64_t>::max() / 16;

bool is_letter(int byte)
{
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z');
}

bool is_digit(int byte)
{
    return byte >= '0' && byte <= '9';
}

// The control word as read: its keyword and parameter.
struct control_word
{
    // Letters, or a control symbol's one byte; empty when over-long.
    std::string_view keyword;
    // Whether digits followed the letters.
    bool has_parameter;
    // The signed parameter, clamped to 32 bits.
    std::int32_t parameter;
    // The digits' value alone, without sign (saturating): a "bin" count.
    std::uint64_t long_parameter;
};

// --- Character path -----------------------------------------------------------

// Emits one byte (or table value): counts it towards a binary run, and
// appends it as Windows-1252 text when the destination is normal. A zero
// value counts towards the run but appends nothing. Always returns rtf_ok.
int parse_character(std::int32_t value)
{
    if (state->input == input_state::binary) {
        if (state->binary_count > 0) {
            --state->binary_count;
        }
        if (state->binary_count == 0) {
            state->input = input_state::normal;
        }
    }
    if (value == 0 || state->destination != destination_state::normal) {
        return rtf_ok;
    }
    auto byte = static_cast<unsigned char>(static_cast<std::uint32_t>(value) & 0xFFU);
    output->push_back(windows1252_to_utf16(byte));
    return rtf_ok;
}

// --- Groups -------------------------------------------------------------------

saved_state current_state()
{
    return {state->character, state->paragraph,   state->section,
            state->document,  state->destination, state->input};
}

// "{": saves the current state-> Returns rtf_ok, or rtf_out_of_memory when
// the saved state cannot be stored (the reader state is then unchanged).
int push_state()
{
    saved_state saved = current_state();
    if (!state->stack.empty() && state->stack.back().state == saved &&
        state->stack.back().count < std::numeric_limits<std::uint64_t>::max()) {
        ++state->stack.back().count;
    } else {
        try {
            state->stack.push_back({saved, 1});
        } catch (const std::bad_alloc &) {
            return rtf_out_of_memory;
        }
    }
    state->input = input_state::normal;
    ++state->group_depth;
    return rtf_ok;
}

// "}": restores the state saved by the matching "{". Returns rtf_ok, or
// rtf_unbalanced_close when no group is open.
int pop_state()
{
    if (state->stack.empty()) {
        return rtf_unbalanced_close;
    }
    saved_run &newest = state->stack.back();
    state->character = newest.state.character;
    state->paragraph = newest.state.paragraph;
    state->section = newest.state.section;
    state->document = newest.state.document;
    state->destination = newest.state.destination;
    state->input = newest.state.input;
    if (--newest.count == 0) {
        state->stack.pop_back();
    }
    --state->group_depth;
    return rtf_ok;
}

// --- Keywords -----------------------------------------------------------------

std::uint8_t low_byte(std::int32_t value)
{
    return static_cast<std::uint8_t>(static_cast<std::uint32_t>(value) & 0xFFU);
}

// Sets one formatting property. Returns rtf_ok, or rtf_bad_table for an
// index that names no property.
int apply_property(std::uint8_t index, std::int32_t value)
{
    switch (index) {
    case property_bold:
        state->character.bold = low_byte(value);
        break;
    case property_underline:
        state->character.underline = low_byte(value);
        break;
    case property_italic:
        state->character.italic = low_byte(value);
        break;
    case property_left_indent:
        state->paragraph.left_indent = value;
        break;
    case property_right_indent:
        state->paragraph.right_indent = value;
        break;
    case property_first_indent:
        state->paragraph.first_indent = value;
        break;
    case property_justification:
        state->paragraph.justification = low_byte(value);
        break;
    case property_columns:
        state->section.columns = value;
        break;
    case property_break_type:
        state->section.break_type = low_byte(value);
        break;
    case property_page_number_x:
        state->section.page_number_x = value;
        break;
    case property_page_number_y:
        state->section.page_number_y = value;
        break;
    case property_page_number_format:
        state->section.page_number_format = low_byte(value);
        break;
    case property_page_width:
        state->document.page_width = value;
        break;
    case property_page_height:
        state->document.page_height = value;
        break;
    case property_margin_left:
        state->document.margin_left = value;
        break;
    case property_margin_right:
        state->document.margin_right = value;
        break;
    case property_margin_top:
        state->document.margin_top = value;
        break;
    case property_margin_bottom:
        state->document.margin_bottom = value;
        break;
    case property_first_page:
        state->document.first_page = value;
        break;
    case property_facing_pages:
        state->document.facing_pages = low_byte(value);
        break;
    case property_landscape:
        state->document.landscape = low_byte(value);
        break;
    default:
        return rtf_bad_table;
    }
    return rtf_ok;
}

// Binary run, hexadecimal byte or skip-if-unknown. Returns rtf_ok, or
// rtf_bad_table for an unknown index.
int apply_special(std::uint8_t index, const control_word &word)
{
    switch (index) {
    case special_binary:
        // Acts in skipped groups too, so that their binary data is stepped
        // over. A zero-length run holds no bytes: the next byte is the
        // document's again.
        if (word.long_parameter > 0) {
            state->input = input_state::binary;
            state->binary_count = word.long_parameter;
        }
        return rtf_ok;
    case special_skip_if_unknown:
        if (state->destination == destination_state::normal) {
            state->skip_if_unknown = true;
        }
        return rtf_ok;
    case special_hexadecimal:
        if (state->destination == destination_state::normal) {
            state->input = input_state::hexadecimal;
        }
        return rtf_ok;
    default:
        return rtf_bad_table;
    }
}

// Looks the keyword up in the table and acts on it. Returns rtf_ok, or
// rtf_bad_table for an entry of an unknown kind or index.
int translate_keyword(const control_word &word)
{
    const keyword_entry *entry = nullptr;
    if (!word.keyword.empty()) {
        for (const keyword_entry &candidate : keywords) {
            if (candidate.keyword == word.keyword) {
                entry = &candidate;
                break;
            }
        }
    }
    if (entry == nullptr) {
        // An unknown word after "*" starts a destination we do not know:
        // skip it rather than show its contents as text.
        if (state->skip_if_unknown) {
            state->destination = destination_state::skip;
        }
        state->skip_if_unknown = false;
        return rtf_ok;
    }
    state->skip_if_unknown = false;
    switch (entry->kind) {
    case kind::character:
        return parse_character(entry->value);
    case kind::destination:
        state->destination = destination_state::skip;
        return rtf_ok;
    case kind::property:
        if (state->destination == destination_state::skip) {
            return rtf_ok;
        }
        return apply_property(entry->index, word.has_parameter && !entry->always_use_value
                                                ? word.parameter
                                                : entry->value);
    case kind::special:
        return apply_special(entry->index, word);
    }
    return rtf_bad_table;
}

// Reads a control word or symbol after a backslash and acts on it. Returns
// rtf_ok, rtf_end_of_file when the stream ends right after the backslash or
// after a parameter's "-", or what the keyword's action returns.
int read_control_word(std::FILE *stream)
{
    int byte = std::getc(stream);
    if (byte == EOF) {
        return rtf_end_of_file;
    }
    char letters[max_keyword_letters];
    control_word word{{}, false, 0, 0};
    if (!is_letter(byte)) {
        // A control symbol: nothing after it is consumed.
        letters[0] = static_cast<char>(byte);
        word.keyword = std::string_view(letters, 1);
        return translate_keyword(word);
    }
    std::size_t length = 0;
    bool over_long = false;
    while (is_letter(byte)) {
        if (length < max_keyword_letters) {
            letters[length++] = static_cast<char>(byte);
        } else {
            over_long = true;
        }
        byte = std::getc(stream);
    }
    if (!over_long) {
        word.keyword = std::string_view(letters, length);
    }
    bool negative = false;
    if (byte == '-') {
        negative = true;
        byte = std::getc(stream);
        if (byte == EOF) {
            return rtf_end_of_file;
        }
    }
    while (is_digit(byte)) {
        word.has_parameter = true;
        auto digit = static_cast<std::uint64_t>(byte - '0');
        if (word.long_parameter <= max_digit_value) {
            word.long_parameter = word.long_parameter * 10 + digit;
        }
        byte = std::getc(stream);
    }
    if (word.has_parameter) {
        constexpr auto max_magnitude =
            static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
        if (negative) {
            word.parameter = word.long_parameter > max_magnitude
                                 ? std::numeric_limits<std::int32_t>::min()
                                 : -static_cast<std::int32_t>(word.long_parameter);
        } else {
            word.parameter = word.long_parameter > max_magnitude
                                 ? std::numeric_limits<std::int32_t>::max()
                                 : static_cast<std::int32_t>(word.long_parameter);
        }
    }
    // A blank is the word's delimiter and belongs to it; any other byte is
    // the document's next byte.
    if (byte != ' ' && byte != EOF) {
        std::ungetc(byte, stream);
    }
    return translate_keyword(word);
}

// The main loop over one document. The group depth cannot go below zero:
// a "}" without a saved state stops the document with rtf_unbalanced_close
// before it is counted.
int parse_document(std::FILE *stream)
{
    state->destination = destination_state::normal;
    state->input = input_state::normal;
    int hex_value = 0;
    int hex_digits_left = 2;
    if (stream == nullptr) {
        return state->group_depth > 0 ? rtf_unclosed_group : rtf_ok;
    }
    int byte;
    while ((byte = std::getc(stream)) != EOF) {
        if (state->input == input_state::binary) {
            parse_character(byte);
            continue;
        }
        int result = rtf_ok;
        switch (byte) {
        case '{':
            result = push_state();
            break;
        case '}':
            result = pop_state();
            break;
        case '\\':
            result = read_control_word(stream);
            break;
        case 0x0D:
        case 0x0A:
            break;
        default:
            if (state->input == input_state::normal) {
                result = parse_character(byte);
                break;
            }
            int digit = hex_digit(byte);
            if (digit < 0) {
                return rtf_bad_hex;
            }
            hex_value = hex_value * 16 + digit;
            if (--hex_digits_left == 0) {
                result = parse_character(hex_value);
                hex_value = 0;
                hex_digits_left = 2;
                state->input = input_state::normal;
            }
            break;
        }
        if (result != rtf_ok) {
            return result;
        }
    }
    return state->group_depth > 0 ? rtf_unclosed_group : rtf_ok;
}

// One document with the reader the scope points at.
int read_document(std::FILE *stream)
{
    int result = parse_document(stream);
    // A run left half-read must not leak into the next document's bytes.
    state->binary_count = 0;
    return result;
}

} // namespace

int rtf_parse(std::FILE *stream)
{
    return rtf_parse(stream, rtf_text);
}

int rtf_parse(std::FILE *stream, std::u16string &out)
{
    std::lock_guard<std::mutex> lock(process_mutex);
    reading_scope scope(process_state, out);
    return read_document(stream);
}

int rtf_parse_alone(std::FILE *stream, std::u16string &out)
{
    reader_state own;
    reading_scope scope(own, out);
    return read_document(stream);
}

void rtf_reader_reset()
{
    std::lock_guard<std::mutex> lock(process_mutex);
    process_state = reader_state{};
}

std::uint64_t rtf_reader_group_depth()
{
    std::lock_guard<std::mutex> lock(process_mutex);
    return process_state.group_depth;
}

std::size_t rtf_reader_stack_bytes()
{
    std::lock_guard<std::mutex> lock(process_mutex);
    return process_state.stack.size() * sizeof(saved_run);
}

} // namespace korvel
