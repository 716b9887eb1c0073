#include "scan/recovery/index_rebuild.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <set>

#include "format/crc.h"
#include "format/encoding.h"

namespace korvel::recovery {
namespace {

using format::load_le;
using format::store_le;

constexpr std::uint32_t nid_type_mask = 0x1F;
constexpr std::uint32_t nid_type_folder = 0x02;
constexpr std::uint32_t nid_type_message = 0x04;
// The lowest bit of a block id is reserved; bit 1 marks an internal block.
constexpr std::uint64_t bid_reserved = 1;

class source_file
{
public:
    explicit source_file(const std::string &path) : m_fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~source_file()
    {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    source_file(const source_file &) = delete;
    source_file &operator=(const source_file &) = delete;

    bool ok() const { return m_fd >= 0; }
    std::uint64_t size() const
    {
        struct stat st {};
        return ::fstat(m_fd, &st) == 0 && st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size)
                                                          : 0;
    }
    std::size_t read(std::uint64_t at, std::uint8_t *buffer, std::size_t size) const
    {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t got = ::pread(m_fd, buffer + done, size - done,
                                        static_cast<off_t>(at + done));
            if (got <= 0) {
                break;
            }
            done += static_cast<std::size_t>(got);
        }
        return done;
    }

private:
    int m_fd;
};

// Entries of one tree chosen from the leaf pages found: pages the allocation
// map marks in use first, then unknown, then free, the newest page first
// within each; a key is taken from the first page that has it, except that a
// free or unknown page never brings back a key inside the key range of a
// page in use (the live page left it out: it was deleted).
template <class Entry, class Key>
std::vector<Entry> choose_entries(std::vector<leaf_page> leaves, const std::vector<Entry> &entries,
                                  const Key &key_of)
{
    std::sort(leaves.begin(), leaves.end(), [](const leaf_page &a, const leaf_page &b) {
        return a.liveness != b.liveness ? a.liveness > b.liveness : a.bid > b.bid;
    });
    // First key to last key of each page in use (a tree's pages never overlap).
    std::map<std::uint64_t, std::uint64_t> live_ranges;
    auto in_live_range = [&](std::uint64_t key) {
        auto after = live_ranges.upper_bound(key);
        return after != live_ranges.begin() && key <= std::prev(after)->second;
    };
    std::map<std::uint64_t, Entry> chosen;
    for (const leaf_page &leaf : leaves) {
        if (leaf.entries.count == 0) {
            continue;
        }
        const bool live = leaf.liveness == page_liveness::in_use;
        for (std::size_t i = leaf.entries.first; i < leaf.entries.end(); ++i) {
            const std::uint64_t key = key_of(entries[i]);
            if (!live && in_live_range(key)) {
                continue;
            }
            chosen.try_emplace(key, entries[i]);
        }
        if (live) {
            const std::uint64_t first = key_of(entries[leaf.entries.first]);
            const std::uint64_t last = key_of(entries[leaf.entries.end() - 1]);
            auto [at, inserted] = live_ranges.try_emplace(first, last);
            if (!inserted) {
                at->second = std::max(at->second, last);
            }
        }
    }
    std::vector<Entry> out;
    out.reserve(chosen.size());
    for (const auto &[key, entry] : chosen) {
        out.push_back(entry);
    }
    return out;
}

// Writes one B-tree page at the end of pages and returns its reference.
template <class Layout>
format::bt_entry write_page(std::vector<std::uint8_t> &pages, std::uint64_t pages_at,
                            std::uint64_t *next_bid, format::page_type type, std::uint8_t level,
                            std::size_t count, std::size_t entry_size, std::size_t capacity,
                            std::uint64_t first_key,
                            const std::function<void(std::uint8_t *, std::size_t)> &write_entry)
{
    const std::size_t at = pages.size();
    pages.resize(at + Layout::page_size, 0);
    std::uint8_t *page = pages.data() + at;
    for (std::size_t i = 0; i < count; ++i) {
        write_entry(page + i * entry_size, i);
    }
    page[Layout::btpage_entries_size] = static_cast<std::uint8_t>(count);
    page[Layout::btpage_entries_size + 1] = static_cast<std::uint8_t>(capacity);
    page[Layout::btpage_entries_size + 2] = static_cast<std::uint8_t>(entry_size);
    page[Layout::btpage_entries_size + 3] = level;
    const std::uint64_t ib = pages_at + at;
    const std::uint64_t bid = *next_bid;
    *next_bid += 4;
    format::page_trailer trailer;
    trailer.type = type;
    trailer.type_repeat = static_cast<std::uint8_t>(type);
    trailer.signature = format::compute_sig(ib, bid);
    trailer.crc = format::crc32(0, page, Layout::page_data_size);
    trailer.bid = bid;
    Layout::write_page_trailer(page, trailer);
    return {first_key, bid, ib};
}

// Builds a whole tree over sorted leaf entries; returns the root's reference.
template <class Layout, class Entry>
format::bt_entry build_tree(std::vector<std::uint8_t> &pages, std::uint64_t pages_at,
                            std::uint64_t *next_bid, format::page_type type,
                            const std::vector<Entry> &entries, std::size_t entry_size,
                            const std::function<std::uint64_t(const Entry &)> &key_of,
                            const std::function<void(std::uint8_t *, const Entry &)> &write)
{
    const std::size_t leaf_capacity = Layout::btpage_entries_size / entry_size;
    std::vector<format::bt_entry> level;
    for (std::size_t first = 0; first < entries.size() || level.empty(); first += leaf_capacity) {
        const std::size_t count = std::min(leaf_capacity, entries.size() - first);
        level.push_back(write_page<Layout>(
            pages, pages_at, next_bid, type, 0, count, entry_size, leaf_capacity,
            count > 0 ? key_of(entries[first]) : 0,
            [&](std::uint8_t *p, std::size_t i) { write(p, entries[first + i]); }));
    }
    const std::size_t capacity = Layout::btpage_entries_size / Layout::bt_entry_size;
    for (std::uint8_t depth = 1; level.size() > 1; ++depth) {
        std::vector<format::bt_entry> upper;
        for (std::size_t first = 0; first < level.size(); first += capacity) {
            const std::size_t count = std::min(capacity, level.size() - first);
            upper.push_back(write_page<Layout>(
                pages, pages_at, next_bid, type, depth, count, Layout::bt_entry_size, capacity,
                level[first].key,
                [&](std::uint8_t *p, std::size_t i) { Layout::write_bt_entry(p, level[first + i]); }));
        }
        level = std::move(upper);
    }
    return level.front();
}

// Block entries: the chosen index entries whose block lies in the file,
// then every block found by its trailer that no entry names.
std::vector<format::bbt_entry> merge_blocks(const std::vector<format::bbt_entry> &indexed,
                                            std::vector<format::bbt_entry> found,
                                            std::uint64_t file_size, std::size_t *from_trailers)
{
    auto key = [](const format::bbt_entry &e) { return e.bid & ~bid_reserved; };
    auto by_key = [&](const format::bbt_entry &a, const format::bbt_entry &b) {
        return key(a) < key(b);
    };
    // indexed comes sorted by key from the entry choice.
    std::sort(found.begin(), found.end(), by_key);
    found.erase(std::unique(found.begin(), found.end(),
                            [&](const auto &a, const auto &b) { return key(a) == key(b); }),
                found.end());
    std::vector<format::bbt_entry> out;
    out.reserve(std::max(indexed.size(), found.size()));
    *from_trailers = 0;
    auto next_found = found.begin();
    for (const format::bbt_entry &entry : indexed) {
        for (; next_found != found.end() && key(*next_found) < key(entry); ++next_found) {
            out.push_back(*next_found);
            ++*from_trailers;
        }
        if (next_found != found.end() && key(*next_found) == key(entry)) {
            // Where the block was found checking wins over where the index says.
            format::bbt_entry merged = entry;
            merged.ib = next_found->ib;
            merged.size = next_found->size;
            out.push_back(merged);
            ++next_found;
        } else if (entry.ib < file_size && entry.size <= file_size - entry.ib) {
            out.push_back(entry);
        }
    }
    for (; next_found != found.end(); ++next_found) {
        out.push_back(*next_found);
        ++*from_trailers;
    }
    return out;
}

// A sub-node block no node or other sub-node block names: the top of a
// tree whose message may have lost its node. nids holds the sub-nodes it
// leads to, sorted.
struct orphan_tree
{
    std::uint64_t bid = 0;
    std::vector<std::uint32_t> nids;
};

std::vector<orphan_tree> orphan_trees(const scan_result &scan,
                                      const std::vector<format::nbt_entry> &nodes,
                                      const std::set<std::uint64_t> &present)
{
    std::set<std::uint64_t> claimed;
    for (const format::nbt_entry &node : nodes) {
        claimed.insert(node.bid_sub & ~bid_reserved);
    }
    std::map<std::uint64_t, const sub_node_block *> by_bid;
    for (const sub_node_block &tree : scan.sub_node_trees) {
        by_bid.try_emplace(tree.bid & ~bid_reserved, &tree);
        for (std::size_t i = tree.entries.first; i < tree.entries.end(); ++i) {
            const format::subnode_entry &entry = scan.sub_node_entries[i];
            claimed.insert((tree.level == 0 ? entry.bid_sub : entry.bid_data) & ~bid_reserved);
        }
    }
    auto add_nids = [&](const sub_node_block &tree, std::vector<std::uint32_t> *nids) {
        for (std::size_t i = tree.entries.first; i < tree.entries.end(); ++i) {
            nids->push_back(scan.sub_node_entries[i].nid);
        }
    };
    std::vector<orphan_tree> out;
    for (const auto &[key, tree] : by_bid) {
        if (claimed.count(key) != 0 || present.count(key) == 0) {
            continue;
        }
        orphan_tree orphan{tree->bid, {}};
        if (tree->level == 0) {
            add_nids(*tree, &orphan.nids);
        } else {
            for (std::size_t i = tree->entries.first; i < tree->entries.end(); ++i) {
                const auto child = by_bid.find(scan.sub_node_entries[i].bid_data & ~bid_reserved);
                if (child == by_bid.end() || child->second->level != 0 ||
                    present.count(child->first) == 0) {
                    orphan.nids.clear();
                    break;
                }
                add_nids(*child->second, &orphan.nids);
            }
        }
        if (orphan.nids.empty()) {
            continue;
        }
        std::sort(orphan.nids.begin(), orphan.nids.end());
        out.push_back(std::move(orphan));
    }
    return out;
}

// The sub-node tree of each lost message (index into lost_bids), where one
// can be told. Sub-node ids repeat from message to message, so the tree must
// hold every sub-node the message's properties name, and it must be the only
// such tree between the message's block and the next message's in block id
// order: the writer and the mail client allocate a message's blocks
// together, its tree just after or just before its context. The direction
// that pairs more messages is taken first, then the other for what is left;
// a message with no tree, or two, in its gap keeps none.
std::map<std::size_t, std::uint64_t>
match_sub_node_trees(const scan_result &scan, const std::vector<std::uint64_t> &lost_bids,
                     const std::vector<entry_range> &lost_refs,
                     const std::vector<orphan_tree> &trees)
{
    // Every message context that is no sub-node bounds a gap.
    std::set<std::uint64_t> embedded;
    for (const std::uint64_t bid : scan.sub_node_blocks) {
        embedded.insert(bid & ~bid_reserved);
    }
    std::vector<std::uint64_t> bounds;
    for (const std::uint64_t bid : scan.message_blocks) {
        if (embedded.count(bid & ~bid_reserved) == 0) {
            bounds.push_back(bid & ~bid_reserved);
        }
    }
    std::sort(bounds.begin(), bounds.end());
    auto fits = [&](std::size_t message, const orphan_tree &tree) {
        const entry_range refs = lost_refs[message];
        for (std::size_t i = refs.first; i < refs.end(); ++i) {
            if (!std::binary_search(tree.nids.begin(), tree.nids.end(),
                                    scan.referenced_sub_nodes[i])) {
                return false;
            }
        }
        return true;
    };
    // trees come sorted by block id; a tree in used is never given twice.
    std::set<std::uint64_t> used;
    auto pair_in = [&](bool after, std::map<std::size_t, std::uint64_t> *pairs) {
        for (std::size_t m = 0; m < lost_bids.size(); ++m) {
            if (pairs->count(m) != 0) {
                continue;
            }
            const std::uint64_t bid = lost_bids[m] & ~bid_reserved;
            const auto at = std::lower_bound(bounds.begin(), bounds.end(), bid);
            std::uint64_t low = bid;
            std::uint64_t high = bid;
            if (after) {
                const auto next = at != bounds.end() && *at == bid ? at + 1 : at;
                high = next == bounds.end() ? ~std::uint64_t{0} : *next;
            } else {
                low = at == bounds.begin() ? 0 : *(at - 1);
            }
            const auto first = std::upper_bound(
                trees.begin(), trees.end(), low,
                [](std::uint64_t key, const orphan_tree &t) { return key < (t.bid & ~bid_reserved); });
            std::size_t found = 0;
            std::uint64_t tree_bid = 0;
            for (auto t = first; t != trees.end() && (t->bid & ~bid_reserved) < high; ++t) {
                if (used.count(t->bid & ~bid_reserved) == 0 && fits(m, *t)) {
                    ++found;
                    tree_bid = t->bid;
                }
            }
            if (found == 1) {
                pairs->emplace(m, tree_bid);
            }
        }
    };
    std::map<std::size_t, std::uint64_t> after;
    std::map<std::size_t, std::uint64_t> before;
    pair_in(true, &after);
    pair_in(false, &before);
    const bool after_first = after.size() >= before.size();
    std::map<std::size_t, std::uint64_t> pairs = after_first ? after : before;
    // A message rewritten after its tree was (the mail client stores a
    // changed message anew) has its tree on the other side: the trees the
    // first direction left may still pair the messages it left.
    for (const auto &[message, tree] : pairs) {
        used.insert(tree & ~bid_reserved);
    }
    pair_in(!after_first, &pairs);
    return pairs;
}

// Message contexts found in blocks that no node names become nodes of
// their own, with a parent no folder has (libpff then lists them among the
// items no folder leads to), with the sub-node tree (recipients,
// attachments, large values) that can be told to be theirs. When the root folder's node is lost too, a folder context no
// node names stands in for it, so the mailbox opens.
// Returns true when the stand-in root's own block (stand_in_bid, an empty
// folder context) must be added.
bool add_lost_messages(const scan_result &scan, const std::vector<format::bbt_entry> &blocks,
                       std::uint64_t stand_in_bid, std::vector<format::nbt_entry> *nodes,
                       std::vector<lost_node> *rebuilt)
{
    constexpr std::uint32_t root_folder = 0x122;
    std::set<std::uint64_t> named;
    std::uint32_t largest_index = 0x400;
    bool has_root = false;
    for (const format::nbt_entry &node : *nodes) {
        named.insert(node.bid_data & ~bid_reserved);
        largest_index = std::max(largest_index, static_cast<std::uint32_t>(node.nid >> 5));
        has_root = has_root || node.nid == root_folder;
    }
    for (const std::uint64_t bid : scan.sub_node_blocks) {
        named.insert(bid & ~bid_reserved);
    }
    std::set<std::uint64_t> present;
    for (const format::bbt_entry &block : blocks) {
        present.insert(block.bid & ~bid_reserved);
    }
    auto unnamed = [&](std::uint64_t bid) {
        return named.count(bid & ~bid_reserved) == 0 && present.count(bid & ~bid_reserved) != 0;
    };
    bool stand_in = false;
    std::uint32_t lost_parent = ((largest_index + 1) << 5) | nid_type_folder;
    if (!has_root) {
        const auto folder = std::find_if(scan.folder_blocks.begin(), scan.folder_blocks.end(), unnamed);
        std::uint64_t root_bid = stand_in_bid;
        if (folder != scan.folder_blocks.end()) {
            root_bid = *folder;
            named.insert(*folder & ~bid_reserved);
        } else if (scan.message_blocks.empty()) {
            return false;
        } else {
            stand_in = true;
        }
        nodes->push_back({root_folder, root_bid, 0, root_folder});
        // With no folder left to lead to them, the messages are the root's.
        lost_parent = root_folder;
    }
    std::set<std::uint64_t> taken;
    std::vector<std::uint64_t> lost_bids;
    std::vector<entry_range> lost_refs;
    for (std::size_t i = 0; i < scan.message_blocks.size(); ++i) {
        const std::uint64_t bid = scan.message_blocks[i];
        if (unnamed(bid) && taken.insert(bid & ~bid_reserved).second) {
            lost_bids.push_back(bid);
            lost_refs.push_back(scan.message_refs[i]);
        }
    }
    const std::map<std::size_t, std::uint64_t> trees =
        match_sub_node_trees(scan, lost_bids, lost_refs, orphan_trees(scan, *nodes, present));
    std::vector<format::nbt_entry> lost;
    std::uint32_t next_index = largest_index + 2;
    for (std::size_t m = 0; m < lost_bids.size(); ++m) {
        const auto tree = trees.find(m);
        const std::uint64_t bid_sub = tree == trees.end() ? 0 : tree->second;
        lost.push_back({(next_index++ << 5) | nid_type_message, lost_bids[m], bid_sub, lost_parent});
        rebuilt->push_back({static_cast<std::uint32_t>(lost.back().nid), lost_parent,
                            lost_bids[m], bid_sub, bid_sub != 0});
    }
    nodes->insert(nodes->end(), lost.begin(), lost.end());
    std::sort(nodes->begin(), nodes->end(),
              [](const format::nbt_entry &a, const format::nbt_entry &b) { return a.nid < b.nid; });
    return stand_in;
}

// An empty property context (a heap holding a property tree with no
// properties) as a block at the start of pages: the stand-in root's data.
template <class Layout>
format::bbt_entry write_empty_context(std::vector<std::uint8_t> &pages, std::uint64_t ib,
                                      std::uint64_t bid, bool permuted)
{
    constexpr std::size_t size = 28;
    std::uint8_t data[size] = {
        20, 0, 0xEC, 0xBC, 0x20, 0, 0, 0, 0, 0, 0, 0, // heap header, root hid 0x20
        0xB5, 2, 6, 0, 0, 0, 0, 0,                   // empty property tree
        1, 0, 0, 0, 12, 0, 20, 0,                    // page map: one allocation
    };
    if (permuted) {
        format::permute_encode(data, size);
    }
    const std::size_t at = pages.size();
    pages.resize(at + format::page_size, 0);
    std::copy(data, data + size, pages.data() + at);
    const std::size_t stored =
        (size + Layout::block_trailer_size + 63) / 64 * 64;
    format::block_trailer trailer;
    trailer.size = size;
    trailer.signature = format::compute_sig(ib, bid);
    trailer.crc = format::crc32(0, data, size);
    trailer.bid = bid;
    Layout::write_block_trailer(pages.data() + at + stored - Layout::block_trailer_size, trailer);
    return {bid, ib, static_cast<std::uint16_t>(size), 2};
}

// Points the header at the rebuilt roots and seals it again.
template <class Layout>
void correct_header(std::uint8_t *h, const format::bt_entry &nbt_root,
                    const format::bt_entry &bbt_root, std::uint64_t file_eof,
                    std::uint64_t next_bid)
{
    Layout::store_id(h + Layout::header_nbt_bid, nbt_root.bid);
    Layout::store_id(h + Layout::header_nbt_ib, nbt_root.ib);
    Layout::store_id(h + Layout::header_bbt_bid, bbt_root.bid);
    Layout::store_id(h + Layout::header_bbt_ib, bbt_root.ib);
    Layout::store_id(h + Layout::header_file_eof, file_eof);
    Layout::store_id(h + Layout::header_next_pid, next_bid);
    // The maps do not describe the rebuilt pages.
    h[Layout::header_amap_valid] = 0;
    store_le<std::uint32_t>(h + Layout::header_crc_partial,
                            format::crc32(0, h + Layout::header_crc_start,
                                          Layout::header_crc_partial_size));
    if constexpr (Layout::is_unicode) {
        store_le<std::uint32_t>(h + Layout::header_crc_full,
                                format::crc32(0, h + Layout::header_crc_start,
                                              Layout::header_crc_full_size));
    }
}

template <class Layout>
int rebuild(const source_file &source, std::vector<std::uint8_t> header,
            const std::function<bool(int)> &go_on, rebuilt_index *index, damage_report *report)
{
    const std::uint64_t size = source.size();
    report->unicode = Layout::is_unicode;
    report->file_size = size;
    report->header_file_eof = Layout::load_id(header.data() + Layout::header_file_eof);
    const bool amap_valid = header[Layout::header_amap_valid] != 0;
    scan_result &scan = report->scan;
    const int scanned = scan_pages_and_blocks<Layout>(
        [&](std::uint64_t at, std::uint8_t *buffer, std::size_t n) { return source.read(at, buffer, n); },
        size, amap_valid, header[Layout::header_crypt_method] == 1,
        [&](std::uint64_t done) {
            return !go_on || go_on(static_cast<int>(size == 0 ? 100 : done * 100 / size));
        },
        &scan);
    if (scanned != 1) {
        return scanned == 0 ? 0 : -1;
    }
    std::vector<format::nbt_entry> nodes = choose_entries(
        scan.nbt_leaves, scan.nbt_entries,
        [](const format::nbt_entry &e) { return e.nid & 0xFFFFFFFFu; });
    std::vector<format::bbt_entry> blocks = merge_blocks(
        choose_entries(scan.bbt_leaves, scan.bbt_entries,
                       [](const format::bbt_entry &e) { return e.bid & ~bid_reserved; }),
        scan.blocks, size, &report->blocks_from_trailers);

    const bool permuted = header[Layout::header_crypt_method] == 1;
    const std::uint64_t stand_in_bid =
        (std::max<std::uint64_t>(scan.largest_block_bid,
                                 Layout::load_id(header.data() + Layout::header_next_bid)) +
         4) & ~std::uint64_t{3};
    const bool stand_in = add_lost_messages(scan, blocks, stand_in_bid, &nodes, &report->lost);
    if (nodes.empty()) {
        return -1;
    }

    std::set<std::uint32_t> folders;
    for (const format::nbt_entry &node : nodes) {
        const auto nid = static_cast<std::uint32_t>(node.nid);
        if ((nid & nid_type_mask) == nid_type_folder) {
            folders.insert(nid);
        }
    }
    for (const format::nbt_entry &node : nodes) {
        const auto nid = static_cast<std::uint32_t>(node.nid);
        if ((nid & nid_type_mask) == nid_type_message) {
            ++report->messages;
        }
    }
    report->folders = folders.size();
    report->nodes = nodes.size();
    report->blocks = blocks.size();

    index->unicode = Layout::is_unicode;
    index->source_size = size;
    index->pages_at = (size + format::page_size - 1) / format::page_size * format::page_size;
    index->pages.clear();
    if (stand_in) {
        blocks.push_back(
            write_empty_context<Layout>(index->pages, index->pages_at, stand_in_bid, permuted));
    }
    std::uint64_t next_bid =
        std::max<std::uint64_t>(scan.largest_page_bid, Layout::load_id(header.data() + Layout::header_next_pid)) + 4;
    const format::bt_entry nbt_root = build_tree<Layout, format::nbt_entry>(
        index->pages, index->pages_at, &next_bid, format::page_type::nbt, nodes,
        Layout::nbt_entry_size, [](const format::nbt_entry &e) { return e.nid; },
        [](std::uint8_t *p, const format::nbt_entry &e) { Layout::write_nbt_entry(p, e); });
    const format::bt_entry bbt_root = build_tree<Layout, format::bbt_entry>(
        index->pages, index->pages_at, &next_bid, format::page_type::bbt, blocks,
        Layout::bbt_entry_size, [](const format::bbt_entry &e) { return e.bid; },
        [](std::uint8_t *p, const format::bbt_entry &e) { Layout::write_bbt_entry(p, e); });

    correct_header<Layout>(header.data(), nbt_root, bbt_root, index->view_size(), next_bid);
    index->header = std::move(header);
    return 1;
}

} // namespace

