#include "convert/writer/ndb.h"

#include "convert/writer/pst_writer.h"
#include "format/crc.h"
#include "format/encoding.h"
#include "format/layout.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace korvel::convert::ndb {

namespace {

using format::store_le;
constexpr std::uint64_t first_amap = format::first_amap;
constexpr std::uint64_t region_size = format::amap_region_size;
constexpr std::size_t page_size = format::page_size;
// Map bytes per allocation map page (both layouts), each bit 64 bytes of file.
constexpr std::size_t map_bytes = 496;
constexpr std::uint8_t ptype_bbt = 0x80;
constexpr std::uint8_t ptype_nbt = 0x81;
constexpr std::uint8_t ptype_fmap = 0x82;
constexpr std::uint8_t ptype_pmap = 0x83;
constexpr std::uint8_t ptype_amap = 0x84;
constexpr std::uint8_t ptype_fpmap = 0x85;
constexpr std::uint64_t buffer_limit = 4u << 20;

template <class L> constexpr std::size_t xblock_max_entries()
{
    return (L::block_max_data - L::xblock_header_size) / L::id_size; // 1021 / 2043
}

std::uint64_t region_base(std::uint64_t r) { return first_amap + r * region_size; }
bool has_pmap(std::uint64_t r) { return r % 8 == 0; }
bool has_fmap(std::uint64_t r) { return r >= 128 && (r - 128) % 496 == 0; }
// The 32-bit layout ends before the first free page map would be due.
bool has_fpmap(std::uint64_t r, bool ansi) { return !ansi && r >= 8192 && (r - 8192) % 31744 == 0; }
std::uint64_t reserved_size(std::uint64_t r, bool ansi)
{
    if (has_fpmap(r, ansi)) {
        return 4 * page_size;
    }
    if (has_fmap(r)) {
        return 3 * page_size;
    }
    return has_pmap(r) ? 2 * page_size : page_size;
}

std::uint64_t align_up(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

} // namespace

file_writer::file_writer(const std::string &path, bool permute, bool ansi, bool threaded)
    : m_permute(permute), m_ansi(ansi)
{
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        throw output_error("cannot create " + path + ": " + std::strerror(errno), errno);
    }
    if (threaded) {
        m_output = std::make_unique<block_output>(m_fd);
    }
    enter_region(0);
}

