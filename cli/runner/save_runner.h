// Save without a window: the checked folders named by their tree paths, then
// the save walk. korvel-probe and korvel-pst both run Save this way.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <libpff.h>

#include "cli/runner/scan_session.h"
#include "convert/save/save.h"

namespace korvel::runner {

// The folder whose tree item has the path below the root item
// ("Top of Personal Folders/Inbox"), or nullptr. Borrowed from the session.
libpff_item_t *folder_at(const scan_session &session, const std::string &utf8_tree_path);

// Fills request.folders from the tree paths. Returns false, with the first
// unknown path in unknown, when a path names no folder.
bool check_folders(const scan_session &session, const std::vector<std::string> &tree_paths,
                   convert::save_request &request, std::string &unknown);

} // namespace korvel::runner
