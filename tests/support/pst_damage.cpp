#include "tests/support/pst_damage.h"

#include <algorithm>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <vector>

#include <libpff.h>

#include "format/crc.h"
#include "format/layout.h"
#include "tests/support/pst_builder.h"

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



constexpr std::uint8_t node_leaf = 0x81;
constexpr std::uint8_t block_leaf = 0x80;

std::uint64_t little_endian(const std::uint8_t *bytes, std::size_t size)
{
    std::uint64_t value = 0;
    for (std::size_t b = 0; b < size; ++b) {
        value |= static_cast<std::uint64_t>(bytes[b]) << (8 * b);
    }
    return value;
}

// Puts a page's signature (from where it lies and its block id) and its CRC.
void seal_page(std::uint8_t *page, std::uint64_t at)
{
    const std::uint16_t signature = format::compute_sig(at, little_endian(page + 504, 8));
    page[498] = static_cast<std::uint8_t>(signature);
    page[499] = static_cast<std::uint8_t>(signature >> 8);
    const std::uint32_t crc = format::crc32(0, page, 496);
    for (std::size_t b = 0; b < 4; ++b) {
        page[500 + b] = static_cast<std::uint8_t>(crc >> (8 * b));
    }
}

// Calls change(page, entry) on the leaf entry of id in the node (node_leaf,
// 32-bit keys) or block (block_leaf, 64-bit keys) B-tree and writes the page
// back when change returns true. original (may be null) receives the page as
// it was.
bool patch_leaf_entry(const std::string &path, std::uint8_t leaf, std::uint64_t id,
                      const std::function<bool(std::uint8_t *, std::size_t)> &change,
                      std::vector<std::uint8_t> *original = nullptr)
{
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    std::vector<std::uint8_t> page(page_size);
    const std::size_t key_size = leaf == node_leaf ? 4 : 8;
    for (std::streamoff at = 0;; at += static_cast<std::streamoff>(page_size)) {
        f.seekg(at);
        if (!f.read(reinterpret_cast<char *>(page.data()), static_cast<std::streamsize>(page_size))) {
            return false;
        }
        if (page[496] != leaf || page[497] != leaf || page[491] != 0) {
            continue; // not a leaf of that tree
        }
        for (std::size_t i = 0; i < page[488]; ++i) {
            if (little_endian(page.data() + i * page[490], key_size) != id) {
                continue;
            }
            if (original != nullptr) {
                *original = page;
            }
            if (!change(page.data(), i)) {
                return false;
            }
            seal_page(page.data(), static_cast<std::uint64_t>(at));
            f.seekp(at);
            f.write(reinterpret_cast<const char *>(page.data()), static_cast<std::streamsize>(page_size));
            return static_cast<bool>(f);
        }
    }
}

bool patch_node_entry(const std::string &path, std::uint32_t nid,
                      const std::function<bool(std::uint8_t *, std::size_t)> &change,
                      std::vector<std::uint8_t> *original = nullptr)
{
    return patch_leaf_entry(path, node_leaf, nid, change, original);
}

// Takes a block's entry out of the block B-tree: the later entries move up.
bool drop_block(const std::string &path, std::uint64_t bid, std::vector<std::uint8_t> *original)
{
    return patch_leaf_entry(
        path, block_leaf, bid,
        [](std::uint8_t *page, std::size_t entry) {
            const std::size_t size = page[490];
            std::copy(page + (entry + 1) * size, page + page[488] * size, page + entry * size);
            --page[488];
            return true;
        },
        original);
}