file_writer::~file_writer()
{
    m_output.reset(); // its thread writes to m_fd
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void file_writer::flush_buffer()
{
    if (m_output) {
        block_output::buffer spare = m_output->write_buffer(
            {std::move(m_buffer), m_buffer_capacity}, m_buffer_size, m_buffer_start,
            std::move(m_unfinished));
        m_unfinished.clear();
        m_buffer = std::move(spare.bytes);
        m_buffer_capacity = m_buffer ? spare.capacity : 0;
        m_buffer_start += m_buffer_size;
        m_buffer_size = 0;
        return;
    }
    write_all(m_fd, m_buffer.get(), m_buffer_size, m_buffer_start);
    m_buffer_start += m_buffer_size;
    m_buffer_size = 0;
}

void file_writer::put_direct(std::uint64_t ib, const std::uint8_t *data, std::size_t size)
{
    if (m_output) {
        // Behind the buffer that holds its place, which may still be on its way.
        m_output->write_copy(data, size, ib);
        return;
    }
    write_all(m_fd, data, size, ib);
}

// Where bytes [ib, ib + size) go in the write buffer, or nullptr when they
// lie before it. The caller fills all of them; a gap before them is zeroed.
std::uint8_t *file_writer::buffer_slot(std::uint64_t ib, std::size_t size)
{
    if (ib < m_buffer_start) {
        return nullptr;
    }
    const std::uint64_t offset = ib - m_buffer_start;
    const std::uint64_t end = offset + size;
    if (end > m_buffer_capacity) {
        const std::size_t capacity =
            static_cast<std::size_t>(std::max<std::uint64_t>(end, buffer_limit + format::block_size));
        auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
        if (m_buffer_size != 0) {
            std::memcpy(grown.get(), m_buffer.get(), m_buffer_size);
        }
        m_buffer = std::move(grown);
        m_buffer_capacity = capacity;
    }
    if (end > m_buffer_size) {
        if (offset > m_buffer_size) {
            std::memset(m_buffer.get() + m_buffer_size, 0,
                        static_cast<std::size_t>(offset) - m_buffer_size);
        }
        m_buffer_size = static_cast<std::size_t>(end);
    }
    return m_buffer.get() + offset;
}

void file_writer::flush_if_full()
{
    if (m_buffer_size >= buffer_limit) {
        flush_buffer();
    }
}

void file_writer::put(std::uint64_t ib, const std::uint8_t *data, std::size_t size)
{
    std::uint8_t *slot = buffer_slot(ib, size);
    if (!slot) {
        put_direct(ib, data, size);
        return;
    }
    if (size != 0) {
        std::memcpy(slot, data, size);
    }
    flush_if_full();
}

std::size_t file_writer::block_max_data() const
{
    return m_ansi ? format::ansi_layout::block_max_data : format::unicode_layout::block_max_data;
}

// Map pages keep their bits where the layout puts them (after 4 bytes of
// padding in the 32-bit allocation and page maps), always 496 bytes of them.
template <class L>
void file_writer::write_map_page(const std::uint8_t *bits, std::uint8_t ptype, std::uint64_t ib)
{
    std::uint8_t page[page_size] = {};
    const std::size_t at =
        (ptype == ptype_amap || ptype == ptype_pmap) ? L::amap_bits_offset : 0;
    std::memcpy(page + at, bits, map_bytes);
    write_page_as<L>(page, ptype, ib, false);
}

void file_writer::enter_region(std::uint64_t r)
{
    m_region = r;
    m_amap.assign(map_bytes, 0);
    std::uint64_t base = region_base(r);
    std::uint64_t reserved = reserved_size(r, m_ansi);
    for (std::uint64_t u = 0; u < reserved / 64; ++u) {
        m_amap[u / 8] = static_cast<std::uint8_t>(m_amap[u / 8] | (0x80u >> (u % 8)));
    }
    m_end = base + reserved;
    // Page maps are no longer consulted; every page is shown as in use.
    std::uint8_t all_used[map_bytes];
    std::memset(all_used, 0xFF, map_bytes);
    if (has_pmap(r)) {
        if (m_ansi) {
            write_map_page<format::ansi_layout>(all_used, ptype_pmap, base + page_size);
        } else {
            write_map_page<format::unicode_layout>(all_used, ptype_pmap, base + page_size);
        }
    }
    if (has_fpmap(r, m_ansi)) {
        write_map_page<format::unicode_layout>(all_used, ptype_fpmap, base + 3 * page_size);
    }
}

void file_writer::close_region()
{
    std::uint64_t free_units = 0;
    std::uint64_t run = 0;
    std::uint64_t best = 0;
    for (std::size_t u = 0; u < map_bytes * 8; ++u) {
        bool used = (m_amap[u / 8] & (0x80u >> (u % 8))) != 0;
        if (used) {
            run = 0;
        } else {
            ++free_units;
            best = std::max(best, ++run);
        }
    }
    m_amap_free += free_units * 64;
    m_region_free_run.push_back(static_cast<std::uint8_t>(std::min<std::uint64_t>(best, 255)));
    if (m_ansi) {
        write_map_page<format::ansi_layout>(m_amap.data(), ptype_amap, region_base(m_region));
    } else {
        write_map_page<format::unicode_layout>(m_amap.data(), ptype_amap, region_base(m_region));
    }
}

std::uint64_t file_writer::allocate(std::uint64_t size, std::uint64_t align)
{
    std::uint64_t pos = align_up(m_end, align);
    if (pos + size > region_base(m_region) + region_size) {
        close_region();
        enter_region(m_region + 1);
        pos = align_up(m_end, align);
    }
    // 32-bit offsets end at 4 GiB; the header's end-of-file must still fit.
    if (m_ansi && region_base(m_region) + region_size > 0xFFFFFFFFu) {
        throw std::runtime_error("a 32-bit mailbox cannot grow past 4 GiB");
    }
    std::uint64_t first = (pos - region_base(m_region)) / 64;
    std::uint64_t last = (pos + size - region_base(m_region) + 63) / 64;
    for (std::uint64_t u = first; u < last; ++u) {
        m_amap[u / 8] = static_cast<std::uint8_t>(m_amap[u / 8] | (0x80u >> (u % 8)));
    }
    m_end = pos + size;
    return pos;
}

template <class L>
std::uint64_t file_writer::write_page_as(std::uint8_t *page, std::uint8_t ptype,
                                         std::uint64_t bid, bool signed_page)
{
    // Map pages are written at their fixed places; B-tree pages are allocated.
    std::uint64_t ib = signed_page ? allocate(page_size, page_size) : bid;
    format::page_trailer t;
    t.type = static_cast<format::page_type>(ptype);
    t.type_repeat = ptype;
    t.signature = signed_page ? format::compute_sig(ib, bid) : 0;
    t.crc = format::crc32(0, page, L::page_data_size);
    t.bid = bid;
    L::write_page_trailer(page, t);
    put(ib, page, page_size);
    return ib;
}

std::uint64_t file_writer::write_block(std::span<const std::uint8_t> data, bool internal,
                                       bool encode)
{
    return m_ansi ? write_block_as<format::ansi_layout>(data, internal, encode)
                  : write_block_as<format::unicode_layout>(data, internal, encode);
}

template <class L>
std::uint64_t file_writer::write_block_as(std::span<const std::uint8_t> data, bool internal,
                                          bool encode)
{
    if (data.size() > L::block_max_data) {
        throw std::logic_error("block payload too large");
    }
    if (m_finished) {
        throw std::logic_error("write after finish");
    }
    std::uint64_t total = align_up(data.size() + L::block_trailer_size, 64);
    std::uint64_t ib = allocate(total, 64);
    std::uint64_t bid = m_next_bid | (internal ? 2u : 0u);
    m_next_bid += 4;
    // Built where it is written: the data copied (and encoded) once, only the
    // padding before the trailer zeroed.
    std::uint8_t local[format::block_size];
    std::uint8_t *slot = buffer_slot(ib, static_cast<std::size_t>(total));
    std::uint8_t *block = slot ? slot : local;
    const bool deferred = slot && m_output;
    if (deferred) {
        // Encoded and checksummed on the write thread.
        if (!data.empty()) {
            std::memcpy(block, data.data(), data.size());
        }
    } else if (encode && m_permute) {
        format::permute_encode(data.data(), block, data.size());
    } else if (!data.empty()) {
        std::memcpy(block, data.data(), data.size());
    }
    const std::size_t trailer_at = static_cast<std::size_t>(total) - L::block_trailer_size;
    std::memset(block + data.size(), 0, trailer_at - data.size());
    format::block_trailer t;
    t.size = static_cast<std::uint16_t>(data.size());
    t.signature = format::compute_sig(ib, bid);
    t.crc = deferred ? 0 : format::crc32(0, block, data.size());
    t.bid = bid;
    L::write_block_trailer(block + trailer_at, t);
    if (deferred) {
        const std::size_t offset = static_cast<std::size_t>(block - m_buffer.get());
        // Where each layout's trailer keeps the CRC.
        const std::size_t crc_at = offset + trailer_at + (L::is_unicode ? 4 : 8);
        m_unfinished.push_back({offset, t.size, crc_at, encode && m_permute});
    }
    if (slot) {
        flush_if_full();
    } else {
        put_direct(ib, local, static_cast<std::size_t>(total));
    }
    m_blocks.push_back({bid, ib, static_cast<std::uint16_t>(data.size())});
    return bid;
}

std::uint64_t file_writer::write_xblock(std::uint8_t level,
                                        const std::vector<std::uint64_t> &children,
                                        std::uint64_t total)
{
    return m_ansi ? write_xblock_as<format::ansi_layout>(level, children, total)
                  : write_xblock_as<format::unicode_layout>(level, children, total);
}

template <class L>
std::uint64_t file_writer::write_xblock_as(std::uint8_t level,
                                           const std::vector<std::uint64_t> &children,
                                           std::uint64_t total)
{
    if (children.size() > xblock_max_entries<L>()) {
        throw std::runtime_error("node data too large for a data tree");
    }
    std::vector<std::uint8_t> x(L::xblock_header_size + L::id_size * children.size());
    x[0] = 0x01;
    x[1] = level;
    store_le<std::uint16_t>(x.data() + 2, static_cast<std::uint16_t>(children.size()));
    store_le<std::uint32_t>(x.data() + 4, static_cast<std::uint32_t>(total));
    for (std::size_t i = 0; i < children.size(); ++i) {
        L::store_id(x.data() + L::xblock_header_size + L::id_size * i, children[i]);
    }
    return write_block_as<L>(x, true, false);
}

void file_writer::data_stream::append(std::span<const std::uint8_t> data)
{
    const std::size_t limit = m_owner.block_max_data();
    while (!data.empty()) {
        if (m_pending.empty() && data.size() >= limit) {
            // A whole block straight from the caller's bytes.
            add_leaf(m_owner.write_block(data.first(limit), false, true), limit);
            data = data.subspan(limit);
            continue;
        }
        std::size_t take = std::min(limit - m_pending.size(), data.size());
        m_pending.insert(m_pending.end(), data.begin(), data.begin() + static_cast<long>(take));
        data = data.subspan(take);
        if (m_pending.size() == limit) {
            flush_pending();
        }
    }
}

void file_writer::data_stream::flush_pending()
{
    std::uint64_t bid = m_owner.write_block(m_pending, false, true);
    add_leaf(bid, m_pending.size());
    m_pending.clear();
}

void file_writer::data_stream::add_leaf(std::uint64_t bid, std::size_t size)
{
    m_total += size;
    if (m_total > 0xFFFFFFFFu) {
        throw std::runtime_error("node data of 4 GiB or more cannot be stored");
    }
    m_leaves.push_back(bid);
    m_leaves_size += size;
    const std::size_t per_xblock =
        m_owner.ansi() ? xblock_max_entries<format::ansi_layout>()
                       : xblock_max_entries<format::unicode_layout>();
    if (m_leaves.size() == per_xblock) {
        close_xblock();
    }
}

void file_writer::data_stream::close_xblock()
{
    m_xblocks.push_back(m_owner.write_xblock(1, m_leaves, m_leaves_size));
    m_leaves.clear();
    m_leaves_size = 0;
}

std::uint64_t file_writer::data_stream::finish()
{
    if (!m_pending.empty() || (m_leaves.empty() && m_xblocks.empty())) {
        flush_pending();
    }
    if (m_xblocks.empty()) {
        if (m_leaves.size() == 1) {
            return m_leaves.front();
        }
        close_xblock();
        return m_xblocks.front();
    }
    if (!m_leaves.empty()) {
        close_xblock();
    }
    if (m_xblocks.size() == 1) {
        return m_xblocks.front();
    }
    return m_owner.write_xblock(2, m_xblocks, m_total);
}

std::uint64_t file_writer::write_data(std::span<const std::uint8_t> data)
{
    data_stream s(*this);
    s.append(data);
    return s.finish();
}

std::uint64_t file_writer::write_block_list(const std::vector<std::vector<std::uint8_t>> &blocks)
{
    data_stream s(*this);
    for (const auto &b : blocks) {
        s.add_leaf(write_block(b, false, true), b.size());
    }
    return s.finish();
}

std::uint64_t file_writer::write_subnodes(std::vector<subnode_entry> entries)
{
    if (entries.empty()) {
        return 0;
    }
    std::sort(entries.begin(), entries.end(),
              [](const subnode_entry &a, const subnode_entry &b) { return a.nid < b.nid; });
    for (std::size_t i = 1; i < entries.size(); ++i) {
        if (entries[i].nid == entries[i - 1].nid) {
            throw std::logic_error("duplicate subnode id");
        }
    }
    return m_ansi ? write_subnodes_as<format::ansi_layout>(entries)
                  : write_subnodes_as<format::unicode_layout>(entries);
}

template <class L>
std::uint64_t file_writer::write_subnodes_as(const std::vector<subnode_entry> &entries)
{
    constexpr std::size_t leaf_max = (L::block_max_data - L::subnode_header_size) / L::sl_entry_size;
    constexpr std::size_t index_max =
        (L::block_max_data - L::subnode_header_size) / L::si_entry_size;
    auto start_block = [](std::uint8_t level, std::size_t n, std::size_t entry_size) {
        std::vector<std::uint8_t> b(L::subnode_header_size + entry_size * n);
        b[0] = 0x02;
        b[1] = level;
        store_le<std::uint16_t>(b.data() + 2, static_cast<std::uint16_t>(n));
        return b;
    };
    std::vector<std::pair<std::uint32_t, std::uint64_t>> leaves;
    for (std::size_t start = 0; start < entries.size(); start += leaf_max) {
        std::size_t n = std::min(leaf_max, entries.size() - start);
        std::vector<std::uint8_t> b = start_block(0, n, L::sl_entry_size);
        for (std::size_t i = 0; i < n; ++i) {
            const subnode_entry &e = entries[start + i];
            std::uint8_t *p = b.data() + L::subnode_header_size + L::sl_entry_size * i;
            L::store_id(p, e.nid);
            L::store_id(p + L::id_size, e.bid_data);
            L::store_id(p + 2 * L::id_size, e.bid_sub);
        }
        leaves.emplace_back(entries[start].nid, write_block_as<L>(b, true, false));
    }
    if (leaves.size() == 1) {
        return leaves.front().second;
    }
    if (leaves.size() > index_max) {
        throw std::runtime_error("too many subnodes in one node");
    }
    std::vector<std::uint8_t> b = start_block(1, leaves.size(), L::si_entry_size);
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        std::uint8_t *p = b.data() + L::subnode_header_size + L::si_entry_size * i;
        L::store_id(p, leaves[i].first);
        L::store_id(p + L::id_size, leaves[i].second);
    }
    return write_block_as<L>(b, true, false);
}

