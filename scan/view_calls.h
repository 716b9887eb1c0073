// scan_views for views that take every call the same way: each call reaches
// apply() as one view_call, so such a view writes one switch over what the
// engine asked for instead of restating the seventeen operations. The window
// queues the calls for its thread; the recording views keep them for tests
// and korvel-probe.
#pragma once

#include <string>

#include "scan/views.h"

namespace korvel {

struct view_call
{
    enum class kind
    {
        tree_root,        // (the answer is the root item)
        tree_insert,      // parent, text, flag (the recovered-items image); the answer is the new item
        tree_text,        // item, text
        tree_bold,        // item
        tree_enable,      // flag
        list_clear,       //
        list_row,         // text (column 0); the row goes in at the top
        list_cell,        // row, column, text (null: blank)
        list_rename,      // column, text
        progress,         // position
        command_enable,   // command, flag
        message,          // icon, caption, text
        wait_show,        //
        wait_close,       //
        browse,           //
        memory_exhausted, // caption, text
    };

    kind what;
    tree_item item = 0;
    tree_item parent = 0;
    int row = 0;
    int column = 0;
    int position = 0;
    bool flag = false;
    view_command command = view_command::scan;
    message_icon icon = message_icon::information;
    // The caller's strings, valid while apply() runs.
    const std::u16string *caption = nullptr;
    const std::u16string *text = nullptr;
};

class view_call_views : public scan_views
{
public:
    tree_item tree_root_item() override;
    tree_item tree_insert_item(tree_item parent, const std::u16string &text) override;
    tree_item tree_insert_recovered_item(tree_item parent, const std::u16string &text) override;
    void tree_set_text(tree_item item, const std::u16string &text) override;
    void tree_set_bold(tree_item item) override;
    void tree_set_enabled(bool enabled) override;
    void list_delete_all_rows() override;
    int list_insert_row(const std::u16string &column0) override;
    void list_set_cell(int row, int column, const std::u16string *text) override;
    void list_rename_column(int column, const std::u16string &title) override;
    void progress_set(int position) override;
    void command_set_enabled(view_command command, bool enabled) override;
    void message_box(message_icon icon, const std::u16string &caption,
                     const std::u16string &text) override;
    void wait_dialog_show() override;
    void wait_dialog_close() override;
    void run_browse() override;
    void memory_exhausted(const std::u16string &caption, const std::u16string &text) override;

protected:
    // Carries out one call. Returns the tree item for tree_root and
    // tree_insert (0: none, or the insert failed); 0 for the rest.
    virtual tree_item apply(const view_call &call) = 0;
};

} // namespace korvel
