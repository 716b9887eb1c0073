#include "scan/text.h"

#include <algorithm>

namespace korvel {

namespace {

// Windows-1252 bytes 0x80 to 0x9F; the five undefined ones keep their C1 value.
constexpr char16_t windows1252_high[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

} // namespace

char16_t windows1252_to_utf16(unsigned char byte)
{
    if (byte >= 0x80 && byte <= 0x9F) {
        return windows1252_high[byte - 0x80];
    }
    return static_cast<char16_t>(byte);
}

std::size_t utf8_sequence_length(const unsigned char *bytes, std::size_t size,
                                 std::uint32_t &code_point)
{
    if (size == 0) {
        return 0;
    }
    unsigned char lead = bytes[0];
    if (lead < 0x80) {
        code_point = lead;
        return 1;
    }
    std::size_t length;
    std::uint32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        minimum = 0x80;
        code_point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        minimum = 0x800;
        code_point = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        minimum = 0x10000;
        code_point = lead & 0x07u;
    } else {
        return 0;
    }
    if (size < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((bytes[i] & 0xC0u) != 0x80u) {
            return 0;
        }
        code_point = (code_point << 6) | (bytes[i] & 0x3Fu);
    }
    if (code_point < minimum || code_point > 0x10FFFF ||
        (code_point >= 0xD800 && code_point <= 0xDFFF)) {
        return 0;
    }
    return length;
}

void append_code_point(std::u16string &out, std::uint32_t code_point)
{
    if (code_point >= 0x10000) {
        code_point -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (code_point >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (code_point & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(code_point));
    }
}

bool utf8_to_utf16(std::string_view utf8, std::u16string &out)
{
    out.clear();
    out.reserve(utf8.size());
    const auto *bytes = reinterpret_cast<const unsigned char *>(utf8.data());
    std::size_t i = 0;
    while (i < utf8.size()) {
        std::uint32_t code_point = 0;
        std::size_t length = utf8_sequence_length(bytes + i, utf8.size() - i, code_point);
        if (length == 0) {
            return false;
        }
        append_code_point(out, code_point);
        i += length;
    }
    return true;
}

namespace {

// count UTF-16 units (unit(i) reads one) as UTF-8, straight into a string
// sized first (a pair counted 3 + 3 makes 4: counted high, cut below); a
// lone surrogate becomes U+FFFD. A push_back a byte took a tenth of a mail
// conversion.
template <typename Unit> std::string encode_utf8(std::size_t count, Unit unit)
{
    std::size_t length = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t c = unit(i);
        length += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
    }
    std::string out(length, '\0');
    char *o = out.data();
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDFFF) {
            const std::uint32_t next = i + 1 < count ? unit(i + 1) : 0;
            if (c <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
                c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
                ++i;
            } else {
                c = 0xFFFD;
            }
        }
        if (c < 0x80) {
            *o++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *o++ = static_cast<char>(0xC0 | (c >> 6));
            *o++ = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            *o++ = static_cast<char>(0xE0 | (c >> 12));
            *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *o++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *o++ = static_cast<char>(0xF0 | (c >> 18));
            *o++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            *o++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *o++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    out.resize(static_cast<std::size_t>(o - out.data()));
    return out;
}

} // namespace

std::string utf16_to_utf8(std::u16string_view utf16)
{
    return encode_utf8(utf16.size(), [utf16](std::size_t i) { return std::uint32_t{utf16[i]}; });
}

std::string utf16le_to_utf8(const std::uint8_t *bytes, std::size_t size)
{
    auto unit = [bytes](std::size_t i) {
        return static_cast<std::uint32_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    };
    std::size_t units = 0;
    while (units < size / 2 && unit(units) != 0) {
        ++units;
    }
    return encode_utf8(units, unit);
}

std::u16string decode_8bit(std::string_view text)
{
    text = text.substr(0, text.find('\0'));
    const auto *bytes = reinterpret_cast<const unsigned char *>(text.data());
    // Most texts are ASCII, which every reading below leaves as it is.
    if (std::all_of(bytes, bytes + text.size(), [](unsigned char b) { return b < 0x80; })) {
        return std::u16string(bytes, bytes + text.size());
    }
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        std::uint32_t code_point = 0;
        std::size_t length = utf8_sequence_length(bytes + i, text.size() - i, code_point);
        if (length == 0) {
            out.push_back(windows1252_to_utf16(bytes[i]));
            ++i;
        } else {
            append_code_point(out, code_point);
            i += length;
        }
    }
    return out;
}

std::string subject_without_marker(std::string_view utf8)
{
    std::size_t start = 0;
    if (!utf8.empty() && utf8[0] == '\x01') {
        start = 1;
        if (start < utf8.size()) {
            // The length character: one UTF-8 sequence (or one stray byte).
            std::uint32_t code_point = 0;
            const std::size_t length =
                utf8_sequence_length(reinterpret_cast<const unsigned char *>(utf8.data()) + start,
                                     utf8.size() - start, code_point);
            start += length > 0 ? length : 1;
        }
    }
    std::string out;
    out.reserve(utf8.size() - start);
    for (std::size_t i = start; i < utf8.size(); ++i) {
        const unsigned char byte = static_cast<unsigned char>(utf8[i]);
        if (byte >= 0x20 && byte != 0x7F) {
            out.push_back(static_cast<char>(byte));
        }
    }
    return out;
}

} // namespace korvel
