#include "format/layout.h"

namespace korvel::format {

std::uint16_t compute_sig(std::uint64_t ib, std::uint64_t bid)
{
    ib ^= bid;
    return static_cast<std::uint16_t>(static_cast<std::uint16_t>(ib >> 16) ^
                                      static_cast<std::uint16_t>(ib));
}

bool is_page_type(std::uint8_t value) { return value >= 0x80 && value <= 0x86; }

// The two trailers hold the same fields; the 32-bit layout puts the id before
// the CRC and the 64-bit one after it.

page_trailer unicode_layout::read_page_trailer(const std::uint8_t *page)
{
    const std::uint8_t *t = page + page_data_size;
    return {static_cast<page_type>(t[0]), t[1], load_le<std::uint16_t>(t + 2),
            load_le<std::uint32_t>(t + 4), load_le<std::uint64_t>(t + 8)};
}

void unicode_layout::write_page_trailer(std::uint8_t *page, const page_trailer &tr)
{
    std::uint8_t *t = page + page_data_size;
    t[0] = static_cast<std::uint8_t>(tr.type);
    t[1] = tr.type_repeat;
    store_le<std::uint16_t>(t + 2, tr.signature);
    store_le<std::uint32_t>(t + 4, tr.crc);
    store_le<std::uint64_t>(t + 8, tr.bid);
}

block_trailer unicode_layout::read_block_trailer(const std::uint8_t *t)
{
    return {load_le<std::uint16_t>(t), load_le<std::uint16_t>(t + 2),
            load_le<std::uint32_t>(t + 4), load_le<std::uint64_t>(t + 8)};
}

void unicode_layout::write_block_trailer(std::uint8_t *t, const block_trailer &tr)
{
    store_le<std::uint16_t>(t, tr.size);
    store_le<std::uint16_t>(t + 2, tr.signature);
    store_le<std::uint32_t>(t + 4, tr.crc);
    store_le<std::uint64_t>(t + 8, tr.bid);
}

page_trailer ansi_layout::read_page_trailer(const std::uint8_t *page)
{
    const std::uint8_t *t = page + page_data_size;
    return {static_cast<page_type>(t[0]), t[1], load_le<std::uint16_t>(t + 2),
            load_le<std::uint32_t>(t + 8), load_le<std::uint32_t>(t + 4)};
}

void ansi_layout::write_page_trailer(std::uint8_t *page, const page_trailer &tr)
{
    std::uint8_t *t = page + page_data_size;
    t[0] = static_cast<std::uint8_t>(tr.type);
    t[1] = tr.type_repeat;
    store_le<std::uint16_t>(t + 2, tr.signature);
    store_le<std::uint32_t>(t + 4, static_cast<std::uint32_t>(tr.bid));
    store_le<std::uint32_t>(t + 8, tr.crc);
}

block_trailer ansi_layout::read_block_trailer(const std::uint8_t *t)
{
    return {load_le<std::uint16_t>(t), load_le<std::uint16_t>(t + 2),
            load_le<std::uint32_t>(t + 8), load_le<std::uint32_t>(t + 4)};
}

void ansi_layout::write_block_trailer(std::uint8_t *t, const block_trailer &tr)
{
    store_le<std::uint16_t>(t, tr.size);
    store_le<std::uint16_t>(t + 2, tr.signature);
    store_le<std::uint32_t>(t + 4, static_cast<std::uint32_t>(tr.bid));
    store_le<std::uint32_t>(t + 8, tr.crc);
}

} // namespace korvel::format
