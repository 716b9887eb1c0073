// The file format's CRC: table-driven CRC-32 (reflected 0xEDB88320) with no
// pre- or post-inversion, as page, block and header checks use it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace korvel::format {

// Continues crc over size bytes; start with 0.
std::uint32_t crc32(std::uint32_t crc, const std::uint8_t *data, std::size_t size);

} // namespace korvel::format