void file_writer::add_node(std::uint32_t nid, std::uint64_t bid_data, std::uint64_t bid_sub,
                           std::uint32_t parent)
{
    m_nodes.push_back({nid, bid_data, bid_sub, parent});
}

template <class L>
file_writer::bref file_writer::write_btree(std::uint8_t ptype, std::vector<std::uint8_t> &entries,
                                           std::size_t entry_size, std::size_t count)
{
    struct child
    {
        std::uint64_t key;
        bref ref;
    };
    auto close_page = [&](std::uint8_t *page, std::size_t n, std::size_t per, std::size_t size,
                          std::uint8_t depth) {
        std::uint8_t *meta = page + L::btpage_entries_size;
        meta[0] = static_cast<std::uint8_t>(n);
        meta[1] = static_cast<std::uint8_t>(per);
        meta[2] = static_cast<std::uint8_t>(size);
        meta[3] = depth;
        std::uint64_t bid = m_next_page_bid;
        m_next_page_bid += 4;
        return bref{bid, write_page_as<L>(page, ptype, bid, true)};
    };
    std::vector<child> level;
    const std::size_t per_leaf = L::btpage_entries_size / entry_size;
    std::size_t start = 0;
    do {
        std::size_t n = std::min(per_leaf, count - start);
        std::uint8_t page[page_size] = {};
        if (n > 0) {
            std::memcpy(page, entries.data() + start * entry_size, n * entry_size);
        }
        std::uint64_t key = n > 0 ? L::load_id(entries.data() + start * entry_size) : 0;
        level.push_back({key, close_page(page, n, per_leaf, entry_size, 0)});
        start += n;
    } while (start < count);
    std::uint8_t depth = 0;
    while (level.size() > 1) {
        ++depth;
        std::vector<child> upper;
        constexpr std::size_t per_node = L::btpage_entries_size / L::bt_entry_size;
        for (std::size_t s = 0; s < level.size(); s += per_node) {
            std::size_t n = std::min(per_node, level.size() - s);
            std::uint8_t page[page_size] = {};
            for (std::size_t i = 0; i < n; ++i) {
                L::write_bt_entry(page + L::bt_entry_size * i,
                                  {level[s + i].key, level[s + i].ref.bid, level[s + i].ref.ib});
            }
            upper.push_back({level[s].key, close_page(page, n, per_node, L::bt_entry_size, depth)});
        }
        level.swap(upper);
    }
    return level.front().ref;
}

