#include "convert/writer/ltp.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "format/layout.h"
#include "scan/names.h"

namespace korvel::convert::ltp {

namespace {

constexpr std::uint32_t nid_type_ltp = 0x1F;
// The row identifier and row version columns: full tags, identifier and type.
constexpr std::uint32_t row_id_column = (tag_row_identifier << 16) | value_type_int32;
constexpr std::uint32_t row_version_column = (tag_row_version << 16) | value_type_int32;

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

std::uint8_t fill_level(std::size_t free_bytes)
{
    static const std::size_t limits[] = {3584, 2560, 2048, 1792, 1536, 1280, 1024, 768,
                                         512,  256,  128,  64,   32,   16,   8};
    for (std::uint8_t i = 0; i < 15; ++i) {
        if (free_bytes >= limits[i]) {
            return i;
        }
    }
    return 15;
}

// Heap id or subnode id of a variable-size value.
std::uint32_t store_value(node_context &ctx, heap_writer &heap, std::span<const std::uint8_t> bytes)
{
    if (bytes.size() <= heap_max_alloc) {
        return heap.allocate(bytes);
    }
    return ctx.store_subnode(bytes);
}

} // namespace

std::uint32_t node_context::store_subnode(std::span<const std::uint8_t> data)
{
    std::uint32_t nid = new_nid(nid_type_ltp);
    std::uint64_t bid = ndb.write_data(data);
    subnodes.push_back({nid, bid, 0});
    return nid;
}

std::size_t heap_writer::header_size(std::size_t index)
{
    if (index == 0) {
        return 12;
    }
    return index % 128 == 8 ? 66 : 2;
}

std::uint32_t heap_writer::allocate(std::span<const std::uint8_t> data)
{
    if (data.size() > heap_max_alloc) {
        throw std::logic_error("heap allocation too large");
    }
    auto fits = [&](const block &b, std::size_t index) {
        std::size_t used = header_size(index) + b.data.size() + data.size();
        used += used % 2;
        return b.ends.size() < 2047 && used + 4 + 2 * (b.ends.size() + 2) <= m_block_limit;
    };
    if (m_blocks.empty() || !fits(m_blocks.back(), m_blocks.size() - 1)) {
        if (m_blocks.size() >= 0xFFFF) {
            throw std::runtime_error("heap too large");
        }
        m_blocks.emplace_back();
    }
    block &b = m_blocks.back();
    b.data.insert(b.data.end(), data.begin(), data.end());
    b.ends.push_back(static_cast<std::uint16_t>(header_size(m_blocks.size() - 1) + b.data.size()));
    return static_cast<std::uint32_t>(((m_blocks.size() - 1) << 16) | (b.ends.size() << 5));
}

void heap_writer::overwrite(std::uint32_t hid, std::span<const std::uint8_t> data)
{
    block &b = m_blocks.at(hid >> 16);
    std::size_t index = ((hid & 0xFFFF) >> 5) - 1;
    std::size_t base = header_size(hid >> 16);
    std::size_t start = (index == 0 ? base : b.ends.at(index - 1)) - base;
    std::size_t end = b.ends.at(index) - base;
    if (end - start != data.size()) {
        throw std::logic_error("heap overwrite of another size");
    }
    std::copy(data.begin(), data.end(), b.data.begin() + static_cast<long>(start));
}

std::vector<std::vector<std::uint8_t>> heap_writer::finish() const
{
    std::vector<block> blocks = m_blocks;
    if (blocks.empty()) {
        blocks.emplace_back();
    }
    std::vector<std::vector<std::uint8_t>> out;
    std::vector<std::size_t> free_space;
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const block &b = blocks[i];
        std::size_t hs = header_size(i);
        std::vector<std::uint8_t> d(hs, 0);
        d.insert(d.end(), b.data.begin(), b.data.end());
        if (d.size() % 2) {
            d.push_back(0);
        }
        put16(d.data(), static_cast<std::uint16_t>(d.size()));
        format::append_le<std::uint16_t>(d, static_cast<std::uint16_t>(b.ends.size()));
        format::append_le<std::uint16_t>(d, 0);
        format::append_le<std::uint16_t>(d, static_cast<std::uint16_t>(hs));
        for (std::uint16_t e : b.ends) {
            format::append_le<std::uint16_t>(d, e);
        }
        free_space.push_back(m_block_limit - d.size());
        out.push_back(std::move(d));
    }
    auto nibbles = [&](std::uint8_t *dst, std::size_t first, std::size_t count) {
        for (std::size_t k = 0; k < count; ++k) {
            std::size_t idx = first + k;
            std::uint8_t level = idx < free_space.size() ? fill_level(free_space[idx]) : 0;
            dst[k / 2] = static_cast<std::uint8_t>(dst[k / 2] | (level << ((k % 2) * 4)));
        }
    };
    std::vector<std::uint8_t> &first = out[0];
    first[2] = 0xEC;
    first[3] = m_client_signature;
    put32(first.data() + 4, m_user_root);
    nibbles(first.data() + 8, 0, 8);
    for (std::size_t i = 8; i < out.size(); i += 128) {
        nibbles(out[i].data() + 2, i, 128);
    }
    return out;
}

