// libFuzzer target for the HTML de-encapsulator: any bytes end in time, answer
// 0 or 1, and never give more HTML than a small multiple of the input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "convert/mail/rtf_html.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::string_view rtf(reinterpret_cast<const char *>(data), size);
    std::string html;
    std::uint32_t code_page = 0;
    int result = korvel::convert::rtf_html_extract(rtf, html, code_page);
    bool marked = korvel::convert::rtf_encapsulates_html(rtf);
    if ((result != 0 && result != 1) || (result == 1) != marked || html.size() > 4 * size ||
        (result == 0 && !html.empty())) {
        __builtin_trap();
    }
    return 0;
}
