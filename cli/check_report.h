// What check finds in one mailbox. Each finding has its own section, so that
// a later pass (a deeper recovery, say) adds one more without changing the
// others or their JSON.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cli/runner/scan_session.h"

namespace korvel::cli {

struct folder_count
{
    std::string path; // the tree path below the file ("Top of Personal Folders/Inbox")
    int level = 1;    // 1 for a folder directly below the file
    std::size_t items = 0;
};

// A folder or item that could not be read.
struct unreadable_entry
{
    std::string folder;   // the tree path of the folder it lies in (or is)
    std::string what;     // "item", "folder" (a sub-folder), "items", "sub-folders"
    std::size_t position; // 1-based among the folder's items or sub-folders; 0 for all
    std::string text() const;
};

struct check_report
{
    std::string file;
    // exit_done (intact), exit_unreadable_items (damaged but read),
    // exit_unreadable_file (cause in error) or exit_stopped.
    int status = 0;
    std::string error;
    std::vector<folder_count> folders;
    std::vector<unreadable_entry> unreadable;
    // The damage report when the index had to be rebuilt (empty when the
    // file's own index was read).
    std::vector<std::string> damage;
    std::size_t items() const;
};

// Counts every scanned folder's items and notes what cannot be read.
// Returns false when a Ctrl-C ended the count.
bool count_folders(runner::scan_session &session, bool quiet, check_report &report);

} // namespace korvel::cli