std::uint32_t write_bth(heap_writer &heap, std::uint8_t key_size, std::uint8_t data_size,
                        const std::vector<std::uint8_t> &records, std::uint32_t header_hid)
{
    std::size_t record_size = std::size_t{key_size} + data_size;
    std::size_t count = records.size() / record_size;
    std::uint32_t root = 0;
    std::uint8_t levels = 0;
    if (count > 0) {
        struct child
        {
            std::vector<std::uint8_t> key;
            std::uint32_t hid;
        };
        std::vector<child> level;
        std::size_t per = heap_max_alloc / record_size;
        for (std::size_t s = 0; s < count; s += per) {
            std::size_t n = std::min(per, count - s);
            auto begin = records.begin() + static_cast<long>(s * record_size);
            std::vector<std::uint8_t> chunk(begin, begin + static_cast<long>(n * record_size));
            level.push_back({std::vector<std::uint8_t>(begin, begin + key_size),
                             heap.allocate(chunk)});
        }
        while (level.size() > 1) {
            ++levels;
            std::size_t index_size = std::size_t{key_size} + 4;
            std::size_t per_index = heap_max_alloc / index_size;
            std::vector<child> upper;
            for (std::size_t s = 0; s < level.size(); s += per_index) {
                std::size_t n = std::min(per_index, level.size() - s);
                std::vector<std::uint8_t> chunk;
                for (std::size_t i = 0; i < n; ++i) {
                    chunk.insert(chunk.end(), level[s + i].key.begin(), level[s + i].key.end());
                    format::append_le<std::uint32_t>(chunk, level[s + i].hid);
                }
                upper.push_back({level[s].key, heap.allocate(chunk)});
            }
            level.swap(upper);
        }
        root = level.front().hid;
    }
    std::vector<std::uint8_t> header = {0xB5, key_size, data_size, levels};
    format::append_le<std::uint32_t>(header, root);
    if (header_hid == 0) {
        return heap.allocate(header);
    }
    heap.overwrite(header_hid, header);
    return header_hid;
}

bool is_inline_type(std::uint16_t type)
{
    switch (type) {
    case 0x0002: // PT_SHORT
    case 0x0003: // PT_LONG
    case 0x0004: // PT_FLOAT
    case 0x000A: // PT_ERROR
    case 0x000B: // PT_BOOLEAN
        return true;
    default:
        return false;
    }
}

std::size_t fixed_size(std::uint16_t type)
{
    switch (type) {
    case 0x000B:
        return 1;
    case 0x0002:
        return 2;
    case 0x0003:
    case 0x0004:
    case 0x000A:
        return 4;
    case 0x0005: // PT_DOUBLE
    case 0x0006: // PT_CURRENCY
    case 0x0007: // PT_APPTIME
    case 0x0014: // PT_I8
    case 0x0040: // PT_SYSTIME
        return 8;
    default:
        return 0;
    }
}

