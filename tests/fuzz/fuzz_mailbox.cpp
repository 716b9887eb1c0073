// Any bytes as a mailbox file: the scan, a fill of every folder and the
// preview-time export of every listed item must end cleanly. libpff reads the
// format; this target watches our engine over whatever libpff makes of it.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "scan/files.h"
#include "scan/item_export.h"
#include "scan/item_kinds.h"
#include "scan/scan_state.h"
#include "scan/text.h"

namespace {

using namespace korvel;

// Views that keep nothing but handles.
class quiet_views : public scan_views
{
public:
    tree_item tree_root_item() override { return 1; }
    tree_item tree_insert_item(tree_item, const std::u16string &) override { return ++m_next; }
    void tree_set_bold(tree_item) override {}
    void tree_set_enabled(bool) override {}
    void list_delete_all_rows() override {}
    int list_insert_row(const std::u16string &) override { return 0; }
    void list_set_cell(int, int, const std::u16string *) override {}
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

// Bounds the work per input: a damaged file may claim any number of items.
constexpr int folders_filled = 16;
constexpr int items_exported = 16;

const std::string &scratch()
{
    static const std::string directory = [] {
        char pattern[] = "/tmp/korvel-fuzz-XXXXXX";
        const char *made = ::mkdtemp(pattern);
        return std::string(made != nullptr ? made : "/tmp");
    }();
    return directory;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string path = scratch() + "/input.pst";
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);

    message_values &values = export_message_values();
    values.temporary_directory = scratch() + "/";
    {
        quiet_views views;
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
                int exported = 0;
                for (const item_record *record = state.records.head;
                     record != nullptr && exported < items_exported;
                     record = record->next, ++exported) {
                    message_values_clear(&values);
                    message_values_reset_body(&values);
                    export_record_item(&state, record);
                }
                remove_directory(scratch() + "/Attachments");
            }
        }
    }
    message_values_clear(&values);
    return 0;
}
