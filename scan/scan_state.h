// The scan session: the open mailbox, the handles, the folder list and the
// item record list, and the views they are shown in. The program keeps one
// for its whole run; tests make their own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <libbfio.h>
#include <libpff.h>

#include "scan/export_handle.h"
#include "scan/item_record.h"
#include "scan/log_handle.h"
#include "scan/recovered_items.h"
#include "scan/views.h"

namespace korvel {

// The deepest folder level that gets a tree item.
inline constexpr int maximum_tree_level = 27;

// One folder shown in the tree.
struct folder_node
{
    // The sanitised name, also the tree item's text.
    std::u16string name;
    // The parent's target path without the export root ("" directly below the
    // root folder, "/Parent" one level deeper, ...).
    std::u16string parent_path;
    // The item the folder's tree item was inserted under.
    tree_item parent_tree_item;
    // The folder's own tree item: the key when the folder is clicked.
    tree_item item;
    // The folder itself (owned), kept for listing its messages later.
    libpff_item_t *folder_item;
    folder_node *next;
};

// Folders in the order the walk met them.
struct folder_list
{
    folder_node *head;
    // Appends link here, so a scan of any size stays linear.
    folder_node *tail;
    std::size_t count;
};

// Appends a node that takes ownership of folder_item.
// Returns 1, or -1 when memory ran out (folder_item is then not taken).
int folder_list_append(folder_list *list, const std::u16string &name,
                       const std::u16string &parent_path, tree_item parent_tree_item,
                       tree_item item, libpff_item_t *folder_item);

// Releases every node and its folder item.
void folder_list_free(folder_list *list);

// Tells whether some node has item as its tree item or its parent tree item.
bool folder_list_knows(const folder_list *list, tree_item item);

// Holds the walk still while the stop question is open. The walk passes it
// at its abort check, where it holds nothing the window needs.
class walk_gate
{
public:
    void hold();
    void release();
    // Blocks while the gate is held.
    void pass();

private:
    std::mutex m_mutex;
    std::condition_variable m_released;
    bool m_held = false;
};

struct scan_state
{
    // Where the scan and the fills show what they find. Not owned.
    scan_views *views = nullptr;

    // The open mailbox, or nullptr; also a file object left by a failed open.
    libpff_file_t *file = nullptr;
    export_handle_t *export_handle = nullptr;
    log_handle_t *log_handle = nullptr;
    // The handle libpff reads a rebuilt index through (the file was opened
    // from scan/recovery's view), or nullptr; freed after file is closed.
    libbfio_handle_t *rebuilt_io = nullptr;
    // The handle libpff reads the mailbox through when it opens from its own
    // index (scan/source_file), or nullptr; freed after file is closed.
    libbfio_handle_t *source_io = nullptr;
    // What the index rebuild found, for the user and the save report; empty
    // when the file's own index was read.
    std::vector<std::string> rebuild_report;
    // The node identifiers of the messages the rebuild made nodes for (their
    // own were lost), sorted: libpff lists them among the items no folder
    // leads to, and the "Recovered Items" node shows them under their own name.
    std::vector<std::uint32_t> rebuilt_items;

    // Set when the header check has told the user why the file was refused.
    bool header_check_flag = false;

    // The path chosen with Browse (UTF-16; opened as UTF-8).
    std::u16string mailbox_path;

    // The folder store.
    folder_list folders{};
    // Entry n: the tree item inserted last at level n (1 to 27).
    tree_item level_parents[maximum_tree_level + 1]{};
    // The tree item of the last folder click.
    tree_item selected_folder_item = 0;

    // A copy of the root folder, kept while the stores live: the records of
    // items lying directly in it name it as their parent.
    libpff_item_t *root_folder = nullptr;

    // What was found outside the folders (its items belong to the file).
    recovered_items recovered;

    // The item store.
    item_record_list records{};
    std::int32_t record_sequence = 0;
    // The kind name of the item being dispatched.
    std::u16string kind_name;
    // The folder whose messages are being listed (not owned).
    libpff_item_t *current_parent_item = nullptr;

    // Serialises every use of the open mailbox and of the item record list:
    // the scan, a fill and the preview never read them at once.
    std::recursive_mutex mailbox_mutex;

    // Holds the scan still while Stop asks its question.
    walk_gate gate;
    // Set by a confirmed Stop: the walk ends at its next check and the scan
    // ends silently. The window clears it before it starts the next scan.
    std::atomic<bool> stop_requested{false};
    // Guards the file object's life against scan_state_request_stop, which
    // runs on the window's thread while the scan or save holds the mailbox.
    std::mutex file_mutex;

    scan_state() = default;
    scan_state(const scan_state &) = delete;
    scan_state &operator=(const scan_state &) = delete;
    ~scan_state();
};

// Closes and frees the mailbox and the handles (the folder list must be
// emptied first, its folder items belong to that file).
void scan_state_release_mailbox(scan_state *state);

// Empties both stores.
void scan_state_clear_stores(scan_state *state);

// Stop, from any thread: sets stop_requested, and asks libpff to end the open
// or the recovery it is in (the walk sees stop_requested at its next item).
void scan_state_request_stop(scan_state *state);

// The scan driver: opens state->mailbox_path, walks it into the views and
// reports the outcome. Returns 1 when the walk completed, 0 otherwise.
int scan_driver_run(scan_state *state);

// The file-header check done before libpff opens the file.
enum class header_check
{
    pst,          // "!BDN" and the PST client bytes
    not_pst,      // "!BDN" with other client bytes (an offline store, say)
    no_signature, // no "!BDN" at offset 0
    unreadable,   // missing or unreadable file
};
header_check check_file_header(const std::string &utf8_path);

// The folder-fill procedure: empties the list and the records, then lists the
// folder whose tree item is item.
void folder_fill(scan_state *state, tree_item item);

// Product texts the engine shows.
inline constexpr char16_t message_caption[] = u"Korvel PST Repair";
inline constexpr char16_t memory_caption[] = u"Korvel PST File Repair";

} // namespace korvel
