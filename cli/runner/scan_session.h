// A scan as the window runs it, with recording views: Browse's root item,
// the scan driver, then folder fills by tree path.
#pragma once

#include <memory>
#include <string>

#include "scan/scan_state.h"
#include "cli/runner/recording_views.h"

namespace korvel::runner {

struct scan_session
{
    recording_views views;
    scan_state state;

    scan_session() { state.views = &views; }

    // Inserts the root item (the path) as Browse does and runs the scan
    // driver. Returns the driver's result.
    int scan(const std::string &utf8_path);

    // Fills the list from the folder at a tree path below the root item
    // ("Top of Personal Folders/Inbox"). Returns false when no such item.
    bool fill(const std::string &utf8_tree_path);
};

} // namespace korvel::runner