void file_writer::finish(const header_info &info)
{
    std::sort(m_nodes.begin(), m_nodes.end(),
              [](const node_ref &a, const node_ref &b) { return a.nid < b.nid; });
    for (std::size_t i = 1; i < m_nodes.size(); ++i) {
        if (m_nodes[i].nid == m_nodes[i - 1].nid) {
            throw std::logic_error("duplicate node id");
        }
    }
    if (m_ansi) {
        finish_as<format::ansi_layout>(info);
    } else {
        finish_as<format::unicode_layout>(info);
    }
    flush_buffer();
    if (m_output) {
        m_output->drain();
        m_output.reset();
    }
    if (::ftruncate(m_fd, static_cast<off_t>(m_end)) != 0) {
        throw output_error(std::string("cannot size the file: ") + std::strerror(errno), errno);
    }
    // On disk before the caller renames the file into place, so a crash
    // never leaves a named but incomplete mailbox.
    if (::fsync(m_fd) != 0) {
        throw output_error(std::string("write failed: ") + std::strerror(errno), errno);
    }
    if (::close(m_fd) != 0) {
        m_fd = -1;
        throw output_error(std::string("close failed: ") + std::strerror(errno), errno);
    }
    m_fd = -1;
}

template <class L> void file_writer::finish_as(const header_info &info)
{
    std::vector<std::uint8_t> nbt(m_nodes.size() * L::nbt_entry_size);
    for (std::size_t i = 0; i < m_nodes.size(); ++i) {
        const node_ref &n = m_nodes[i];
        L::write_nbt_entry(nbt.data() + L::nbt_entry_size * i,
                           {n.nid, n.bid_data, n.bid_sub, n.parent});
    }
    m_finished = true;
    bref nbt_root = write_btree<L>(ptype_nbt, nbt, L::nbt_entry_size, m_nodes.size());
    std::vector<std::uint8_t> bbt(m_blocks.size() * L::bbt_entry_size);
    for (std::size_t i = 0; i < m_blocks.size(); ++i) {
        const block_ref &b = m_blocks[i];
        L::write_bbt_entry(bbt.data() + L::bbt_entry_size * i, {b.bid, b.ib, b.cb, 2});
    }
    bref bbt_root = write_btree<L>(ptype_bbt, bbt, L::bbt_entry_size, m_blocks.size());
    close_region();
    const std::uint64_t file_end = region_base(m_region) + region_size;

    // Free-space maps: one byte per AMap, the longest free run in it.
    for (std::uint64_t r = 128; r <= m_region; r += 496) {
        std::uint8_t bits[map_bytes] = {};
        for (std::size_t i = 0; i < map_bytes && r + i <= m_region; ++i) {
            bits[i] = m_region_free_run[static_cast<std::size_t>(r + i)];
        }
        write_map_page<L>(bits, ptype_fmap, region_base(r) + 2 * page_size);
    }

    std::uint8_t h[L::header_size] = {};
    std::memcpy(h, "!BDN", 4);
    h[8] = 'S';
    h[9] = 'M';
    store_le<std::uint16_t>(h + format::header_version, L::format_version);
    store_le<std::uint16_t>(h + 12, 19); // client version
    h[14] = 1;                            // platform created on, accessed on
    h[15] = 1;
    L::store_id(h + L::header_next_pid, m_next_page_bid);
    store_le<std::uint32_t>(h + L::header_unique, info.unique);
    for (std::size_t i = 0; i < 32; ++i) {
        store_le<std::uint32_t>(h + L::header_next_nid + 4 * i, info.next_nid[i]);
    }
    L::store_id(h + L::header_file_eof, file_end);
    L::store_id(h + L::header_amap_last, region_base(m_region));
    L::store_id(h + L::header_amap_free, m_amap_free);
    L::store_id(h + L::header_pmap_free, 0);
    L::store_id(h + L::header_nbt_bid, nbt_root.bid);
    L::store_id(h + L::header_nbt_ib, nbt_root.ib);
    L::store_id(h + L::header_bbt_bid, bbt_root.bid);
    L::store_id(h + L::header_bbt_ib, bbt_root.ib);
    h[L::header_amap_valid] = 0x02; // the AMaps are valid
    std::memset(h + L::header_fmap, 0xFF, 256);
    h[L::header_sentinel] = 0x80;
    h[L::header_crypt_method] = m_permute ? 0x01 : 0x00;
    L::store_id(h + L::header_next_bid, m_next_bid);
    store_le<std::uint32_t>(h + L::header_crc_partial,
                            format::crc32(0, h + L::header_crc_start, L::header_crc_partial_size));
    if constexpr (L::is_unicode) {
        store_le<std::uint32_t>(h + L::header_crc_full,
                                format::crc32(0, h + L::header_crc_start, L::header_crc_full_size));
    }
    put(0, h, sizeof h);
    m_end = file_end;
}

} // namespace korvel::convert::ndb
