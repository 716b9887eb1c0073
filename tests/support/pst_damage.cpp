#include "tests/support/pst_damage.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>

namespace korvel::testing {
namespace {

// Unicode layout: 512-byte pages whose entries end at 488, the trailer at 496.
constexpr std::size_t page_size = 512;
constexpr std::size_t entry_count_at = 488;
constexpr std::size_t level_at = 491;
constexpr std::size_t page_type_at = 496;
constexpr std::size_t nbt_root_at = 0xE0;
constexpr std::size_t bbt_root_at = 0xF0;

std::uint64_t load(const std::vector<std::uint8_t> &bytes, std::uint64_t at, int size)
{
    std::uint64_t value = 0;
    for (int i = size - 1; i >= 0; --i) {
        value = value << 8 | bytes[at + static_cast<std::uint64_t>(i)];
    }
    return value;
}

// Calls leaf(entry offset) for each leaf entry under the page at offset.
template <typename Leaf>
bool walk_tree(const std::vector<std::uint8_t> &bytes, std::uint64_t offset, std::uint8_t type,
               std::size_t leaf_size, int depth, const Leaf &leaf)
{
    if (depth > 16 || offset + page_size > bytes.size() || bytes[offset + page_type_at] != type) {
        return false;
    }
    const unsigned count = bytes[offset + entry_count_at];
    const unsigned level = bytes[offset + level_at];
    const std::size_t size = level == 0 ? leaf_size : 24;
    if (count * size > entry_count_at) {
        return false;
    }
    for (unsigned i = 0; i < count; ++i) {
        const std::uint64_t entry = offset + i * size;
        if (level == 0) {
            leaf(entry);
        } else if (!walk_tree(bytes, load(bytes, entry + 16, 8), type, leaf_size, depth + 1,
                              leaf)) {
            return false;
        }
    }
    return true;
}

} // namespace

std::vector<std::uint8_t> read_bytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write_bytes(const std::string &path, const std::vector<std::uint8_t> &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

index_view read_index(const std::vector<std::uint8_t> &bytes)
{
    index_view view;
    if (bytes.size() < 0x200) {
        return view;
    }
    view.nbt_root_offset = load(bytes, nbt_root_at, 8);
    view.bbt_root_offset = load(bytes, bbt_root_at, 8);
    const bool nodes_read =
        walk_tree(bytes, view.nbt_root_offset, 0x81, 32, 0, [&](std::uint64_t entry) {
            view.nodes[static_cast<std::uint32_t>(load(bytes, entry, 8))] = {
                load(bytes, entry + 8, 8), load(bytes, entry + 16, 8),
                static_cast<std::uint32_t>(load(bytes, entry + 24, 4))};
        });
    const bool blocks_read =
        walk_tree(bytes, view.bbt_root_offset, 0x80, 24, 0, [&](std::uint64_t entry) {
            view.blocks[load(bytes, entry, 8) & ~std::uint64_t{1}] = {
                load(bytes, entry + 8, 8), static_cast<std::uint16_t>(load(bytes, entry + 16, 2))};
        });
    if (!nodes_read || !blocks_read) {
        return {};
    }
    return view;
}

const block_entry *index_view::data_block(std::uint32_t nid) const
{
    const auto node = nodes.find(nid);
    if (node == nodes.end()) {
        return nullptr;
    }
    const auto block = blocks.find(node->second.data_bid & ~std::uint64_t{1});
    return block == blocks.end() ? nullptr : &block->second;
}

std::uint64_t index_view::node_end(const std::vector<std::uint8_t> &bytes, std::uint32_t nid) const
{
    const auto node = nodes.find(nid);
    if (node == nodes.end()) {
        return 0;
    }
    std::uint64_t end = 0;
    std::set<std::uint64_t> seen;
    // Internal blocks (bit 1 of the identifier) list further blocks: a data
    // tree's entries are block identifiers, a sub-node tree's (nid, data, sub).
    auto follow = [&](auto &self, std::uint64_t bid, int depth) -> bool {
        bid &= ~std::uint64_t{1};
        if (bid == 0) {
            return true;
        }
        const auto block = blocks.find(bid);
        if (block == blocks.end() || depth > 8 || !seen.insert(bid).second) {
            return false;
        }
        const std::uint64_t at = block->second.offset;
        const std::uint64_t stored = (std::uint64_t{block->second.size} + 16 + 63) / 64 * 64;
        if (at + stored > bytes.size()) {
            return false;
        }
        end = std::max(end, at + stored);
        if ((bid & 2) == 0) {
            return true;
        }
        const std::uint8_t kind = bytes[at];
        const unsigned count = static_cast<unsigned>(load(bytes, at + 2, 2));
        if (kind == 0x01) { // data tree
            for (unsigned i = 0; i < count; ++i) {
                if (8 + i * 8 + 8 > block->second.size ||
                    !self(self, load(bytes, at + 8 + i * 8, 8), depth + 1)) {
                    return false;
                }
            }
        } else if (kind == 0x02) { // sub-node tree
            const bool leaf = bytes[at + 1] == 0;
            const unsigned size = leaf ? 24 : 16;
            for (unsigned i = 0; i < count; ++i) {
                const std::uint64_t entry = at + 8 + i * size;
                if (8 + (i + 1) * size > block->second.size) {
                    return false;
                }
                if (leaf ? !self(self, load(bytes, entry + 8, 8), depth + 1) ||
                               !self(self, load(bytes, entry + 16, 8), depth + 1)
                         : !self(self, load(bytes, entry + 8, 8), depth + 1)) {
                    return false;
                }
            }
        }
        return true;
    };
    if (!follow(follow, node->second.data_bid, 0) || !follow(follow, node->second.sub_bid, 0)) {
        return 0;
    }
    return end;
}

int zero_contents_tables(std::vector<std::uint8_t> &bytes)
{
    const index_view view = read_index(bytes);
    int zeroed = 0;
    for (const auto &[nid, node] : view.nodes) {
        if ((nid & 0x1F) != 0x02) {
            continue;
        }
        const block_entry *table = view.data_block((nid & ~0x1Fu) | 0x0E);
        if (table == nullptr || table->offset + table->size > bytes.size()) {
            continue;
        }
        std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(table->offset),
                  bytes.begin() + static_cast<std::ptrdiff_t>(table->offset + table->size), 0);
        ++zeroed;
    }
    return zeroed;
}

bool damage_by_name(const std::string &name, std::vector<std::uint8_t> &bytes)
{
    const index_view view = read_index(bytes);
    auto zero = [&](std::uint64_t at, std::uint64_t size) {
        if (at < bytes.size()) {
            const std::uint64_t end = std::min<std::uint64_t>(at + size, bytes.size());
            std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(at),
                      bytes.begin() + static_cast<std::ptrdiff_t>(end), 0);
        }
    };
    if (name == "cut-50" || name == "cut-90") {
        bytes.resize(bytes.size() * (name == "cut-50" ? 50u : 90u) / 100);
    } else if (name == "node-root" || name == "block-root" || name == "both-roots") {
        if (name != "block-root") {
            zero(view.nbt_root_offset, page_size);
        }
        if (name != "node-root") {
            zero(view.bbt_root_offset, page_size);
        }
    } else if (name == "header-pointers") {
        std::fill(bytes.begin() + 0xD8, bytes.begin() + 0xF8, 0xA5);
    } else if (name == "contents-tables") {
        zero_contents_tables(bytes);
    } else if (name == "bit-flips") {
        std::uint64_t state = 0x2545F4914F6CDD1DULL;
        const std::uint64_t span = bytes.size() - 0x4400;
        for (int i = 0; i < 1000; ++i) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            const std::uint64_t at = 0x4400 + state % span;
            bytes[at] = static_cast<std::uint8_t>(bytes[at] ^ (1u << (state >> 61)));
        }
    } else if (name == "hole") {
        const std::uint64_t hole = bytes.size() / 3 / page_size * page_size;
        zero(hole, 65536);
        for (std::uint64_t i = 0; i < 10; ++i) {
            zero(hole + 65536 + (i + 1) * 16 * page_size, page_size);
        }
    } else {
        return false;
    }
    return true;
}

} // namespace korvel::testing
