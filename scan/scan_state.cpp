#include "scan/scan_state.h"

#include <new>

#include "scan/pff_values.h"
#include "scan/tail_list.h"

namespace korvel {

int folder_list_append(folder_list *list, const std::u16string &name,
                       const std::u16string &parent_path, tree_item parent_tree_item,
                       tree_item item, libpff_item_t *folder_item)
{
    if (list == nullptr) {
        return -1;
    }
    folder_node *node = nullptr;
    try {
        node = new folder_node{name, parent_path, parent_tree_item, item, folder_item, nullptr};
    } catch (const std::bad_alloc &) {
        return -1;
    }
    tail_list_link(list, node);
    return 1;
}

void folder_list_free(folder_list *list)
{
    tail_list_free(list, [](folder_node *node) {
        if (node->folder_item != nullptr) {
            release_item(&node->folder_item);
        }
    });
}

bool folder_list_knows(const folder_list *list, tree_item item)
{
    if (list == nullptr || item == 0) {
        return false;
    }
    for (const folder_node *node = list->head; node != nullptr; node = node->next) {
        if (node->item == item || node->parent_tree_item == item) {
            return true;
        }
    }
    return false;
}

void walk_gate::hold()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_held = true;
}

void walk_gate::release()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_held = false;
    }
    m_released.notify_all();
}

void walk_gate::pass()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_released.wait(lock, [this] { return !m_held; });
}

void scan_state_clear_stores(scan_state *state)
{
    if (state == nullptr) {
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(state->mailbox_mutex);
    item_record_list_free(&state->records);
    state->record_sequence = 0;
    state->current_parent_item = nullptr;
    folder_list_free(&state->folders);
    recovered_items_clear(&state->recovered);
    if (state->root_folder != nullptr) {
        release_item(&state->root_folder);
    }
}

void scan_state_release_mailbox(scan_state *state)
{
    if (state == nullptr) {
        return;
    }
    std::lock_guard<std::recursive_mutex> lock(state->mailbox_mutex);
    // Folder items and records belong to the file: they go first.
    scan_state_clear_stores(state);
    if (state->file != nullptr) {
        std::lock_guard<std::mutex> file_lock(state->file_mutex);
        error_slot error;
        libpff_file_close(state->file, error.get());
        libpff_file_free(&state->file, error.get());
        state->file = nullptr;
    }
    if (state->rebuilt_io != nullptr) {
        libbfio_handle_free(&state->rebuilt_io, nullptr);
        state->rebuilt_io = nullptr;
    }
    if (state->source_io != nullptr) {
        libbfio_handle_free(&state->source_io, nullptr);
        state->source_io = nullptr;
    }
    state->rebuild_report.clear();
    state->rebuilt_items.clear();
    export_handle_free(&state->export_handle, nullptr);
    log_handle_free(&state->log_handle, nullptr);
}

void scan_state_request_stop(scan_state *state)
{
    if (state == nullptr) {
        return;
    }
    state->stop_requested = true;
    std::lock_guard<std::mutex> file_lock(state->file_mutex);
    if (state->file != nullptr) {
        // Building the item tree of a big mailbox, or recovering its items,
        // runs inside one libpff call: only libpff can end it early.
        error_slot error;
        libpff_file_signal_abort(state->file, error.get());
    }
}

scan_state::~scan_state()
{
    scan_state_release_mailbox(this);
}

} // namespace korvel