int recovery_rebuild_index(const std::string &path, const std::function<bool(int)> &go_on,
                           rebuilt_index *index, damage_report *report)
{
    if (index == nullptr || report == nullptr) {
        return -1;
    }
    *report = {};
    *index = {};
    source_file source(path);
    if (!source.ok()) {
        return -1;
    }
    std::vector<std::uint8_t> header(format::unicode_layout::header_size, 0);
    if (source.read(0, header.data(), header.size()) < format::ansi_layout::header_size ||
        header[0] != '!' || header[1] != 'B' || header[2] != 'D' || header[3] != 'N' ||
        load_le<std::uint16_t>(header.data() + 8) != 0x4D53) {
        return -1;
    }
    const std::uint16_t version = load_le<std::uint16_t>(header.data() + 10);
    if (version >= 23) {
        return rebuild<format::unicode_layout>(source, std::move(header), go_on, index, report);
    }
    if (version == 14 || version == 15) {
        header.resize(format::ansi_layout::header_size);
        return rebuild<format::ansi_layout>(source, std::move(header), go_on, index, report);
    }
    return -1;
}

std::vector<std::string> damage_report_lines(const damage_report &report)
{
    const scan_result &scan = report.scan;
    std::vector<std::string> lines;
    lines.push_back("The mailbox's index could not be read; it was rebuilt from the pages and "
                    "blocks that pass their checks.");
    if (report.header_file_eof > report.file_size) {
        lines.push_back("The file is cut short: " + std::to_string(report.file_size) + " of " +
                        std::to_string(report.header_file_eof) + " bytes remain.");
    }
    lines.push_back("Folders found: " + std::to_string(report.folders));
    lines.push_back("Items found: " + std::to_string(report.messages));
    lines.push_back("Items rebuilt from their blocks (their index entries were lost): " +
                    std::to_string(report.lost.size()));
    if (!report.lost.empty()) {
        const auto whole = std::count_if(report.lost.begin(), report.lost.end(),
                                         [](const lost_node &lost) { return lost.whole; });
        lines.push_back("Of these, with their recipients, attachments and long values: " +
                        std::to_string(whole));
    }
    lines.push_back("Bytes failing their checks: " + std::to_string(scan.failed_bytes) + " in " +
                    std::to_string(scan.failed.size()) + " ranges");
    return lines;
}

} // namespace korvel::recovery
