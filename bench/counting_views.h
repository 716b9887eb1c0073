// Views for the benchmarks: they keep the tree (to find a folder by its path)
// and count the rows, so what is measured is the engine, not a window.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "scan/text.h"
#include "scan/views.h"

namespace korvel::bench {

class counting_views : public scan_views
{
public:
    tree_item root = 0;
    std::vector<std::pair<tree_item, std::u16string>> items; // parent, text
    std::size_t rows = 0;

    tree_item tree_root_item() override { return root; }
    tree_item tree_insert_item(tree_item parent, const std::u16string &text) override
    {
        items.emplace_back(parent, text);
        return items.size();
    }
    void tree_set_bold(tree_item) override {}
    void tree_set_enabled(bool) override {}
    void list_delete_all_rows() override { rows = 0; }
    int list_insert_row(const std::u16string &) override
    {
        ++rows;
        return 0;
    }
    void list_set_cell(int, int, const std::u16string *) override {}
    void list_rename_column(int, const std::u16string &) override {}
    void progress_set(int) override {}
    void command_set_enabled(view_command, bool) override {}
    void message_box(message_icon, const std::u16string &, const std::u16string &text) override
    {
        std::fprintf(stderr, "message: %s\n", utf16_to_utf8(text).c_str());
    }
    void wait_dialog_show() override {}
    void wait_dialog_close() override {}
    void run_browse() override {}
    void memory_exhausted(const std::u16string &, const std::u16string &) override { std::abort(); }

    tree_item find(const std::u16string &path) const
    {
        tree_item parent = root;
        std::size_t start = 0;
        while (start <= path.size()) {
            std::size_t end = path.find(u'/', start);
            if (end == std::u16string::npos) {
                end = path.size();
            }
            const std::u16string name = path.substr(start, end - start);
            tree_item found = 0;
            for (std::size_t i = 0; i < items.size(); ++i) {
                if (items[i].first == parent && items[i].second == name) {
                    found = i + 1;
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
};

} // namespace korvel::bench
