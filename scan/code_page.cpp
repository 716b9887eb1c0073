#include "scan/code_page.h"

#include "scan/text.h"

#include <cerrno>
#include <iconv.h>
#include <vector>

namespace korvel {

namespace {

std::u16string decode_1252(std::span<const std::uint8_t> bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    for (std::uint8_t b : bytes) {
        out.push_back(windows1252_to_utf16(b));
    }
    return out;
}

} // namespace

std::string iconv_code_page_name(std::uint32_t code_page)
{
    if (code_page >= 28591 && code_page <= 28606) {
        return "ISO-8859-" + std::to_string(code_page - 28590);
    }
    switch (code_page) {
    case 20127:
        return "ASCII";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    case 50220:
    case 50221:
    case 50222:
        return "ISO-2022-JP";
    case 51932:
        return "EUC-JP";
    case 51949:
        return "EUC-KR";
    case 52936:
        return "HZ-GB-2312";
    case 54936:
        return "GB18030";
    case 65000:
        return "UTF-7";
    case 1200:
        return "UTF-16LE";
    case 1201:
        return "UTF-16BE";
    case 10000:
        return "MACINTOSH";
    default:
        return "CP" + std::to_string(code_page);
    }
}

code_page_decoder::~code_page_decoder()
{
    for (auto &[code_page, handle] : m_converters) {
        if (handle) {
            iconv_close(static_cast<iconv_t>(handle));
        }
    }
}

void *code_page_decoder::converter(std::uint32_t code_page)
{
    auto it = m_converters.find(code_page);
    if (it != m_converters.end()) {
        return it->second;
    }
    iconv_t handle = iconv_open("UTF-16LE", iconv_code_page_name(code_page).c_str());
    void *stored = handle == reinterpret_cast<iconv_t>(-1) ? nullptr : handle;
    m_converters.emplace(code_page, stored);
    return stored;
}

std::u16string code_page_decoder::decode(std::span<const std::uint8_t> bytes,
                                         std::uint32_t code_page)
{
    if (code_page == 65001) {
        std::u16string out;
        if (!utf8_to_utf16(std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size()), out)) {
            return decode_1252(bytes);
        }
        return out;
    }
    if (code_page == 1252 || code_page == 28591) {
        return decode_1252(bytes);
    }
    void *handle = converter(code_page);
    if (!handle) {
        return decode_1252(bytes);
    }
    iconv_t cd = static_cast<iconv_t>(handle);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::u16string out;
    std::vector<char> in(bytes.begin(), bytes.end());
    char *in_at = in.data();
    std::size_t in_left = in.size();
    char buffer[4096];
    while (in_left > 0) {
        char *out_at = buffer;
        std::size_t out_left = sizeof buffer;
        std::size_t r = iconv(cd, &in_at, &in_left, &out_at, &out_left);
        std::size_t produced = sizeof buffer - out_left;
        for (std::size_t i = 0; i + 1 < produced; i += 2) {
            out.push_back(static_cast<char16_t>(static_cast<std::uint8_t>(buffer[i]) |
                                                (static_cast<std::uint8_t>(buffer[i + 1]) << 8)));
        }
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // An invalid or cut-off sequence: one replacement character, then on.
            out.push_back(u'\uFFFD');
            ++in_at;
            --in_left;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

std::string code_page_decoder::decode_utf8(std::span<const std::uint8_t> bytes,
                                           std::uint32_t code_page)
{
    return utf16_to_utf8(decode(bytes, code_page));
}

} // namespace korvel