std::uint64_t write_pc(node_context &ctx, const std::vector<value> &values)
{
    heap_writer heap(0xBC, ctx.ndb.block_max_data());
    const std::uint8_t placeholder[8] = {};
    std::uint32_t header = heap.allocate(placeholder);
    std::vector<std::uint8_t> records;
    for (const value &v : values) {
        std::uint32_t hnid = 0;
        if (v.subnode) {
            hnid = *v.subnode;
        } else if (is_inline_type(v.type)) {
            std::uint8_t raw[4] = {};
            if (!v.bytes.empty()) {
                std::memcpy(raw, v.bytes.data(), std::min<std::size_t>(4, v.bytes.size()));
            }
            hnid = static_cast<std::uint32_t>(raw[0]) | (static_cast<std::uint32_t>(raw[1]) << 8) |
                   (static_cast<std::uint32_t>(raw[2]) << 16) |
                   (static_cast<std::uint32_t>(raw[3]) << 24);
        } else {
            hnid = store_value(ctx, heap, v.bytes);
        }
        format::append_le<std::uint16_t>(records, v.id);
        format::append_le<std::uint16_t>(records, v.type);
        format::append_le<std::uint32_t>(records, hnid);
    }
    heap.set_user_root(write_bth(heap, 2, 6, records, header));
    return ctx.ndb.write_block_list(heap.finish());
}

