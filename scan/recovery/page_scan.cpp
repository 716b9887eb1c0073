#include "scan/recovery/page_scan.h"

#include <algorithm>
#include <cstring>

#include "format/crc.h"
#include "format/encoding.h"

namespace korvel::recovery {
namespace {

using format::load_le;

// Reads in steps of this size; a block's bytes (at most 8 KiB) are kept
// from one step to the next so a block across a step boundary is found.
constexpr std::size_t read_step = std::size_t{4} << 20;
constexpr std::size_t unit = 64;

// Marks the 64-byte units something that checks covers, and turns the
// others that hold any non-zero byte into failing ranges as the pass leaves
// them behind (every page or block over a unit is found by then). One bit
// per unit: a 1 GB file takes 2 MB.
class coverage
{
public:
    explicit coverage(std::uint64_t size) : m_covered(static_cast<std::size_t>(size / unit + 1)) {}
    void cover(std::uint64_t begin, std::uint64_t end)
    {
        for (std::uint64_t u = begin / unit; u < (end + unit - 1) / unit && u < m_covered.size();
             ++u) {
            m_covered[static_cast<std::size_t>(u)] = true;
        }
    }
    // The bytes [at, at + size) are left behind (at is unit-aligned).
    void settle(std::uint64_t at, const std::uint8_t *bytes, std::size_t size, scan_result *result)
    {
        static const std::uint8_t zeros[unit] = {};
        for (std::size_t i = 0; i < size; i += unit) {
            const std::size_t n = std::min(unit, size - i);
            if (m_covered[static_cast<std::size_t>((at + i) / unit)] ||
                std::memcmp(bytes + i, zeros, n) == 0) {
                continue;
            }
            const std::uint64_t begin = at + i;
            if (!result->failed.empty() && result->failed.back().end == begin) {
                result->failed.back().end = begin + n;
            } else {
                result->failed.push_back({begin, begin + n});
            }
            result->failed_bytes += n;
        }
    }

private:
    std::vector<bool> m_covered;
};

// The allocation hid names in a one-block heap, as [begin, end) offsets.
bool heap_allocation(const std::uint8_t *heap, std::size_t size, std::uint32_t hid,
                     std::size_t *begin, std::size_t *end)
{
    const std::size_t map = load_le<std::uint16_t>(heap);
    const std::size_t index = (hid >> 5) & 0x7FF;
    if ((hid & 0x1F) != 0 || (hid >> 16) != 0 || index == 0 || map + 4 > size) {
        return false;
    }
    const std::size_t count = load_le<std::uint16_t>(heap + map);
    if (index > count || map + 4 + (index + 1) * 2 > size) {
        return false;
    }
    *begin = load_le<std::uint16_t>(heap + map + 4 + (index - 1) * 2);
    *end = load_le<std::uint16_t>(heap + map + 4 + index * 2);
    return *begin <= *end && *end <= size;
}

// Property types whose values sit in the property tree itself; any other
// value is a heap or sub-node reference.
bool inline_type(std::uint16_t type)
{
    return type == 0x0002 || type == 0x0003 || type == 0x0004 || type == 0x000A ||
           type == 0x000B;
}

// 1 when the heap is a property context holding a message class, 2 when it
// holds a folder's content count, else 0. For a message, the sub-nodes its
// values are kept in are added to refs.
int property_context_kind(const std::uint8_t *heap, std::size_t size,
                          std::vector<std::uint32_t> *refs)
{
    constexpr std::uint8_t heap_signature = 0xEC;
    constexpr std::uint8_t property_context = 0xBC;
    if (heap[2] != heap_signature || heap[3] != property_context) {
        return 0;
    }
    std::size_t begin = 0;
    std::size_t end = 0;
    if (!heap_allocation(heap, size, load_le<std::uint32_t>(heap + 4), &begin, &end) ||
        end - begin < 8 || heap[begin] != 0xB5 || heap[begin + 1] != 2 || heap[begin + 2] != 6 ||
        heap[begin + 3] != 0) {
        return 0;
    }
    if (!heap_allocation(heap, size, load_le<std::uint32_t>(heap + begin + 4), &begin, &end)) {
        return 0;
    }
    int kind = 0;
    const std::size_t had = refs->size();
    for (std::size_t at = begin; at + 8 <= end; at += 8) {
        const std::uint16_t tag = load_le<std::uint16_t>(heap + at);
        const std::uint32_t value = load_le<std::uint32_t>(heap + at + 4);
        if (tag == 0x001A) {
            kind = 1;
        } else if (tag == 0x3602 && kind == 0) {
            kind = 2;
        }
        if (!inline_type(load_le<std::uint16_t>(heap + at + 2)) && (value & 0x1F) != 0) {
            refs->push_back(value);
        }
    }
    if (kind != 1) {
        refs->resize(had);
    }
    return kind;
}

template <class Layout> class scanner
{
public:
    scanner(std::uint64_t size, bool amap_valid, bool permuted, scan_result *result)
        : m_amap_valid(amap_valid), m_permuted(permuted), m_result(result), m_coverage(size)
    {
        m_coverage.cover(0, Layout::header_size);
    }

    // A page at ib (512-aligned) of the bytes given.
    void page_at(std::uint64_t ib, const std::uint8_t *page)
    {
        const format::page_trailer trailer = Layout::read_page_trailer(page);
        const auto type = static_cast<std::uint8_t>(trailer.type);
        if (!format::is_page_type(type) || trailer.type_repeat != type ||
            format::crc32(0, page, Layout::page_data_size) != trailer.crc) {
            return;
        }
        const bool tree = trailer.type == format::page_type::nbt ||
                          trailer.type == format::page_type::bbt;
        if (tree ? trailer.signature != format::compute_sig(ib, trailer.bid)
                 : trailer.signature != 0) {
            return;
        }
        m_coverage.cover(ib, ib + Layout::page_size);
        if (trailer.type == format::page_type::amap) {
            m_amap_at = ib;
            m_amap.assign(page + Layout::amap_bits_offset,
                          page + Layout::amap_bits_offset + 496);
            return;
        }
        if (!tree) {
            ++m_result->map_pages;
            return;
        }
        tree_page(ib, page, trailer);
    }

    // A block whose trailer ends at end (64-aligned), the bytes before it
    // from window_begin on at window.
    void block_ending(std::uint64_t end, std::uint64_t window_begin, const std::uint8_t *window)
    {
        const std::uint8_t *trailer_bytes =
            window + (end - Layout::block_trailer_size - window_begin);
        // The size comes first in both layouts: most places fail on it.
        const std::uint16_t size = load_le<std::uint16_t>(trailer_bytes);
        if (size == 0 || size > Layout::block_max_data) {
            return;
        }
        const format::block_trailer trailer = Layout::read_block_trailer(trailer_bytes);
        if (trailer.size == 0 || trailer.size > Layout::block_max_data || trailer.bid == 0) {
            return;
        }
        const std::uint64_t stored =
            (std::uint64_t{trailer.size} + Layout::block_trailer_size + unit - 1) / unit * unit;
        if (stored > end - window_begin) {
            return;
        }
        const std::uint64_t ib = end - stored;
        if (trailer.signature != format::compute_sig(ib, trailer.bid) ||
            format::crc32(0, window + (ib - window_begin), trailer.size) != trailer.crc) {
            return;
        }
        m_coverage.cover(ib, end);
        m_result->blocks.push_back({trailer.bid, ib, trailer.size, 2});
        inspect_block(trailer.bid, window + (ib - window_begin), trailer.size);
        m_result->largest_block_bid = std::max(m_result->largest_block_bid, trailer.bid);
    }

    coverage &covered() { return m_coverage; }

private:
    // Notes what a lost node could be rebuilt from: a sub-node block's data
    // blocks, or a property context that is a message or a folder.
    void inspect_block(std::uint64_t bid, const std::uint8_t *data, std::size_t size)
    {
        if ((bid & 2) != 0) {
            sub_node_block_found(bid, data, size);
            return;
        }
        if (size < 12) {
            return;
        }
        // Most blocks are no heap: four decoded bytes tell, before the whole
        // block is copied and decoded.
        std::uint8_t prefix[4] = {data[0], data[1], data[2], data[3]};
        if (m_permuted) {
            format::permute_decode(prefix, sizeof prefix);
        }
        if (prefix[2] != 0xEC || prefix[3] != 0xBC) {
            return;
        }
        std::uint8_t plain[format::block_size];
        std::copy(data, data + size, plain);
        if (m_permuted) {
            format::permute_decode(plain, size);
        }
        const std::size_t first = m_result->referenced_sub_nodes.size();
        switch (property_context_kind(plain, size, &m_result->referenced_sub_nodes)) {
        case 1:
            m_result->message_blocks.push_back(bid);
            m_result->message_refs.push_back({first, m_result->referenced_sub_nodes.size() - first});
            break;
        case 2:
            m_result->folder_blocks.push_back(bid);
            break;
        default:
            break;
        }
    }

    // A list of sub-nodes (level 0) or of such lists (level 1). Sub-node
    // blocks are never encoded.
    void sub_node_block_found(std::uint64_t bid, const std::uint8_t *data, std::size_t size)
    {
        if (size < 8 || data[0] != 0x02 || data[1] > 1) {
            return;
        }
        const std::uint8_t level = data[1];
        const std::size_t count = load_le<std::uint16_t>(data + 2);
        const std::size_t at = Layout::subnode_header_size;
        const std::size_t entry_size = level == 0 ? Layout::sl_entry_size : Layout::si_entry_size;
        sub_node_block found{bid, level, {m_result->sub_node_entries.size(), 0}};
        for (std::size_t i = 0; i < count && at + (i + 1) * entry_size <= size; ++i) {
            const std::uint8_t *entry = data + at + i * entry_size;
            format::subnode_entry e;
            e.nid = static_cast<std::uint32_t>(Layout::load_id(entry));
            e.bid_data = Layout::load_id(entry + Layout::id_size);
            if (level == 0) {
                e.bid_sub = Layout::load_id(entry + 2 * Layout::id_size);
                m_result->sub_node_blocks.push_back(e.bid_data);
            }
            m_result->sub_node_entries.push_back(e);
            ++found.entries.count;
        }
        m_result->sub_node_trees.push_back(found);
    }

    void tree_page(std::uint64_t ib, const std::uint8_t *page, const format::page_trailer &trailer)
    {
        const bool nodes = trailer.type == format::page_type::nbt;
        ++(nodes ? m_result->nbt_pages : m_result->bbt_pages);
        m_result->largest_page_bid = std::max(m_result->largest_page_bid, trailer.bid);
        const std::size_t count = page[Layout::btpage_entries_size];
        const std::size_t entry_size = page[Layout::btpage_entries_size + 2];
        const std::size_t level = page[Layout::btpage_entries_size + 3];
        const std::size_t leaf_size = nodes ? Layout::nbt_entry_size : Layout::bbt_entry_size;
        if (level != 0 || entry_size != leaf_size || count * entry_size > Layout::btpage_entries_size) {
            return;
        }
        leaf_page leaf{ib, trailer.bid, liveness(ib), {0, count}};
        if (nodes) {
            leaf.entries.first = m_result->nbt_entries.size();
            for (std::size_t i = 0; i < count; ++i) {
                m_result->nbt_entries.push_back(Layout::read_nbt_entry(page + i * entry_size));
            }
            m_result->nbt_leaves.push_back(leaf);
        } else {
            leaf.entries.first = m_result->bbt_entries.size();
            for (std::size_t i = 0; i < count; ++i) {
                m_result->bbt_entries.push_back(Layout::read_bbt_entry(page + i * entry_size));
            }
            m_result->bbt_leaves.push_back(leaf);
        }
    }

    // The allocation map of a region is its first page, met before the rest.
    page_liveness liveness(std::uint64_t ib) const
    {
        if (!m_amap_valid || m_amap.empty() || ib < m_amap_at ||
            ib - m_amap_at >= format::amap_region_size) {
            return page_liveness::unknown;
        }
        const std::uint64_t byte = (ib - m_amap_at) / (8 * unit);
        return m_amap[static_cast<std::size_t>(byte)] != 0 ? page_liveness::in_use
                                                           : page_liveness::free;
    }

    bool m_amap_valid;
    bool m_permuted;
    scan_result *m_result;
    coverage m_coverage;
    std::uint64_t m_amap_at = 0;
    std::vector<std::uint8_t> m_amap;
};

} // namespace

template <class Layout>
int scan_pages_and_blocks(const read_function &read, std::uint64_t file_size, bool amap_valid,
                          bool permuted, const std::function<bool(std::uint64_t)> &go_on,
                          scan_result *result)
{
    if (result == nullptr || !read) {
        return -1;
    }
    *result = {};
    scanner<Layout> scan(file_size, amap_valid, permuted, result);
    constexpr std::size_t keep = format::block_size;
    std::vector<std::uint8_t> buffer(keep + unit + read_step);
    // buffer[0, held) holds the file's bytes [base, base + held).
    std::uint64_t base = 0;
    std::size_t held = 0;
    std::uint64_t next_page = 0;
    std::uint64_t next_end = unit;
    while (base + held < file_size) {
        if (go_on && !go_on(base + held)) {
            result->scanned = base + held;
            return 0;
        }
        if (held > keep) {
            const std::size_t drop = (held - keep) / unit * unit;
            scan.covered().settle(base, buffer.data(), drop, result);
            std::copy(buffer.begin() + static_cast<std::ptrdiff_t>(drop),
                      buffer.begin() + static_cast<std::ptrdiff_t>(held), buffer.begin());
            base += drop;
            held -= drop;
        }
        const std::uint64_t wanted = std::min<std::uint64_t>(read_step, file_size - base - held);
        const std::size_t got = read(base + held, buffer.data() + held, static_cast<std::size_t>(wanted));
        if (got == 0) {
            break;
        }
        held += got;
        const std::uint64_t top = base + held;
        for (; next_page + format::page_size <= top; next_page += format::page_size) {
            if (next_page >= base) {
                scan.page_at(next_page, buffer.data() + (next_page - base));
            }
        }
        for (; next_end <= top; next_end += unit) {
            if (next_end >= base + Layout::block_trailer_size) {
                scan.block_ending(next_end, base, buffer.data());
            }
        }
    }
    result->scanned = base + held;
    scan.covered().settle(base, buffer.data(), held, result);
    return 1;
}

template int scan_pages_and_blocks<format::unicode_layout>(
    const read_function &, std::uint64_t, bool, bool, const std::function<bool(std::uint64_t)> &,
    scan_result *);
template int scan_pages_and_blocks<format::ansi_layout>(
    const read_function &, std::uint64_t, bool, bool, const std::function<bool(std::uint64_t)> &,
    scan_result *);

} // namespace korvel::recovery
