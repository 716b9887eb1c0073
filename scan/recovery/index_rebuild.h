// The node and block indexes of a mailbox rebuilt from the pages and blocks a
// sequential pass finds, as new B-tree pages and a corrected header that a
// read-only view lays over the source (see rebuilt_view.h). The source is
// only read; memory holds the rebuilt index and the pass's findings.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "scan/recovery/page_scan.h"

namespace korvel::recovery {

struct rebuilt_index
{
    bool unicode = true;
    // The source file's size: its bytes after the header are the view's.
    std::uint64_t source_size = 0;
    // Where the rebuilt pages start in the view (past the source's end).
    std::uint64_t pages_at = 0;
    // The corrected header, laid over the source's first bytes.
    std::vector<std::uint8_t> header;
    std::vector<std::uint8_t> pages;

    std::uint64_t view_size() const { return pages_at + pages.size(); }
};

// A message whose node entry was lost, given a node of its own around the
// property context found in its block.
struct lost_node
{
    std::uint32_t nid = 0;
    std::uint32_t parent = 0;
    // Its property context's block, and its sub-node tree (recipients,
    // attachments, long values) when one could be told to be its own.
    std::uint64_t data_bid = 0;
    std::uint64_t sub_bid = 0;
    bool whole = false;
};

// What the rebuild found, for the user and `korvel-probe check`.
struct damage_report
{
    bool unicode = true;
    std::uint64_t file_size = 0;
    // The header's end of file lies past the file's end: the file is cut.
    std::uint64_t header_file_eof = 0;
    scan_result scan;
    std::size_t nodes = 0;
    std::size_t blocks = 0;
    // Block entries that came from block trailers alone.
    std::size_t blocks_from_trailers = 0;
    std::size_t folders = 0;
    std::size_t messages = 0;
    // Messages whose node entries were lost, rebuilt from their blocks.
    std::vector<lost_node> lost;
};

// Rebuilds the indexes of the mailbox at path. go_on(percent) is asked during
// the pass; false stops it. Returns 1 when an index was built, 0 when stopped,
// -1 when the file is no mailbox of either layout (an offline store included)
// or holds no index page at all.
int recovery_rebuild_index(const std::string &path, const std::function<bool(int)> &go_on,
                           rebuilt_index *index, damage_report *report);

// The damage report as lines for the user ("Folders found: 12", ...).
std::vector<std::string> damage_report_lines(const damage_report &report);

} // namespace korvel::recovery