std::uint64_t write_tc(node_context &ctx, const std::vector<std::uint32_t> &columns,
                       const std::vector<row> &rows)
{
    heap_writer heap(0x7C, ctx.ndb.block_max_data());
    const std::uint8_t placeholder[8] = {};
    std::uint32_t index_header = heap.allocate(placeholder);
    struct column
    {
        std::uint32_t tag;
        std::size_t input; // index into columns, or SIZE_MAX for the row id/version
        std::uint16_t offset = 0;
        std::uint8_t size = 0;
        std::uint8_t bit = 0;
    };
    std::vector<column> cols;
    cols.push_back({row_id_column, SIZE_MAX});
    cols.push_back({row_version_column, SIZE_MAX - 1});
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (columns[i] != row_id_column && columns[i] != row_version_column) {
            cols.push_back({columns[i], i});
        }
    }
    auto cell_size = [](std::uint32_t tag) {
        std::size_t s = fixed_size(static_cast<std::uint16_t>(tag & 0xFFFF));
        return s == 0 ? std::size_t{4} : s;
    };
    // Row layout: row id, row version, then 8-, 4-, 2- and 1-byte cells, then
    // the cell existence bitmap.
    std::uint16_t offset = 8;
    cols[0].offset = 0;
    cols[0].size = 4;
    cols[1].offset = 4;
    cols[1].size = 4;
    std::uint16_t ends[4] = {};
    const std::size_t groups[] = {8, 4, 2, 1};
    for (std::size_t g = 0; g < 4; ++g) {
        for (std::size_t i = 2; i < cols.size(); ++i) {
            if (cell_size(cols[i].tag) == groups[g]) {
                cols[i].offset = offset;
                cols[i].size = static_cast<std::uint8_t>(groups[g]);
                offset = static_cast<std::uint16_t>(offset + groups[g]);
            }
        }
        if (g >= 1) {
            ends[g - 1] = offset;
        }
    }
    std::size_t ceb_size = (cols.size() + 7) / 8;
    ends[3] = static_cast<std::uint16_t>(offset + ceb_size);
    std::size_t row_size = ends[3];
    std::vector<std::size_t> order(cols.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        order[i] = i;
    }
    // Column descriptions in row order: readers take the first as the row id.
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return cols[a].offset < cols[b].offset; });
    for (std::size_t i = 0; i < order.size(); ++i) {
        cols[order[i]].bit = static_cast<std::uint8_t>(i);
    }
    std::vector<std::size_t> by_input(columns.size(), SIZE_MAX);
    for (std::size_t i = 2; i < cols.size(); ++i) {
        by_input[cols[i].input] = i;
    }

    // Rows, in the order given.
    std::vector<std::uint8_t> matrix(rows.size() * row_size, 0);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::uint8_t *p = matrix.data() + r * row_size;
        std::uint8_t *ceb = p + offset;
        auto mark = [&](const column &c) {
            ceb[c.bit / 8] = static_cast<std::uint8_t>(ceb[c.bit / 8] | (0x80u >> (c.bit % 8)));
        };
        put32(p, rows[r].row_id);
        mark(cols[0]);
        mark(cols[1]);
        for (const auto &[input, bytes] : rows[r].cells) {
            if (input >= by_input.size() || by_input[input] == SIZE_MAX) {
                continue;
            }
            const column &c = cols[by_input[input]];
            std::uint16_t type = static_cast<std::uint16_t>(c.tag & 0xFFFF);
            if (fixed_size(type) != 0) {
                if (!bytes.empty()) {
                    std::memcpy(p + c.offset, bytes.data(),
                                std::min<std::size_t>(c.size, bytes.size()));
                }
            } else {
                put32(p + c.offset, store_value(ctx, heap, bytes));
            }
            mark(c);
        }
    }
    std::uint32_t rows_ref = 0;
    if (!rows.empty()) {
        if (matrix.size() <= heap_max_alloc) {
            rows_ref = heap.allocate(matrix);
        } else {
            // Rows never straddle a block of the row matrix; every block but
            // the last is padded to the full block size.
            const std::size_t block_limit = ctx.ndb.block_max_data();
            std::size_t per_block = block_limit / row_size;
            std::vector<std::vector<std::uint8_t>> blocks;
            for (std::size_t s = 0; s < rows.size(); s += per_block) {
                std::size_t n = std::min(per_block, rows.size() - s);
                auto begin = matrix.begin() + static_cast<long>(s * row_size);
                blocks.emplace_back(begin, begin + static_cast<long>(n * row_size));
                if (s + n < rows.size()) {
                    blocks.back().resize(block_limit, 0);
                }
            }
            std::uint32_t nid = ctx.new_nid(nid_type_ltp);
            ctx.subnodes.push_back({nid, ctx.ndb.write_block_list(blocks), 0});
            rows_ref = nid;
        }
    }
    // Row index: row id to row number, sorted by row id. The 32-bit layout
    // stores the number in 2 bytes.
    const bool short_index = ctx.ndb.ansi();
    if (short_index && rows.size() > 0xFFFF) {
        throw std::runtime_error("too many rows for a 32-bit table");
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> index;
    for (std::size_t r = 0; r < rows.size(); ++r) {
        index.emplace_back(rows[r].row_id, static_cast<std::uint32_t>(r));
    }
    std::sort(index.begin(), index.end());
    std::vector<std::uint8_t> records;
    for (const auto &[id, number] : index) {
        format::append_le<std::uint32_t>(records, id);
        if (short_index) {
            format::append_le<std::uint16_t>(records, static_cast<std::uint16_t>(number));
        } else {
            format::append_le<std::uint32_t>(records, number);
        }
    }
    std::uint32_t row_index = write_bth(heap, 4, short_index ? 2 : 4, records, index_header);

    std::vector<std::uint8_t> info = {0x7C, static_cast<std::uint8_t>(cols.size())};
    for (std::uint16_t e : ends) {
        format::append_le<std::uint16_t>(info, e);
    }
    format::append_le<std::uint32_t>(info, row_index);
    format::append_le<std::uint32_t>(info, rows_ref);
    format::append_le<std::uint32_t>(info, 0);
    for (std::size_t i : order) {
        format::append_le<std::uint32_t>(info, cols[i].tag);
        format::append_le<std::uint16_t>(info, cols[i].offset);
        info.push_back(cols[i].size);
        info.push_back(cols[i].bit);
    }
    heap.set_user_root(heap.allocate(info));
    return ctx.ndb.write_block_list(heap.finish());
}

} // namespace korvel::convert::ltp
