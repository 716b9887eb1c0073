// libFuzzer target for the RTF reader. Each input is read twice in a row, so
// that the second reading starts with whatever groups and "*" flag the first
// left open, then the reader is reset for the next input.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "preview/rtf_reader.h"

namespace {

// Parses bytes from a memory stream; traps on a result or a text that no
// document can produce.
void parse_once(std::vector<unsigned char> &bytes)
{
    std::FILE *stream = bytes.empty() ? nullptr : fmemopen(bytes.data(), bytes.size(), "r");
    korvel::rtf_text.clear();
    int code = korvel::rtf_parse(stream);
    if (stream != nullptr) {
        std::fclose(stream);
    }
    bool known = code == korvel::rtf_ok || code == korvel::rtf_unbalanced_close ||
                 code == korvel::rtf_unclosed_group || code == korvel::rtf_bad_hex ||
                 code == korvel::rtf_end_of_file;
    // Every appended character uses up at least one byte of the document.
    if (!known || korvel::rtf_text.size() > bytes.size()) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    std::vector<unsigned char> bytes(data, data + size);
    parse_once(bytes);
    parse_once(bytes);
    korvel::rtf_reader_reset();
    korvel::rtf_text.clear();
    return 0;
}
