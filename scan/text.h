// Text conversions between what libpff hands us (UTF-8, or 8-bit text in the
// system's code page), the engine's wide strings (UTF-16) and file names
// (UTF-8).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korvel {

// Strict UTF-8 to UTF-16: returns false on any invalid sequence (out is then
// unspecified).
bool utf8_to_utf16(std::string_view utf8, std::u16string &out);

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD.
std::string utf16_to_utf8(std::u16string_view utf16);
// UTF-16LE bytes up to the first zero unit (or the last whole one) as UTF-8.
std::string utf16le_to_utf8(const std::uint8_t *bytes, std::size_t size);

// The system's 8-bit code page on this platform: valid UTF-8 sequences decode
// as UTF-8, and each byte that is not part of one is taken as Windows-1252, so
// nothing is lost and ASCII passes unchanged. Stops at the first zero byte.
std::u16string decode_8bit(std::string_view bytes);

// One Windows-1252 byte as a UTF-16 code unit (the five undefined bytes map to
// the C1 control of the same value).
char16_t windows1252_to_utf16(unsigned char byte);

// Length in bytes of the valid UTF-8 sequence starting at bytes[0], or 0 when
// no valid sequence starts there. code_point receives the decoded value.
std::size_t utf8_sequence_length(const unsigned char *bytes, std::size_t size,
                                 std::uint32_t &code_point);

// A stored PidTagSubject (UTF-8) as people read it: without the prefix marker
// a client may put in front (U+0001, then a character whose code is the
// length of the "RE: " prefix that follows, or U+0001 alone when the prefix
// is empty) and without any other control character, which mail programs and
// calendars would show as boxes. The list drops the same characters.
std::string subject_without_marker(std::string_view utf8);

// Appends a code point to a UTF-16 string.
void append_code_point(std::u16string &out, std::uint32_t code_point);

// u"..." literals compare and concatenate with std::u16string; this helper
// makes test and probe output readable.
// The value of an ASCII hexadecimal digit, or -1 for any other character.
constexpr int hex_digit(int c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

inline std::u16string u16(std::string_view utf8)
{
    std::u16string out;
    if (!utf8_to_utf16(utf8, out)) {
        out.clear();
    }
    return out;
}

} // namespace korvel
