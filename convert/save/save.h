// The save: writes the scanned mailbox (or its checked folders) into a new
// output through a sink (convert/save/mailbox_sink.h). Runs on a worker; the window
// and korvel-probe drive it the same way.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include <libpff.h>

#include "convert/save/mailbox_sink.h"

namespace korvel {
struct scan_state;
}

namespace korvel::convert {

struct save_request
{
    // The final path (UTF-8): a file for PST, a directory for the others.
    std::string target;
    output_format format = output_format::pst;
    // Adds "Recovered Items": the scan's list of what lies outside the
    // folders (scan/recovered_items.h).
    bool recovered_items = true;
    // Saves "Recovered Items" alone: no folder, not even the root's items.
    bool recovered_only = false;
    // Called from the worker before libpff's search of the free space starts
    // (when the scan has not run it): a step that can take minutes on a big
    // damaged file, shown to the user.
    std::function<void()> searching_free_space;
    // The checked folders (not owned; the folder list's items). Each is saved
    // with all its sub-folders, under its ancestors' names; a folder inside
    // another listed one is saved once. Empty: the whole mailbox.
    std::vector<libpff_item_t *> folders;
    // The user agreed to replace an existing target.
    bool replace_existing = false;
    // Threads the save may use: 0 for the number of cores (at most 4), or 1
    // for a mailbox under 64 MiB; 1 for the walk alone, as the save always ran.
    unsigned threads = 0;
};

// What save_request::threads = 0 stands for on this machine, for a mailbox
// of 64 MiB or more.
unsigned default_save_threads();

struct save_report
{
    std::size_t folders = 0;
    std::size_t items = 0;
    std::size_t recovered = 0;
    // Items left out on purpose by the format (a contact in an mbox, say).
    std::size_t skipped = 0;
    // One line per item, recipient, attachment or folder that could not be
    // read or written: its folder path and position, and why.
    std::vector<std::string> unreadable;
    // What the save had to do around damage (a folder listed from the node
    // index, say): lines for the user, not failures.
    std::vector<std::string> notes;
    // Set when a Stop ended the save (nothing is left behind).
    bool stopped = false;
    // Set when the output could not be written (disk full, no permission):
    // the cause, for the user. Nothing is left behind.
    std::string failure;
};

// Why a target cannot be used as it is.
enum class target_check
{
    ok,
    is_source,     // the source mailbox itself (also through a link)
    exists,        // something is there: replace only after the user agrees
    no_directory,  // the directory it would go into does not exist
};
target_check check_save_target(const std::string &source, const std::string &target);

// The default target beside the source: "name-repaired.pst" for PST, a
// directory "name-repaired" (with the format's suffix) for the others.
std::string default_save_target(const std::string &source, output_format format);

// Saves under state->mailbox_mutex, passing state->gate and honouring
// state->stop_requested at every item. progress(percent) is called from the
// worker now and then (0 to 100). Writes under a temporary name beside the
// target and renames it into place when complete.
// Returns 1 saved, 0 stopped, -1 failed (report.failure says why).
int save_mailbox(scan_state *state, const save_request &request,
                 const std::function<void(int)> &progress, save_report &report);

} // namespace korvel::convert
