// The scan driver (open, walk, report) and the folder fill (a click on a
// folder lists its messages), declared in scan_state.h.
#include "scan/scan_state.h"

#include <cstdio>
#include <mutex>
#include <string>

#include "scan/export_handle.h"
#include "scan/pff_values.h"
#include "scan/text.h"

namespace korvel {

header_check check_file_header(const std::string &utf8_path)
{
    std::FILE *file = std::fopen(utf8_path.c_str(), "rb");
    if (file == nullptr) {
        return header_check::unreadable;
    }
    unsigned char header[10] = {};
    const std::size_t read = std::fread(header, 1, sizeof header, file);
    std::fclose(file);
    if (read < 4 || header[0] != '!' || header[1] != 'B' || header[2] != 'D' || header[3] != 'N') {
        return read < 4 && read > 0 ? header_check::no_signature
               : read == 0          ? header_check::unreadable
                                    : header_check::no_signature;
    }
    if (read < 10) {
        return header_check::unreadable;
    }
    if (header[8] != 0x53 || header[9] != 0x4D) {
        return header_check::not_pst;
    }
    return header_check::pst;
}

int scan_driver_run(scan_state *state)
{
    if (state == nullptr || state->views == nullptr) {
        return 0;
    }
    scan_views *views = state->views;
    std::lock_guard<std::recursive_mutex> lock(state->mailbox_mutex);

    const std::string path = utf16_to_utf8(state->mailbox_path);
    views->command_set_enabled(view_command::scan, false);
    views->wait_dialog_show();

    // The previous scan's mailbox (open, or left by a failed open).
    scan_state_release_mailbox(state);

    static const char16_t export_root[] = u".export";

    if (log_handle_initialize(&state->log_handle, nullptr) == 1) {
        log_handle_open(state->log_handle, nullptr, nullptr);
    }
    if (export_handle_initialize(&state->export_handle, 'i', nullptr) == 1) {
        state->export_handle->state = state;
    }
    {
        error_slot error;
        if (libpff_file_initialize(&state->file, error.get()) == 1) {
            libpff_file_set_ascii_codepage(state->file, LIBPFF_CODEPAGE_WINDOWS_1252, error.get());
        } else {
            state->file = nullptr;
        }
    }

    // Our own header check first: libpff would also open offline stores.
    bool opened = false;
    if (state->file != nullptr) {
        switch (check_file_header(path)) {
        case header_check::pst: {
            error_slot error;
            opened =
                libpff_file_open(state->file, path.c_str(), LIBPFF_OPEN_READ, error.get()) == 1;
            break;
        }
        case header_check::not_pst:
            state->header_check_flag = true;
            break;
        case header_check::no_signature:
        case header_check::unreadable:
            break;
        }
    }

    if (!opened) {
        // The wait dialog goes before any message box.
        views->wait_dialog_close();
        if (state->stop_requested) {
            // A scan ended by Stop ends silently.
            state->header_check_flag = false;
            return 0;
        }
        if (state->header_check_flag) {
            views->message_box(message_icon::information, message_caption,
                               u"This is not a valid PST File");
        } else {
            views->message_box(message_icon::information, message_caption,
                               u"Please check file use in another proess or File is highly "
                               u"corrupted! Please select another file OR contact support team..");
        }
        state->header_check_flag = false;
        views->run_browse();
        return 0;
    }
    views->wait_dialog_close();

    int result = -1;
    if (state->export_handle != nullptr) {
        error_slot error;
        result = export_handle_export_file(state->export_handle, state->file, export_root,
                                           sizeof export_root / sizeof export_root[0], nullptr, 0,
                                           nullptr, 0, 'a', state->log_handle, error.get());
    }
    if (result != 1) {
        // A scan ended by Stop ends silently.
        if (state->stop_requested) {
            return 0;
        }
        views->message_box(message_icon::information, message_caption,
                           u"Scanning process failed! Please select another file OR contact "
                           u"support team..");
        views->run_browse();
        return 0;
    }
    // What lies outside the folders is found while the user still waits for
    // the scan, but for the free-space search of a big file (see
    // recovered_items.h).
    if (state->stop_requested || recovered_items_find_at_scan(state) != 1) {
        return 0;
    }
    recovered_items_show(state);
    views->message_box(message_icon::information, message_caption, u"Analysis completed");
    views->command_set_enabled(view_command::save, true);
    views->command_set_enabled(view_command::browse, true);
    views->command_set_enabled(view_command::convert, true);
    views->tree_set_enabled(true);
    return 1;
}

void folder_fill(scan_state *state, tree_item item)
{
    if (state == nullptr || state->views == nullptr) {
        return;
    }
    scan_views *views = state->views;
    std::lock_guard<std::recursive_mutex> lock(state->mailbox_mutex);
    state->selected_folder_item = item;
    views->list_delete_all_rows();
    state->record_sequence = 0;
    item_record_list_free(&state->records);

    if (recovered_items_fill(state, item)) {
        return;
    }
    for (folder_node *node = state->folders.head; node != nullptr; node = node->next) {
        if (node->item != item || state->export_handle == nullptr) {
            continue;
        }
        const std::u16string path = node->parent_path + u"/" + node->name;
        views->tree_set_enabled(false);
        error_slot error;
        export_handle_export_sub_messages(state->export_handle, node->folder_item, path.c_str(),
                                          path.size(), 'a', state->log_handle, error.get());
        views->tree_set_enabled(true);
    }
}

} // namespace korvel
