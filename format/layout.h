// The two on-disk layouts of the mailbox file: the 64-bit one (format version
// 23) and the older 32-bit one (versions 14 and 15). Each layout is a type with
// the same static members, so the writer and the recovery scanner are written
// once, generic over the layout, and never test a flag per field.
//
// Every multi-byte value on disk is little-endian and is read and written
// through load_le/store_le, never by casting a byte pointer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace korvel::format {

template <class T> T load_le(const std::uint8_t *p)
{
    static_assert(std::is_unsigned_v<T>);
    T v = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        v = static_cast<T>(v | static_cast<T>(static_cast<T>(p[i]) << (8 * i)));
    }
    return v;
}

template <class T> void store_le(std::uint8_t *p, T v)
{
    static_assert(std::is_unsigned_v<T>);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

template <class T> void append_le(std::vector<std::uint8_t> &out, T v)
{
    static_assert(std::is_unsigned_v<T>);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

// The signature of a page or block at file offset ib with id bid.
std::uint16_t compute_sig(std::uint64_t ib, std::uint64_t bid);

enum class page_type : std::uint8_t {
    bbt = 0x80,
    nbt = 0x81,
    fmap = 0x82,
    pmap = 0x83,
    amap = 0x84,
    fpmap = 0x85,
    dlist = 0x86
};

// True for the values a page trailer may carry.
bool is_page_type(std::uint8_t value);

struct page_trailer
{
    page_type type = page_type::bbt;
    std::uint8_t type_repeat = 0;
    std::uint16_t signature = 0;
    std::uint32_t crc = 0;
    std::uint64_t bid = 0;
};

struct block_trailer
{
    std::uint16_t size = 0;
    std::uint16_t signature = 0;
    std::uint32_t crc = 0;
    std::uint64_t bid = 0;
};

// An entry of an intermediate B-tree page (either tree).
struct bt_entry
{
    std::uint64_t key = 0;
    std::uint64_t bid = 0;
    std::uint64_t ib = 0;
};

// A leaf entry of the node B-tree.
struct nbt_entry
{
    std::uint64_t nid = 0;
    std::uint64_t bid_data = 0;
    std::uint64_t bid_sub = 0;
    std::uint32_t nid_parent = 0;
};

// An entry of a sub-node block: at level 0 the sub-node's data block and its
// own sub-node block; at level 1 bid_data is the level-0 block that starts at
// nid, and bid_sub is 0.
struct subnode_entry
{
    std::uint32_t nid = 0;
    std::uint64_t bid_data = 0;
    std::uint64_t bid_sub = 0;
};

// A leaf entry of the block B-tree.
struct bbt_entry
{
    std::uint64_t bid = 0;
    std::uint64_t ib = 0;
    std::uint16_t size = 0;
    std::uint16_t refs = 0;
};

// Sizes shared by both layouts.
inline constexpr std::size_t page_size = 512;
inline constexpr std::size_t block_size = 8192;
// File offset of the first allocation map page, and the bytes one map covers
// (496 map bytes, 8 bits each, one bit per 64 bytes).
inline constexpr std::uint64_t first_amap = 0x4400;
inline constexpr std::uint64_t amap_region_size = 496 * 8 * 64;

namespace detail {

// The parts of a layout that follow from the width of its ids and offsets.
template <class Id> struct id_width
{
    using id_type = Id;
    static constexpr std::size_t id_size = sizeof(Id);

    static std::uint64_t load_id(const std::uint8_t *p) { return load_le<Id>(p); }
    static void store_id(std::uint8_t *p, std::uint64_t v) { store_le<Id>(p, static_cast<Id>(v)); }

    static bt_entry read_bt_entry(const std::uint8_t *p)
    {
        return {load_id(p), load_id(p + id_size), load_id(p + 2 * id_size)};
    }
    static void write_bt_entry(std::uint8_t *p, const bt_entry &e)
    {
        store_id(p, e.key);
        store_id(p + id_size, e.bid);
        store_id(p + 2 * id_size, e.ib);
    }
    // The node id is 32 bits in both layouts; the 64-bit layout pads its key.
    static nbt_entry read_nbt_entry(const std::uint8_t *p)
    {
        return {load_id(p), load_id(p + id_size), load_id(p + 2 * id_size),
                load_le<std::uint32_t>(p + 3 * id_size)};
    }
    static void write_nbt_entry(std::uint8_t *p, const nbt_entry &e)
    {
        store_id(p, e.nid);
        store_id(p + id_size, e.bid_data);
        store_id(p + 2 * id_size, e.bid_sub);
        store_le<std::uint32_t>(p + 3 * id_size, e.nid_parent);
        if constexpr (id_size == 8) {
            store_le<std::uint32_t>(p + 3 * id_size + 4, 0);
        }
    }
    static bbt_entry read_bbt_entry(const std::uint8_t *p)
    {
        return {load_id(p), load_id(p + id_size), load_le<std::uint16_t>(p + 2 * id_size),
                load_le<std::uint16_t>(p + 2 * id_size + 2)};
    }
    static void write_bbt_entry(std::uint8_t *p, const bbt_entry &e)
    {
        store_id(p, e.bid);
        store_id(p + id_size, e.ib);
        store_le<std::uint16_t>(p + 2 * id_size, e.size);
        store_le<std::uint16_t>(p + 2 * id_size + 2, e.refs);
        if constexpr (id_size == 8) {
            store_le<std::uint32_t>(p + 2 * id_size + 4, 0);
        }
    }
};

} // namespace detail

struct unicode_layout : detail::id_width<std::uint64_t>
{
    static constexpr bool is_unicode = true;
    static constexpr std::uint16_t format_version = 23;

    static constexpr std::size_t page_size = format::page_size;
    static constexpr std::size_t page_data_size = 496;
    static constexpr std::size_t page_trailer_size = 16;
    static constexpr std::size_t btpage_entries_size = 488;
    static constexpr std::size_t bt_entry_size = 24;
    static constexpr std::size_t nbt_entry_size = 32;
    static constexpr std::size_t bbt_entry_size = 24;
    static constexpr std::size_t block_trailer_size = 16;
    static constexpr std::size_t block_max_data = block_size - block_trailer_size;
    // Where a map page's bits start within its data area.
    static constexpr std::size_t amap_bits_offset = 0;
    // Data tree (XBLOCK/XXBLOCK) and subnode tree (SLBLOCK/SIBLOCK) blocks.
    static constexpr std::size_t xblock_header_size = 8;
    static constexpr std::size_t subnode_header_size = 8;
    static constexpr std::size_t sl_entry_size = 24;
    static constexpr std::size_t si_entry_size = 16;

    static constexpr std::size_t header_size = 564;
    static constexpr std::size_t header_crc_partial = 4;
    static constexpr std::size_t header_next_pid = 32;
    static constexpr std::size_t header_unique = 40;
    static constexpr std::size_t header_next_nid = 44;
    static constexpr std::size_t header_file_eof = 184;
    static constexpr std::size_t header_amap_last = 192;
    static constexpr std::size_t header_amap_free = 200;
    static constexpr std::size_t header_pmap_free = 208;
    static constexpr std::size_t header_nbt_bid = 216;
    static constexpr std::size_t header_nbt_ib = 224;
    static constexpr std::size_t header_bbt_bid = 232;
    static constexpr std::size_t header_bbt_ib = 240;
    static constexpr std::size_t header_amap_valid = 248;
    static constexpr std::size_t header_fmap = 256;
    static constexpr std::size_t header_fpmap = 384;
    static constexpr std::size_t header_sentinel = 512;
    static constexpr std::size_t header_crypt_method = 513;
    static constexpr std::size_t header_next_bid = 516;
    static constexpr std::size_t header_crc_full = 524;
    // Both CRCs start at wMagicClient (offset 8).
    static constexpr std::size_t header_crc_start = 8;
    static constexpr std::size_t header_crc_partial_size = 471;
    static constexpr std::size_t header_crc_full_size = 516;

    // page points at the start of a 512-byte page.
    static page_trailer read_page_trailer(const std::uint8_t *page);
    static void write_page_trailer(std::uint8_t *page, const page_trailer &t);
    // trailer points at the trailer itself (the block's last 16 bytes).
    static block_trailer read_block_trailer(const std::uint8_t *trailer);
    static void write_block_trailer(std::uint8_t *trailer, const block_trailer &t);
};

struct ansi_layout : detail::id_width<std::uint32_t>
{
    static constexpr bool is_unicode = false;
    static constexpr std::uint16_t format_version = 14;

    static constexpr std::size_t page_size = format::page_size;
    static constexpr std::size_t page_data_size = 500;
    static constexpr std::size_t page_trailer_size = 12;
    static constexpr std::size_t btpage_entries_size = 496;
    static constexpr std::size_t bt_entry_size = 12;
    static constexpr std::size_t nbt_entry_size = 16;
    static constexpr std::size_t bbt_entry_size = 12;
    static constexpr std::size_t block_trailer_size = 12;
    static constexpr std::size_t block_max_data = block_size - block_trailer_size;
    // Allocation and page maps keep 4 bytes of padding before their bits.
    static constexpr std::size_t amap_bits_offset = 4;
    static constexpr std::size_t xblock_header_size = 8;
    static constexpr std::size_t subnode_header_size = 4;
    static constexpr std::size_t sl_entry_size = 12;
    static constexpr std::size_t si_entry_size = 8;

    static constexpr std::size_t header_size = 512;
    static constexpr std::size_t header_crc_partial = 4;
    static constexpr std::size_t header_next_bid = 24;
    static constexpr std::size_t header_next_pid = 28;
    static constexpr std::size_t header_unique = 32;
    static constexpr std::size_t header_next_nid = 36;
    static constexpr std::size_t header_file_eof = 168;
    static constexpr std::size_t header_amap_last = 172;
    static constexpr std::size_t header_amap_free = 176;
    static constexpr std::size_t header_pmap_free = 180;
    static constexpr std::size_t header_nbt_bid = 184;
    static constexpr std::size_t header_nbt_ib = 188;
    static constexpr std::size_t header_bbt_bid = 192;
    static constexpr std::size_t header_bbt_ib = 196;
    static constexpr std::size_t header_amap_valid = 200;
    static constexpr std::size_t header_fmap = 204;
    static constexpr std::size_t header_fpmap = 332;
    static constexpr std::size_t header_sentinel = 460;
    static constexpr std::size_t header_crypt_method = 461;
    static constexpr std::size_t header_crc_start = 8;
    static constexpr std::size_t header_crc_partial_size = 471;

    static page_trailer read_page_trailer(const std::uint8_t *page);
    static void write_page_trailer(std::uint8_t *page, const page_trailer &t);
    static block_trailer read_block_trailer(const std::uint8_t *trailer);
    static void write_block_trailer(std::uint8_t *trailer, const block_trailer &t);
};

// The format version at header offset 10 tells the layouts apart.
inline constexpr std::size_t header_version = 10;
inline bool is_ansi_version(std::uint16_t version) { return version == 14 || version == 15; }
inline bool is_unicode_version(std::uint16_t version) { return version >= 23; }

} // namespace korvel::format
