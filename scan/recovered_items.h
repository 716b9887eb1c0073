// What the scan recovered outside the folder hierarchy: one list per source,
// messages only, each once by identifier. The tree's "Recovered Items" node,
// its listing and preview, and the save's "Recovered Items" folder all read
// this one list, so the window shows what the save writes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include <libpff.h>

#include "scan/views.h"

namespace korvel {

struct scan_state;

// Where a recovered message came from. none marks a record of an ordinary
// folder.
enum class recovered_source : std::uint8_t
{
    none = 0,
    // Messages (and orphan folders' messages) whose parent folder is lost.
    orphans = 1,
    // Deleted messages libpff finds in the file's free space.
    free_space = 2,
    // Messages rebuilt from a damaged index.
    rebuilt = 3,
};

inline constexpr std::size_t recovered_source_count = 3;
inline constexpr recovered_source recovered_sources[recovered_source_count] = {
    recovered_source::orphans, recovered_source::free_space, recovered_source::rebuilt};

// The name of the tree node and of the folder the save writes.
inline constexpr char16_t recovered_node_name[] = u"Recovered Items";

// The user's name of a source's node, without its count.
const char16_t *recovered_source_name(recovered_source source);

struct recovered_items
{
    // Per source, in the order found (owned items).
    std::vector<libpff_item_t *> lists[recovered_source_count];
    // The identifiers listed, under any source.
    std::unordered_set<std::uint32_t> identifiers;
    // The orphans have been gathered for this file.
    bool orphans_gathered = false;
    // libpff's free-space search has run on this file (it runs at most once
    // per open file, also when a Stop cut it short).
    bool free_space_searched = false;
    // The search was cut short by a Stop: its list may be incomplete.
    bool free_space_stopped = false;
    // libpff's search is running (a Stop then signals it to abort).
    std::atomic<bool> searching{false};
    // Files above this size leave the free-space search to the first click
    // on its node (or to the save): on them it can take a minute.
    std::uint64_t search_at_scan_limit = std::uint64_t{256} << 20;
    // The tree's "Recovered Items" node and each source's node (0: not shown).
    tree_item node = 0;
    tree_item source_nodes[recovered_source_count]{};
};

// Frees every item (they belong to the open file) and forgets the nodes.
void recovered_items_clear(recovered_items *items);

std::size_t recovered_items_count(const recovered_items *items, recovered_source source);
std::size_t recovered_items_total(const recovered_items *items);

// The item at index of a source's list (borrowed), or nullptr.
libpff_item_t *recovered_items_get(const recovered_items *items, recovered_source source,
                                   std::size_t index);

// Appends a copy of a message to a source's list unless the identifier is
// listed already (under any source) or the item is no message. For the
// sources filled outside this file.
// Returns 1 added, 0 left out, -1 when the copy could not be made.
int recovered_items_add(recovered_items *items, recovered_source source, libpff_item_t *item);

// Gathers libpff's orphan items (once per open file): a message is listed, an
// orphan folder brings its messages and its sub-folders'; then the messages
// the index rebuild put together, by identifier. Cheap: libpff found them at
// open.
// Returns 1, or 0 when a Stop ended it.
int recovered_items_find_orphans(scan_state *state);

// Runs libpff's search of the file's free space for deleted items (once per
// open file) and lists the messages it finds. step (may be empty) is told
// before the search starts, for a progress line. A Stop confirmed meanwhile
// makes libpff abort (scan_state_request_stop).
// Returns 1 searched (or searched before, stopped or not), 0 when a Stop
// ended this call.
int recovered_items_find_free_space(scan_state *state, const std::function<void()> &step);

// The same search on another libpff file on the same mailbox, opened from
// its name (the save runs it on a thread of its own while it walks the
// folders): lists the messages found under free_space in items, which may
// hold the identifiers of the orphans already, as the scan's list would hold
// them. stopped (asked between items, and after the search) ends it; the
// caller signals libpff's abort on file. The items belong to file.
// Returns 1 searched, 0 when stopped.
int recovered_items_search_other_file(libpff_file_t *file, recovered_items *items,
                                      const std::function<bool()> &stopped);

// The end of a scan: gathers the orphans and, on a file no bigger than
// search_at_scan_limit, searches the free space. Returns 1, 0 when stopped.
int recovered_items_find_at_scan(scan_state *state);

// Adds the "Recovered Items" node as the last child of the mailbox's root item,
// with one child per source that holds something (named with its count), and
// one for the free space while its search waits for a click. No node at all
// when every list is empty and no search waits.
void recovered_items_show(scan_state *state);

// Lists the items under a recovered node as a folder fill does (rows, and
// records that keep the source and the position in its list): one source for
// a source's node, all of them in order for "Recovered Items" itself. A
// search of the free space still waiting runs first, under the wait dialog,
// and its node then shows its count.
// Returns false (nothing done) when item is none of these nodes.
bool recovered_items_fill(scan_state *state, tree_item item);

} // namespace korvel
