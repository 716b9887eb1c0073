// Listing a big folder: the engine's fill (records and rows through views that
// only count) against a bare libpff loop that reads the same properties.
//
//   bench_list MAILBOX.pst TREE/PATH [ROUNDS]
//
// Prints both times, their ratio (target: at most 1.25) and the record memory
// per listed item.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <string>
#include <vector>

#include <libpff.h>

#include "bench/bare_libpff.h"
#include "scan/scan_state.h"
#include "scan/text.h"

namespace {

using namespace korvel;

// Views that keep nothing but the tree needed to find the folder.
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

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The bare loop, timed.
double bare_loop(libpff_item_t *folder, std::size_t &messages)
{
    const auto start = std::chrono::steady_clock::now();
    korvel::bench::bare_list(folder, messages);
    return seconds_since(start);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_list MAILBOX.pst TREE/PATH [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    counting_views views;
    scan_state state;
    state.views = &views;
    state.mailbox_path = u16(argv[1]);
    views.root = 1;
    views.items.emplace_back(0, state.mailbox_path);
    if (scan_driver_run(&state) != 1) {
        return 1;
    }
    const tree_item item = views.find(u16(argv[2]));
    const folder_node *node = state.folders.head;
    while (node != nullptr && node->item != item) {
        node = node->next;
    }
    if (node == nullptr) {
        std::fprintf(stderr, "no folder %s\n", argv[2]);
        return 1;
    }

    double best_bare = 1e30;
    double best_fill = 1e30;
    std::size_t messages = 0;
    std::size_t record_bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        messages = 0;
        const double bare = bare_loop(node->folder_item, messages);
        best_bare = bare < best_bare ? bare : best_bare;

        item_record_list_free(&state.records);
        const std::size_t before = mallinfo2().uordblks;
        const auto start = std::chrono::steady_clock::now();
        folder_fill(&state, item);
        const double fill = seconds_since(start);
        best_fill = fill < best_fill ? fill : best_fill;
        record_bytes = mallinfo2().uordblks - before;
    }
    std::printf("messages %zu rows %zu\n", messages, views.rows);
    std::printf("bare libpff loop %.3f s, engine fill %.3f s, ratio %.3f (target <= 1.25)\n",
                best_bare, best_fill, best_fill / best_bare);
    if (views.rows > 0) {
        std::printf("record memory %.0f bytes per item\n",
                    static_cast<double>(record_bytes) / static_cast<double>(views.rows));
    }
    return 0;
}
