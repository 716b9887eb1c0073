#include "format/crc.h"

#include <array>

namespace korvel::format {

namespace {

// Eight tables for the slicing-by-8 CRC: table 0 is the classic one, table k
// advances a byte through k further zero bytes. Block CRCs are the writer's
// and the recovery scan's hottest loop.
std::array<std::array<std::uint32_t, 256>, 8> make_crc_tables()
{
    std::array<std::array<std::uint32_t, 256>, 8> tables{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) {
            c = (c & 1u) ? (0xEDB88320u ^ (c >> 1)) : (c >> 1);
        }
        tables[0][i] = c;
    }
    for (std::uint32_t i = 0; i < 256; ++i) {
        for (std::size_t t = 1; t < 8; ++t) {
            const std::uint32_t previous = tables[t - 1][i];
            tables[t][i] = (previous >> 8) ^ tables[0][previous & 0xFFu];
        }
    }
    return tables;
}

const std::array<std::array<std::uint32_t, 256>, 8> crc_tables = make_crc_tables();

} // namespace

std::uint32_t crc32(std::uint32_t crc, const std::uint8_t *data, std::size_t size)
{
    const auto &t = crc_tables;
    std::size_t i = 0;
    for (; i + 8 <= size; i += 8) {
        const std::uint32_t low = crc ^ (static_cast<std::uint32_t>(data[i]) |
                                         static_cast<std::uint32_t>(data[i + 1]) << 8 |
                                         static_cast<std::uint32_t>(data[i + 2]) << 16 |
                                         static_cast<std::uint32_t>(data[i + 3]) << 24);
        crc = t[7][low & 0xFFu] ^ t[6][(low >> 8) & 0xFFu] ^ t[5][(low >> 16) & 0xFFu] ^
              t[4][low >> 24] ^ t[3][data[i + 4]] ^ t[2][data[i + 5]] ^ t[1][data[i + 6]] ^
              t[0][data[i + 7]];
    }
    for (; i < size; ++i) {
        crc = t[0][(crc ^ data[i]) & 0xFFu] ^ (crc >> 8);
    }
    return crc;
}

} // namespace korvel::format
