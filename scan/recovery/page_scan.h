// One sequential pass over a damaged mailbox file that finds every index page
// and every data block whose trailer checks, in either layout. What it finds
// is all the index rebuild works from: the header's root pointers are not
// trusted.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "format/layout.h"

namespace korvel::recovery {

// What the allocation map says of a page: where the map checks, whether the
// page is in use; else unknown.
enum class page_liveness : std::uint8_t
{
    free = 0,
    unknown = 1,
    in_use = 2,
};

// Entries [first, first + count) of one of the scan's entry lists.
struct entry_range
{
    std::size_t first = 0;
    std::size_t count = 0;

    std::size_t end() const { return first + count; }
};

// A leaf page of either B-tree, its entries in the scan's entry list for that
// tree.
struct leaf_page
{
    std::uint64_t ib = 0;
    std::uint64_t bid = 0;
    page_liveness liveness = page_liveness::unknown;
    entry_range entries;
};

// A byte range [begin, end) of the file.
struct byte_range
{
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
};

// A sub-node block found by its trailer (level 0: a list of sub-nodes,
// level 1: a list of level-0 blocks), its entries in the scan's sub-node
// entries.
struct sub_node_block
{
    std::uint64_t bid = 0;
    std::uint8_t level = 0;
    entry_range entries;
};

struct scan_result
{
    std::vector<leaf_page> nbt_leaves;
    std::vector<leaf_page> bbt_leaves;
    std::vector<format::nbt_entry> nbt_entries;
    std::vector<format::bbt_entry> bbt_entries;
    // One entry per data block found by its trailer alone.
    std::vector<format::bbt_entry> blocks;
    // Blocks holding a whole property context with a message class, and
    // those with a folder's content count: what a lost node may be rebuilt
    // around.
    std::vector<std::uint64_t> message_blocks;
    // One per message block, same order: the sub-nodes its properties name
    // (values kept outside its heap), in referenced_sub_nodes.
    std::vector<entry_range> message_refs;
    std::vector<std::uint32_t> referenced_sub_nodes;
    std::vector<std::uint64_t> folder_blocks;
    // Data blocks the sub-node blocks found name (attachments, embedded
    // messages, tables): never a lost message of their own.
    std::vector<std::uint64_t> sub_node_blocks;
    // The sub-node blocks themselves: what a lost message's sub-node tree
    // is looked for among.
    std::vector<sub_node_block> sub_node_trees;
    std::vector<format::subnode_entry> sub_node_entries;
    // Every checking page of each tree, leaves and intermediate ones.
    std::size_t nbt_pages = 0;
    std::size_t bbt_pages = 0;
    std::size_t map_pages = 0;
    // Stretches of non-zero bytes no checking page or block covers.
    std::vector<byte_range> failed;
    std::uint64_t failed_bytes = 0;
    std::uint64_t largest_page_bid = 0;
    std::uint64_t largest_block_bid = 0;
    std::uint64_t scanned = 0;
};

// Reads up to size bytes at offset into buffer; returns the count read (0 at
// the end or on an error).
using read_function = std::function<std::size_t(std::uint64_t, std::uint8_t *, std::size_t)>;

// Scans file_size bytes through read in large sequential reads. amap_valid:
// the header says the allocation maps are up to date; permuted: data blocks
// are stored with the permute encoding. go_on(bytes done) is
// asked between reads; false ends the pass early. header_size bytes at the
// start are not counted as failing. Returns 1 when the pass ran to the end,
// 0 when go_on stopped it.
template <class Layout>
int scan_pages_and_blocks(const read_function &read, std::uint64_t file_size, bool amap_valid,
                          bool permuted, const std::function<bool(std::uint64_t)> &go_on,
                          scan_result *result);

extern template int scan_pages_and_blocks<format::unicode_layout>(
    const read_function &, std::uint64_t, bool, bool, const std::function<bool(std::uint64_t)> &,
    scan_result *);
extern template int scan_pages_and_blocks<format::ansi_layout>(
    const read_function &, std::uint64_t, bool, bool, const std::function<bool(std::uint64_t)> &,
    scan_result *);

} // namespace korvel::recovery
