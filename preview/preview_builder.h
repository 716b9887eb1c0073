// The preview of one listed item: re-reads it from the mailbox, writes the
// header page, the body file and the frameset page into the working directory
// and says where the pane goes. Plain C++; the window calls it on its own
// thread and hands the outcome to the browser host.
#pragma once

#include <map>
#include <string>

namespace korvel {

struct scan_state;

struct preview_outcome
{
    // True when the pane is to be navigated to path.
    bool navigate = false;
    // The frameset page or the body file (full path).
    std::u16string path;
    // Inline images of the previewed item: content id (without "cid:" and
    // without angle brackets) to the full path of the attachment file written
    // for it in the working directory.
    std::map<std::string, std::string> content_ids;
};

// Builds the preview for the row whose first column reads sequence_text and
// whose second column reads kind_text. Takes state->mailbox_mutex for the
// record walk and the re-export; the window calls it only while no worker
// holds the mailbox. Without a private temporary directory nothing is
// written and the pane stays. Returns 1 (the outcome says whether to
// navigate).
int preview_selected_item(scan_state *state, const std::u16string &sequence_text,
                          const std::u16string &kind_text, preview_outcome &outcome);

} // namespace korvel
