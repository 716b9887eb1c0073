// Where the test data is: the sample mailboxes unpacked into the build tree,
// and a scratch directory per test; and the form the pages are written in.
#pragma once

#include <string>
#include <string_view>

namespace korvel::testing {

// KORVEL_SAMPLES_DIR + "/" + name.
std::string sample_path(const std::string &name);

// A fresh, empty directory under the build tree for one test, its own to
// this process and removed when the process ends.
std::string scratch_directory(const std::string &name);

// Text as the preview's pages hold it: UTF-16LE, no mark, no terminator.
inline std::string utf16le(std::u16string_view text)
{
    std::string bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

} // namespace korvel::testing
