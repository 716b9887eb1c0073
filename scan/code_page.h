// 8-bit text of the older mailboxes, decoded by the Windows code page its
// item names (PidTagMessageCodepage, PidTagInternetCodepage) or the store's.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>

namespace korvel {

// The code page of an 8-bit mailbox's text when the item names none, and of
// its folder names (the store records none of its own).
inline constexpr std::uint32_t default_code_page = 1252;

// The iconv name of a Windows code page ("CP" and its number for most).
std::string iconv_code_page_name(std::uint32_t code_page);

// Decodes 8-bit text of a Windows code page to UTF-16: 1252 and 65001 (UTF-8)
// directly, others through iconv (falling back to 1252 for a code page iconv
// does not know, so text is never dropped). A byte that does not decode
// becomes U+FFFD. Keeps the iconv handles it opens.
class code_page_decoder
{
public:
    code_page_decoder() = default;
    ~code_page_decoder();
    code_page_decoder(const code_page_decoder &) = delete;
    code_page_decoder &operator=(const code_page_decoder &) = delete;

    std::u16string decode(std::span<const std::uint8_t> bytes, std::uint32_t code_page);
    std::string decode_utf8(std::span<const std::uint8_t> bytes, std::uint32_t code_page);

private:
    void *converter(std::uint32_t code_page);
    std::map<std::uint32_t, void *> m_converters;
};

} // namespace korvel
