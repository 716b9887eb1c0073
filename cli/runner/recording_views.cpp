#include "cli/runner/recording_views.h"

#include "scan/folder_images.h"
#include "scan/names.h"
#include "scan/text.h"

namespace korvel::runner {

recording_views::recording_views()
{
    for (int i = 0; i < list_column_count; ++i) {
        column_titles[i] = list_column_titles[static_cast<std::size_t>(i)];
    }
}

tree_item recording_views::insert_root(const std::u16string &text)
{
    m_root = tree_insert_item(0, text);
    return m_root;
}

tree_item recording_views::apply(const view_call &call)
{
    switch (call.what) {
    case view_call::kind::tree_root:
        return m_root;
    case view_call::kind::tree_insert:
        return insert_item(call.parent, *call.text, call.flag);
    case view_call::kind::tree_text:
        if (recorded_tree_item *item = edit_item(call.item)) {
            item->text = *call.text;
        }
        break;
    case view_call::kind::tree_bold:
        if (recorded_tree_item *item = edit_item(call.item)) {
            item->bold = true;
        }
        break;
    case view_call::kind::tree_enable:
        tree_enabled = call.flag;
        break;
    case view_call::kind::list_clear:
        rows.clear();
        break;
    case view_call::kind::list_row: {
        recorded_row row;
        row.cells[0] = *call.text;
        rows.push_top(std::move(row));
        break;
    }
    case view_call::kind::list_cell:
        set_cell(call.row, call.column, call.text);
        break;
    case view_call::kind::list_rename:
        if (call.column >= 0 && call.column < 10) {
            column_titles[call.column] = *call.text;
        }
        break;
    case view_call::kind::progress:
        progress.push_back(call.position);
        if (on_progress) {
            on_progress(call.position);
        }
        break;
    case view_call::kind::command_enable:
        commands[call.command] = call.flag;
        break;
    case view_call::kind::message:
        if (wait_dialog_open) {
            message_during_wait = true;
        }
        messages.push_back({call.icon, *call.caption, *call.text});
        break;
    case view_call::kind::wait_show:
        wait_dialog_open = true;
        ++wait_dialog_shows;
        break;
    case view_call::kind::wait_close:
        wait_dialog_open = false;
        break;
    case view_call::kind::browse:
        ++browse_runs;
        break;
    case view_call::kind::memory_exhausted:
        ++memory_exhaustions;
        messages.push_back({message_icon::error, *call.caption, *call.text});
        break;
    }
    return 0;
}

tree_item recording_views::insert_item(tree_item parent, const std::u16string &text, bool recovered)
{
    int level = 0;
    if (parent != 0) {
        const recorded_tree_item *p = find_item(parent);
        if (p == nullptr) {
            return 0;
        }
        level = p->level + 1;
    }
    const int image = recovered ? recovered_tree_image : folder_image_for_name(text, parent == 0);
    tree_item handle = m_next_handle++;
    tree.push_back({handle, parent, level, image, false, text});
    return handle;
}

recorded_tree_item *recording_views::edit_item(tree_item handle)
{
    return const_cast<recorded_tree_item *>(find_item(handle));
}

void recording_views::set_cell(int row, int column, const std::u16string *text)
{
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size() || column < 0 || column > 9) {
        return;
    }
    if (text == nullptr) {
        rows[static_cast<std::size_t>(row)].cells[column].reset();
    } else {
        rows[static_cast<std::size_t>(row)].cells[column] = *text;
    }
}

const recorded_tree_item *recording_views::find_item(tree_item handle) const
{
    for (const auto &entry : tree) {
        if (entry.handle == handle) {
            return &entry;
        }
    }
    return nullptr;
}

tree_item recording_views::find_path(const std::u16string &path) const
{
    tree_item parent = m_root;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(u'/', start);
        if (end == std::u16string::npos) {
            end = path.size();
        }
        std::u16string name = path.substr(start, end - start);
        tree_item found = 0;
        for (const auto &entry : tree) {
            if (entry.parent == parent && entry.text == name) {
                found = entry.handle;
                break;
            }
        }
        if (found == 0) {
            return 0;
        }
        parent = found;
        start = end + 1;
    }
    return parent;
}

std::string narrow(const std::u16string &text)
{
    return utf16_to_utf8(text);
}

} // namespace korvel::runner
