// Damage done on purpose to a writer-made mailbox, as a damaged index would
// leave it: a node whose parent is lost, a node dropped from the index.
#pragma once

#include <cstdint>
#include <string>

namespace korvel::testing {

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
