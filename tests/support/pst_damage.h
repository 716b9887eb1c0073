// Damage done on purpose to a writer-made mailbox, as a damaged index would
// leave it: a node whose parent is lost, a node dropped from the index.
#pragma once

#include <cstdint>
#include <string>

namespace korvel::testing {

// Gives a node a parent that does not exist: patches its entry in the node
// B-tree's leaf page and the page's CRC. False when the node is not found.
bool reparent_node(const std::string &path, std::uint32_t nid, std::uint32_t parent);

// Drops a node from the node B-tree the way a deletion does: the node must be
// the last entry of its leaf, whose entry count goes down by one, leaving the
// entry in the page's free part and the node's blocks in the file. False when
// the node is not the last entry of a leaf.
bool delete_last_node(const std::string &path, std::uint32_t nid);

// A mailbox with two orphans and one deleted message beside a folder of two:
// "Mail" keeps "Kept 1" and "Kept 2"; "Lost" (its parent gone) holds "In lost"
// and its sub-folder "Lost below" holds "Below lost"; "Deleted" was the only
// message of "Old" (its node dropped from the index, its blocks still indexed:
// libpff's free-space search does not bring it back). Every message's body is
// "body of " and its subject.
// Returns false when the damage could not be done.
bool write_mailbox_with_recovered_items(const std::string &path);

} // namespace korvel::testing
