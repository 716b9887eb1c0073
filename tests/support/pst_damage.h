// A test's own view of a Unicode PST's index, read from the header's roots
// without libpff, and the damage the tests do on purpose to copies of a file,
// as a damaged index would leave them.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace korvel::testing {

struct node_entry
{
    std::uint64_t data_bid = 0;
    std::uint64_t sub_bid = 0;
    std::uint32_t parent = 0;
};

struct block_entry
{
    std::uint64_t offset = 0;
    std::uint16_t size = 0;
};

struct index_view
{
    std::map<std::uint32_t, node_entry> nodes;
    // Keyed by block identifier without its reserved low bit.
    std::map<std::uint64_t, block_entry> blocks;
    std::uint64_t nbt_root_offset = 0;
    std::uint64_t bbt_root_offset = 0;

    // The file offset just past the last byte of every block the node needs
    // (its data and sub-node trees, followed through internal blocks), or 0
    // when some block is missing from the index.
    std::uint64_t node_end(const std::vector<std::uint8_t> &bytes, std::uint32_t nid) const;
    // The offset and stored size of the node's data block, or nullptr.
    const block_entry *data_block(std::uint32_t nid) const;
};

std::vector<std::uint8_t> read_bytes(const std::string &path);
void write_bytes(const std::string &path, const std::vector<std::uint8_t> &bytes);

// The index the header leads to; empty when the header or a page is damaged.
index_view read_index(const std::vector<std::uint8_t> &bytes);

// Zeroes the data block of every folder's contents table in place.
// Returns how many tables were zeroed.
int zero_contents_tables(std::vector<std::uint8_t> &bytes);

// The damage classes the recovery is measured on, by name: cut-50, cut-90,
// node-root, block-root, both-roots, header-pointers, contents-tables,
// bit-flips (1,000 past the header, seeded), hole (64 KiB at a third of the
// file and ten pages zeroed after it), node-pages (every page of the node
// index zeroed, in either layout). Returns false for an unknown name.
bool damage_by_name(const std::string &name, std::vector<std::uint8_t> &bytes);

// Gives a node a parent that does not exist: patches its entry in the node
// B-tree's leaf page and the page's CRC. False when the node is not found.
bool reparent_node(const std::string &path, std::uint32_t nid, std::uint32_t parent);

// Deletes a message as an update of the index does: its node and its blocks
// leave the B-trees, and the old leaf pages that still list them stay behind
// in the file's free space. The node must be the last entry of its leaf.
bool delete_message(const std::string &path, std::uint32_t nid);

// A mailbox with two orphans and one deleted message beside a folder of two:
// "Mail" keeps "Kept 1" and "Kept 2"; "Lost" (its parent gone) holds "In lost"
// and its sub-folder "Lost below" holds "Below lost"; "Deleted" was the only
// message of "Old" (delete_message). Every message's body is "body of " and
// its subject.
// Returns false when the damage could not be done.
bool write_mailbox_with_recovered_items(const std::string &path);

} // namespace korvel::testing
