#include "convert/ndb.h"

#include "convert/pst_writer.h"
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

constexpr std::uint64_t first_amap = 0x4400;
constexpr std::uint64_t region_size = 0x3E000; // 496 * 8 * 64 bytes mapped by one AMap page
constexpr std::size_t page_size = 512;
constexpr std::size_t page_data = 496;
constexpr std::uint8_t ptype_bbt = 0x80;
constexpr std::uint8_t ptype_nbt = 0x81;
constexpr std::uint8_t ptype_fmap = 0x82;
constexpr std::uint8_t ptype_pmap = 0x83;
constexpr std::uint8_t ptype_amap = 0x84;
constexpr std::uint8_t ptype_fpmap = 0x85;
constexpr std::size_t xblock_max_entries = (block_max_data - 8) / 8;   // 1021
constexpr std::size_t slblock_max_entries = (block_max_data - 8) / 24; // 340
constexpr std::size_t siblock_max_entries = (block_max_data - 8) / 16; // 510
constexpr std::uint64_t buffer_limit = 4u << 20;

void put16(std::uint8_t *p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put32(std::uint8_t *p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}
void put64(std::uint8_t *p, std::uint64_t v)
{
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

std::uint64_t region_base(std::uint64_t r) { return first_amap + r * region_size; }
bool has_pmap(std::uint64_t r) { return r % 8 == 0; }
bool has_fmap(std::uint64_t r) { return r >= 128 && (r - 128) % 496 == 0; }
bool has_fpmap(std::uint64_t r) { return r >= 8192 && (r - 8192) % 31744 == 0; }
std::uint64_t reserved_size(std::uint64_t r)
{
    if (has_fpmap(r)) {
        return 4 * page_size;
    }
    if (has_fmap(r)) {
        return 3 * page_size;
    }
    return has_pmap(r) ? 2 * page_size : page_size;
}

std::uint64_t align_up(std::uint64_t v, std::uint64_t a) { return (v + a - 1) / a * a; }

} // namespace

file_writer::file_writer(const std::string &path, bool permute) : m_permute(permute)
{
    m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (m_fd < 0) {
        throw output_error("cannot create " + path + ": " + std::strerror(errno), errno);
    }
    enter_region(0);
}

file_writer::~file_writer()
{
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

void file_writer::flush_buffer()
{
    const std::uint8_t *p = m_buffer.data();
    std::size_t left = m_buffer.size();
    std::uint64_t at = m_buffer_start;
    while (left > 0) {
        ssize_t n = ::pwrite(m_fd, p, left, static_cast<off_t>(at));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw output_error(std::string("write failed: ") + std::strerror(errno), errno);
        }
        p += n;
        left -= static_cast<std::size_t>(n);
        at += static_cast<std::uint64_t>(n);
    }
    m_buffer_start += m_buffer.size();
    m_buffer.clear();
}

void file_writer::put_direct(std::uint64_t ib, const std::uint8_t *data, std::size_t size)
{
    while (size > 0) {
        ssize_t n = ::pwrite(m_fd, data, size, static_cast<off_t>(ib));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw output_error(std::string("write failed: ") + std::strerror(errno), errno);
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        ib += static_cast<std::uint64_t>(n);
    }
}

void file_writer::put(std::uint64_t ib, const std::uint8_t *data, std::size_t size)
{
    if (ib < m_buffer_start) {
        put_direct(ib, data, size);
        return;
    }
    std::uint64_t offset = ib - m_buffer_start;
    if (offset + size > m_buffer.size()) {
        m_buffer.resize(static_cast<std::size_t>(offset + size), 0);
    }
    if (size != 0) {
        std::memcpy(m_buffer.data() + offset, data, size);
    }
    if (m_buffer.size() >= buffer_limit) {
        flush_buffer();
    }
}

void file_writer::enter_region(std::uint64_t r)
{
    m_region = r;
    m_amap.assign(page_data, 0);
    std::uint64_t base = region_base(r);
    std::uint64_t reserved = reserved_size(r);
    for (std::uint64_t u = 0; u < reserved / 64; ++u) {
        m_amap[u / 8] = static_cast<std::uint8_t>(m_amap[u / 8] | (0x80u >> (u % 8)));
    }
    m_end = base + reserved;
    std::uint8_t page[page_size];
    if (has_pmap(r)) {
        // Page maps are no longer consulted; every page is shown as in use.
        std::memset(page, 0xFF, page_data);
        write_page(page, ptype_pmap, base + page_size, false);
    }
    if (has_fpmap(r)) {
        std::memset(page, 0xFF, page_data);
        write_page(page, ptype_fpmap, base + 3 * page_size, false);
    }
}

void file_writer::close_region()
{
    std::uint64_t free_units = 0;
    std::uint64_t run = 0;
    std::uint64_t best = 0;
    for (std::size_t u = 0; u < page_data * 8; ++u) {
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
    std::uint8_t page[page_size];
    std::memcpy(page, m_amap.data(), page_data);
    write_page(page, ptype_amap, region_base(m_region), false);
}

std::uint64_t file_writer::allocate(std::uint64_t size, std::uint64_t align)
{
    std::uint64_t pos = align_up(m_end, align);
    if (pos + size > region_base(m_region) + region_size) {
        close_region();
        enter_region(m_region + 1);
        pos = align_up(m_end, align);
    }
    std::uint64_t first = (pos - region_base(m_region)) / 64;
    std::uint64_t last = (pos + size - region_base(m_region) + 63) / 64;
    for (std::uint64_t u = first; u < last; ++u) {
        m_amap[u / 8] = static_cast<std::uint8_t>(m_amap[u / 8] | (0x80u >> (u % 8)));
    }
    m_end = pos + size;
    return pos;
}

std::uint64_t file_writer::write_page(std::uint8_t *page, std::uint8_t ptype, std::uint64_t bid,
                                      bool signed_page)
{
    // Map pages are written at their fixed places; B-tree pages are allocated.
    std::uint64_t ib = signed_page ? allocate(page_size, page_size) : bid;
    page[page_data] = ptype;
    page[page_data + 1] = ptype;
    put16(page + page_data + 2, signed_page ? format::compute_sig(ib, bid) : 0);
    put32(page + page_data + 4, format::crc32(0, page, page_data));
    put64(page + page_data + 8, bid);
    put(ib, page, page_size);
    return ib;
}

std::uint64_t file_writer::write_block(std::span<const std::uint8_t> data, bool internal,
                                       bool encode)
{
    if (data.size() > block_max_data) {
        throw std::logic_error("block payload too large");
    }
    if (m_finished) {
        throw std::logic_error("write after finish");
    }
    std::uint64_t total = align_up(data.size() + 16, 64);
    std::uint64_t ib = allocate(total, 64);
    std::uint64_t bid = m_next_bid | (internal ? 2u : 0u);
    m_next_bid += 4;
    std::uint8_t block[8192] = {};
    if (!data.empty()) {
        std::memcpy(block, data.data(), data.size());
    }
    if (encode && m_permute) {
        format::permute_encode(block, data.size());
    }
    std::uint8_t *trailer = block + total - 16;
    put16(trailer, static_cast<std::uint16_t>(data.size()));
    put16(trailer + 2, format::compute_sig(ib, bid));
    put32(trailer + 4, format::crc32(0, block, data.size()));
    put64(trailer + 8, bid);
    put(ib, block, static_cast<std::size_t>(total));
    m_blocks.push_back({bid, ib, static_cast<std::uint16_t>(data.size())});
    return bid;
}

void file_writer::data_stream::append(std::span<const std::uint8_t> data)
{
    while (!data.empty()) {
        std::size_t take = std::min(block_max_data - m_pending.size(), data.size());
        m_pending.insert(m_pending.end(), data.begin(), data.begin() + static_cast<long>(take));
        data = data.subspan(take);
        if (m_pending.size() == block_max_data) {
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
    if (m_leaves.size() == xblock_max_entries) {
        close_xblock();
    }
}

void file_writer::data_stream::close_xblock()
{
    std::vector<std::uint8_t> x(8 + 8 * m_leaves.size());
    x[0] = 0x01;
    x[1] = 1;
    put16(x.data() + 2, static_cast<std::uint16_t>(m_leaves.size()));
    put32(x.data() + 4, static_cast<std::uint32_t>(m_leaves_size));
    for (std::size_t i = 0; i < m_leaves.size(); ++i) {
        put64(x.data() + 8 + 8 * i, m_leaves[i]);
    }
    m_xblocks.push_back(m_owner.write_block(x, true, false));
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
    if (m_xblocks.size() > xblock_max_entries) {
        throw std::runtime_error("node data too large for a data tree");
    }
    std::vector<std::uint8_t> x(8 + 8 * m_xblocks.size());
    x[0] = 0x01;
    x[1] = 2;
    put16(x.data() + 2, static_cast<std::uint16_t>(m_xblocks.size()));
    put32(x.data() + 4, static_cast<std::uint32_t>(m_total));
    for (std::size_t i = 0; i < m_xblocks.size(); ++i) {
        put64(x.data() + 8 + 8 * i, m_xblocks[i]);
    }
    return m_owner.write_block(x, true, false);
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
    std::vector<std::pair<std::uint32_t, std::uint64_t>> leaves;
    for (std::size_t start = 0; start < entries.size(); start += slblock_max_entries) {
        std::size_t n = std::min(slblock_max_entries, entries.size() - start);
        std::vector<std::uint8_t> b(8 + 24 * n);
        b[0] = 0x02;
        b[1] = 0;
        put16(b.data() + 2, static_cast<std::uint16_t>(n));
        for (std::size_t i = 0; i < n; ++i) {
            const subnode_entry &e = entries[start + i];
            put32(b.data() + 8 + 24 * i, e.nid);
            put64(b.data() + 8 + 24 * i + 8, e.bid_data);
            put64(b.data() + 8 + 24 * i + 16, e.bid_sub);
        }
        leaves.emplace_back(entries[start].nid, write_block(b, true, false));
    }
    if (leaves.size() == 1) {
        return leaves.front().second;
    }
    if (leaves.size() > siblock_max_entries) {
        throw std::runtime_error("too many subnodes in one node");
    }
    std::vector<std::uint8_t> b(8 + 16 * leaves.size());
    b[0] = 0x02;
    b[1] = 1;
    put16(b.data() + 2, static_cast<std::uint16_t>(leaves.size()));
    for (std::size_t i = 0; i < leaves.size(); ++i) {
        put32(b.data() + 8 + 16 * i, leaves[i].first);
        put64(b.data() + 8 + 16 * i + 8, leaves[i].second);
    }
    return write_block(b, true, false);
}

void file_writer::add_node(std::uint32_t nid, std::uint64_t bid_data, std::uint64_t bid_sub,
                           std::uint32_t parent)
{
    m_nodes.push_back({nid, bid_data, bid_sub, parent});
}

file_writer::bref file_writer::write_btree(std::uint8_t ptype, std::vector<std::uint8_t> &entries,
                                           std::size_t entry_size, std::size_t count)
{
    struct child
    {
        std::uint64_t key;
        bref ref;
    };
    std::vector<child> level;
    std::size_t per_leaf = 488 / entry_size;
    std::size_t start = 0;
    do {
        std::size_t n = std::min(per_leaf, count - start);
        std::uint8_t page[page_size] = {};
        if (n > 0) {
            std::memcpy(page, entries.data() + start * entry_size, n * entry_size);
        }
        page[488] = static_cast<std::uint8_t>(n);
        page[489] = static_cast<std::uint8_t>(per_leaf);
        page[490] = static_cast<std::uint8_t>(entry_size);
        page[491] = 0;
        std::uint64_t key = 0;
        if (n > 0) {
            std::memcpy(&key, entries.data() + start * entry_size, 8);
        }
        std::uint64_t bid = m_next_page_bid;
        m_next_page_bid += 4;
        std::uint64_t ib = write_page(page, ptype, bid, true);
        level.push_back({key, {bid, ib}});
        start += n;
    } while (start < count);
    std::uint8_t depth = 0;
    while (level.size() > 1) {
        ++depth;
        std::vector<child> upper;
        constexpr std::size_t per_node = 488 / 24;
        for (std::size_t s = 0; s < level.size(); s += per_node) {
            std::size_t n = std::min(per_node, level.size() - s);
            std::uint8_t page[page_size] = {};
            for (std::size_t i = 0; i < n; ++i) {
                put64(page + 24 * i, level[s + i].key);
                put64(page + 24 * i + 8, level[s + i].ref.bid);
                put64(page + 24 * i + 16, level[s + i].ref.ib);
            }
            page[488] = static_cast<std::uint8_t>(n);
            page[489] = static_cast<std::uint8_t>(per_node);
            page[490] = 24;
            page[491] = depth;
            std::uint64_t bid = m_next_page_bid;
            m_next_page_bid += 4;
            std::uint64_t ib = write_page(page, ptype, bid, true);
            upper.push_back({level[s].key, {bid, ib}});
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
    std::vector<std::uint8_t> nbt(m_nodes.size() * 32);
    for (std::size_t i = 0; i < m_nodes.size(); ++i) {
        std::uint8_t *e = nbt.data() + 32 * i;
        put64(e, m_nodes[i].nid);
        put64(e + 8, m_nodes[i].bid_data);
        put64(e + 16, m_nodes[i].bid_sub);
        put32(e + 24, m_nodes[i].parent);
    }
    m_finished = true;
    bref nbt_root = write_btree(ptype_nbt, nbt, 32, m_nodes.size());
    std::vector<std::uint8_t> bbt(m_blocks.size() * 24);
    for (std::size_t i = 0; i < m_blocks.size(); ++i) {
        std::uint8_t *e = bbt.data() + 24 * i;
        put64(e, m_blocks[i].bid);
        put64(e + 8, m_blocks[i].ib);
        put16(e + 16, m_blocks[i].cb);
        put16(e + 18, 2);
    }
    bref bbt_root = write_btree(ptype_bbt, bbt, 24, m_blocks.size());
    close_region();
    std::uint64_t file_end = region_base(m_region) + region_size;

    // Free-space maps: one byte per AMap, the longest free run in it.
    for (std::uint64_t r = 128; r <= m_region; r += 496) {
        std::uint8_t page[page_size] = {};
        for (std::size_t i = 0; i < page_data && r + i <= m_region; ++i) {
            page[i] = m_region_free_run[static_cast<std::size_t>(r + i)];
        }
        write_page(page, ptype_fmap, region_base(r) + 2 * page_size, false);
    }

    std::uint8_t h[564] = {};
    std::memcpy(h, "!BDN", 4);
    h[8] = 'S';
    h[9] = 'M';
    put16(h + 10, 23);
    put16(h + 12, 19);
    h[14] = 1;
    h[15] = 1;
    put64(h + 32, m_next_page_bid);
    put32(h + 40, info.unique);
    for (int i = 0; i < 32; ++i) {
        put32(h + 44 + 4 * i, info.next_nid[i]);
    }
    put64(h + 184, file_end);
    put64(h + 192, region_base(m_region));
    put64(h + 200, m_amap_free);
    put64(h + 208, 0);
    put64(h + 216, nbt_root.bid);
    put64(h + 224, nbt_root.ib);
    put64(h + 232, bbt_root.bid);
    put64(h + 240, bbt_root.ib);
    h[248] = 0x02; // the AMaps are valid
    std::memset(h + 256, 0xFF, 256);
    h[512] = 0x80;
    h[513] = m_permute ? 0x01 : 0x00;
    put64(h + 516, m_next_bid);
    put32(h + 4, format::crc32(0, h + 8, 471));
    put32(h + 524, format::crc32(0, h + 8, 516));
    put(0, h, sizeof h);
    flush_buffer();
    if (::ftruncate(m_fd, static_cast<off_t>(file_end)) != 0) {
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

} // namespace korvel::convert::ndb
