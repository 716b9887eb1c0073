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

tree_item recording_views::tree_root_item()
{
    return m_root;
}

tree_item recording_views::tree_insert_item(tree_item parent, const std::u16string &text)
{
    int level = 0;
    if (parent != 0) {
        const recorded_tree_item *p = find_item(parent);
        if (p == nullptr) {
            return 0;
        }
        level = p->level + 1;
    }
    tree_item handle = m_next_handle++;
    tree.push_back({handle, parent, level, folder_image_for_name(text, parent == 0), false, text});
    return handle;
}

tree_item recording_views::tree_insert_recovered_item(tree_item parent, const std::u16string &text)
{
    const tree_item handle = tree_insert_item(parent, text);
    if (handle != 0) {
        tree.back().image = recovered_tree_image;
    }
    return handle;
}

void recording_views::tree_set_text(tree_item item, const std::u16string &text)
{
    for (auto &entry : tree) {
        if (entry.handle == item) {
            entry.text = text;
        }
    }
}

void recording_views::tree_set_bold(tree_item item)
{
    for (auto &entry : tree) {
        if (entry.handle == item) {
            entry.bold = true;
        }
    }
}

void recording_views::tree_set_enabled(bool enabled)
{
    tree_enabled = enabled;
}

void recording_views::list_delete_all_rows()
{
    rows.clear();
}

int recording_views::list_insert_row(const std::u16string &column0)
{
    recorded_row row;
    row.cells[0] = column0;
    rows.push_top(std::move(row));
    return 0;
}

void recording_views::list_set_cell(int row, int column, const std::u16string *text)
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

void recording_views::list_rename_column(int column, const std::u16string &title)
{
    if (column >= 0 && column < 10) {
        column_titles[column] = title;
    }
}

void recording_views::progress_set(int position)
{
    progress.push_back(position);
    if (on_progress) {
        on_progress(position);
    }
}

void recording_views::command_set_enabled(view_command command, bool enabled)
{
    commands[command] = enabled;
}

void recording_views::message_box(message_icon icon, const std::u16string &caption,
                                  const std::u16string &text)
{
    if (wait_dialog_open) {
        message_during_wait = true;
    }
    messages.push_back({icon, caption, text});
}

void recording_views::wait_dialog_show()
{
    wait_dialog_open = true;
    ++wait_dialog_shows;
}

void recording_views::wait_dialog_close()
{
    wait_dialog_open = false;
}

void recording_views::run_browse()
{
    ++browse_runs;
}

void recording_views::memory_exhausted(const std::u16string &caption, const std::u16string &text)
{
    ++memory_exhaustions;
    messages.push_back({message_icon::error, caption, text});
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