// Writes pages into the file's free space as a B-tree update leaves the old
// pages behind: at the start of the last free block libpff reports.
bool leave_behind(const std::string &path, const std::vector<std::vector<std::uint8_t>> &pages)
{
    libpff_file_t *file = nullptr;
    if (libpff_file_initialize(&file, nullptr) != 1) {
        return false;
    }
    off64_t at = 0;
    size64_t size = 0;
    int count = 0;
    const bool found =
        libpff_file_open(file, path.c_str(), LIBPFF_OPEN_READ, nullptr) == 1 &&
        libpff_file_get_number_of_unallocated_blocks(file, LIBPFF_UNALLOCATED_BLOCK_TYPE_DATA,
                                                     &count, nullptr) == 1 &&
        count > 0 &&
        libpff_file_get_unallocated_block(file, LIBPFF_UNALLOCATED_BLOCK_TYPE_DATA, count - 1, &at,
                                          &size, nullptr) == 1;
    libpff_file_close(file, nullptr);
    libpff_file_free(&file, nullptr);
    const auto start = static_cast<std::uint64_t>(at + 511) / 512 * 512;
    if (!found || start + pages.size() * page_size > static_cast<std::uint64_t>(at) + size) {
        return false;
    }
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    for (std::size_t i = 0; i < pages.size(); ++i) {
        std::vector<std::uint8_t> page = pages[i];
        const std::uint64_t where = start + i * page_size;
        seal_page(page.data(), where);
        f.seekp(static_cast<std::streamoff>(where));
        f.write(reinterpret_cast<const char *>(page.data()), static_cast<std::streamsize>(page_size));
    }
    return static_cast<bool>(f);
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
    } else if (name == "node-pages") {
        // Every page whose trailer names the node index, in either layout:
        // no message keeps its node entry.
        const std::size_t trailer = bytes.size() > 10 && bytes[10] >= 23 ? 496 : 500;
        for (std::uint64_t at = 0x4400; at + page_size <= bytes.size(); at += page_size) {
            if (bytes[at + trailer] == 0x81 && bytes[at + trailer + 1] == 0x81) {
                zero(at, page_size);
            }
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


bool reparent_node(const std::string &path, std::uint32_t nid, std::uint32_t parent)
{
    return patch_node_entry(path, nid, [parent](std::uint8_t *page, std::size_t entry) {
        std::uint8_t *e = page + entry * page[490];
        for (std::size_t b = 0; b < 4; ++b) {
            e[24 + b] = static_cast<std::uint8_t>(parent >> (8 * b));
        }
        return true;
    });
}

bool delete_message(const std::string &path, std::uint32_t nid)
{
    std::vector<std::uint8_t> node_page;
    std::uint64_t blocks[2] = {0, 0};
    if (!patch_node_entry(
            path, nid,
            [&](std::uint8_t *page, std::size_t entry) {
                blocks[0] = little_endian(page + entry * page[490] + 8, 8);
                blocks[1] = little_endian(page + entry * page[490] + 16, 8);
                if (entry + 1 != page[488]) {
                    return false;
                }
                --page[488];
                return true;
            },
            &node_page)) {
        return false;
    }
    std::vector<std::vector<std::uint8_t>> old_pages{node_page};
    for (std::uint64_t bid : blocks) {
        std::vector<std::uint8_t> block_page;
        if (bid != 0 && drop_block(path, bid, &block_page)) {
            old_pages.push_back(block_page);
        }
    }
    return old_pages.size() > 1 && leave_behind(path, old_pages);
}

bool write_mailbox_with_recovered_items(const std::string &path)
{
    pst_builder b;
    auto &mail = b.root().add_folder(u8"Mail");
    auto add = [](pst_folder &folder, const char *subject) {
        auto &m = folder.add_message("IPM.Note");
        m.set_unicode(0x0037, subject);
        m.set_body(std::string("body of ") + subject);
    };
    add(mail, "Kept 1");
    add(mail, "Kept 2");
    auto &lost = b.root().add_folder(u8"Lost");
    add(lost, "In lost");
    add(lost.add_folder(u8"Lost below"), "Below lost");
    add(b.root().add_folder(u8"Old"), "Deleted");
    b.write(path);
    // Nodes are numbered folder by folder: "Lost" is the second folder
    // (0x8042), "Deleted" the last message (0x200084) and the last node of
    // the index.
    return reparent_node(path, (0x402u << 5) | 0x02, (0x7FF1u << 5) | 0x02) &&
           delete_message(path, 0x200084);
}

} // namespace korvel::testing
