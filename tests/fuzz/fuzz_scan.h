// What the mailbox fuzz targets share: any bytes written as a mailbox file,
// scanned as the window scans, and a bounded number of its folders filled one
// after the other, each handed to the target's own check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "scan/files.h"
#include "scan/item_export.h"
#include "scan/scan_state.h"
#include "scan/text.h"

namespace korvel::fuzzing {

// Views that keep the two cells a row's preview is asked by: its sequence
// number and its kind.
class row_views : public scan_views
{
public:
    std::vector<std::pair<std::u16string, std::u16string>> rows;

    tree_item tree_root_item() override { return 1; }
    tree_item tree_insert_item(tree_item, const std::u16string &) override { return ++m_next; }
    void tree_set_bold(tree_item) override {}
    void tree_set_enabled(bool) override {}
    void list_delete_all_rows() override { rows.clear(); }
    int list_insert_row(const std::u16string &column0) override
    {
        rows.emplace_back(column0, std::u16string());
        return static_cast<int>(rows.size()) - 1;
    }
    void list_set_cell(int row, int column, const std::u16string *text) override
    {
        const auto at = static_cast<std::size_t>(row);
        if (column == 1 && text != nullptr && row >= 0 && at < rows.size()) {
            rows[at].second = *text;
        }
    }
    void list_rename_column(int, const std::u16string &) override {}
    void progress_set(int) override {}
    void command_set_enabled(view_command, bool) override {}
    void message_box(message_icon, const std::u16string &, const std::u16string &) override {}
    void wait_dialog_show() override {}
    void wait_dialog_close() override {}
    void run_browse() override {}
    void memory_exhausted(const std::u16string &, const std::u16string &) override { std::abort(); }

private:
    tree_item m_next = 1;
};

// Bounds the work per input: a damaged file may claim any number of folders.
inline constexpr std::size_t folders_filled = 16;

// A private directory for this process's inputs and working files, made once.
inline const std::string &scratch()
{
    static const std::string directory = [] {
        char pattern[] = "/tmp/korvel-fuzz-XXXXXX";
        const char *made = ::mkdtemp(pattern);
        return std::string(made != nullptr ? made : "/tmp");
    }();
    return directory;
}

// Writes data as the mailbox, scans it and fills its first folders, calling
// after_fill(state, views) after each fill; the working directory is the
// scratch directory's. Leaves no message values behind.
template <typename AfterFill>
void scan_and_fill(const std::uint8_t *data, std::size_t size, AfterFill after_fill)
{
    const std::string path = scratch() + "/input.pst";
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    message_values &values = export_message_values();
    values.temporary_directory = scratch() + "/";
    {
        row_views views;
        scan_state state;
        state.views = &views;
        state.mailbox_path = u16(path);
        if (scan_driver_run(&state) == 1) {
            std::vector<tree_item> items;
            for (const folder_node *node = state.folders.head;
                 node != nullptr && items.size() < folders_filled; node = node->next) {
                items.push_back(node->item);
            }
            for (tree_item item : items) {
                folder_fill(&state, item);
                after_fill(state, views);
            }
        }
    }
    remove_directory(scratch() + "/Attachments");
    message_values_clear(&values);
}

} // namespace korvel::fuzzing
