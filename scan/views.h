// The window operations the scan engine needs: tree, list, progress, command
// states and the scan's message boxes. The main dialog implements this; the
// engine tests and korvel-probe use a recording implementation, so the engine
// runs without a window. Every call is synchronous for the caller: when it
// returns, the operation is done (or queued in order, which is the same to the
// engine).
#pragma once

#include <cstdint>
#include <string>

namespace korvel {

// A tree item handle. 0 stands for "none" and, as a parent, for the top level.
using tree_item = std::uintptr_t;

// Commands whose enable state the scan driver changes.
enum class view_command
{
    scan,    // Scan button (1006)
    save,    // Save button (1007)
    browse,  // Browse button (1002)
    convert, // File > Convert (32773)
};

enum class message_icon
{
    information,
    error,
};

class scan_views
{
public:
    virtual ~scan_views() = default;

    // Folder tree.
    // The root item that Browse inserted for the chosen file (0 when none).
    virtual tree_item tree_root_item() = 0;
    // Appends an item as the last child of parent (0: top level); the view
    // picks the image from the text and expands the parent. Returns 0 on failure.
    virtual tree_item tree_insert_item(tree_item parent, const std::u16string &text) = 0;
    // The same for the "Recovered Items" node and its children, which show
    // the recovered-items image instead of a folder's.
    virtual tree_item tree_insert_recovered_item(tree_item parent, const std::u16string &text)
    {
        return tree_insert_item(parent, text);
    }
    // Changes an item's text (a count that became known).
    virtual void tree_set_text(tree_item item, const std::u16string &text)
    {
        (void)item;
        (void)text;
    }
    virtual void tree_set_bold(tree_item item) = 0;
    virtual void tree_set_enabled(bool enabled) = 0;

    // Item list.
    virtual void list_delete_all_rows() = 0;
    // Inserts a text-only row at index 0; returns its index (-1 on failure).
    virtual int list_insert_row(const std::u16string &column0) = 0;
    // text == nullptr leaves the cell blank.
    virtual void list_set_cell(int row, int column, const std::u16string *text) = 0;
    // Sets a column header; the view ignores a column it cannot report.
    virtual void list_rename_column(int column, const std::u16string &title) = 0;

    // Progress bar, 0 to 100.
    virtual void progress_set(int position) = 0;

    // Buttons and menu items.
    virtual void command_set_enabled(view_command command, bool enabled) = 0;

    // An application-modal box without owner window, OK button.
    virtual void message_box(message_icon icon, const std::u16string &caption,
                             const std::u16string &text) = 0;

    // The wait dialog shown while the mailbox file opens.
    virtual void wait_dialog_show() = 0;
    virtual void wait_dialog_close() = 0;

    // Runs the Browse command (the scan does so after a failure, so that the
    // file chooser opens at once).
    virtual void run_browse() = 0;

    // Memory ran out while storing a folder node or an item record: the box
    // has been asked for; the view shows it and ends the process.
    virtual void memory_exhausted(const std::u16string &caption, const std::u16string &text) = 0;
};

} // namespace korvel
