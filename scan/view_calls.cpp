#include "scan/view_calls.h"

namespace korvel {

tree_item view_call_views::tree_root_item()
{
    return apply({.what = view_call::kind::tree_root});
}

tree_item view_call_views::tree_insert_item(tree_item parent, const std::u16string &text)
{
    return apply({.what = view_call::kind::tree_insert, .parent = parent, .text = &text});
}

tree_item view_call_views::tree_insert_recovered_item(tree_item parent, const std::u16string &text)
{
    return apply(
        {.what = view_call::kind::tree_insert, .parent = parent, .flag = true, .text = &text});
}

void view_call_views::tree_set_text(tree_item item, const std::u16string &text)
{
    apply({.what = view_call::kind::tree_text, .item = item, .text = &text});
}

void view_call_views::tree_set_bold(tree_item item)
{
    apply({.what = view_call::kind::tree_bold, .item = item});
}

void view_call_views::tree_set_enabled(bool enabled)
{
    apply({.what = view_call::kind::tree_enable, .flag = enabled});
}

void view_call_views::list_delete_all_rows()
{
    apply({.what = view_call::kind::list_clear});
}

int view_call_views::list_insert_row(const std::u16string &column0)
{
    apply({.what = view_call::kind::list_row, .text = &column0});
    return 0;
}

void view_call_views::list_set_cell(int row, int column, const std::u16string *text)
{
    apply({.what = view_call::kind::list_cell, .row = row, .column = column, .text = text});
}

void view_call_views::list_rename_column(int column, const std::u16string &title)
{
    apply({.what = view_call::kind::list_rename, .column = column, .text = &title});
}

void view_call_views::progress_set(int position)
{
    apply({.what = view_call::kind::progress, .position = position});
}

void view_call_views::command_set_enabled(view_command command, bool enabled)
{
    apply({.what = view_call::kind::command_enable, .flag = enabled, .command = command});
}

void view_call_views::message_box(message_icon icon, const std::u16string &caption,
                                  const std::u16string &text)
{
    apply({.what = view_call::kind::message, .icon = icon, .caption = &caption, .text = &text});
}

void view_call_views::wait_dialog_show()
{
    apply({.what = view_call::kind::wait_show});
}

void view_call_views::wait_dialog_close()
{
    apply({.what = view_call::kind::wait_close});
}

void view_call_views::run_browse()
{
    apply({.what = view_call::kind::browse});
}

void view_call_views::memory_exhausted(const std::u16string &caption, const std::u16string &text)
{
    apply({.what = view_call::kind::memory_exhausted, .caption = &caption, .text = &text});
}

} // namespace korvel
