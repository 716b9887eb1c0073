// Any bytes as a mailbox file for the index rebuild: the page and block pass
// in both layouts, then the whole rebuild (entry choice, new trees, header)
// must end cleanly, within bounded memory, whatever trailers seem to check.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

#include "scan/recovery/index_rebuild.h"

namespace {

using namespace korvel;

template <class Layout> void scan_as(const std::uint8_t *data, std::size_t size)
{
    recovery::scan_result result;
    recovery::scan_pages_and_blocks<Layout>(
        [&](std::uint64_t at, std::uint8_t *buffer, std::size_t n) -> std::size_t {
            if (at >= size) {
                return 0;
            }
            const std::size_t count = std::min<std::size_t>(n, size - static_cast<std::size_t>(at));
            std::memcpy(buffer, data + at, count);
            return count;
        },
        size, (size & 1) != 0, (size & 2) != 0, {}, &result);
}

const std::string &scratch_file()
{
    static const std::string path = "/tmp/korvel-fuzz-page-scan-" + std::to_string(::getpid());
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    scan_as<format::unicode_layout>(data, size);
    scan_as<format::ansi_layout>(data, size);
    std::FILE *file = std::fopen(scratch_file().c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    const bool written = std::fwrite(data, 1, size, file) == size;
    std::fclose(file);
    if (written) {
        recovery::rebuilt_index index;
        recovery::damage_report report;
        recovery::recovery_rebuild_index(scratch_file(), {}, &index, &report);
    }
    std::remove(scratch_file().c_str());
    return 0;
}
