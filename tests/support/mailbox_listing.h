// Everything a scan shows of a mailbox, folder by folder, in a form two
// scans can be compared by: what the damaged-file tests check a recovery by.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "tests/support/scan_session.h"

namespace korvel::testing {

struct mailbox_listing
{
    // Tree lines ("level name"), root item left out.
    std::vector<std::string> tree;
    // Per folder path, its records as sorted "kind|from|subject|date" lines.
    std::map<std::string, std::vector<std::string>> folders;
    // The node identifier of the message each record fetches again.
    std::multiset<std::uint32_t> fetched;
    // Identifiers of the records whose preview export succeeded.
    std::set<std::uint32_t> previewed;
    std::size_t records = 0;
};

// Fills every folder of a finished scan; previews each record when asked.
mailbox_listing list_mailbox(scan_session &session, bool preview = false);

} // namespace korvel::testing
