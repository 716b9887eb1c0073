// The scan driver (open, walk, report) and the folder fill (a click on a
// folder lists its messages), declared in scan_state.h.
#include "scan/scan_state.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "scan/export_handle.h"
#include "scan/pff_values.h"
#include "scan/recovery/index_rebuild.h"
#include "scan/recovery/rebuilt_view.h"
#include "scan/source_file.h"
#include "scan/text.h"

namespace korvel {

namespace {

// A fresh libpff file object with the scan's codepage (one that failed to
// open is not used again).
bool renew_file(scan_state *state)
{
    error_slot error;
    if (state->file != nullptr) {
        libpff_file_free(&state->file, error.get());
        state->file = nullptr;
    }
    if (libpff_file_initialize(&state->file, error.get()) != 1) {
        state->file = nullptr;
        return false;
    }
    libpff_file_set_ascii_codepage(state->file, LIBPFF_CODEPAGE_WINDOWS_1252, error.get());
    return true;
}

// When libpff refuses a file that starts like a mailbox, its index is
// rebuilt from the pages and blocks that still check and the file is opened
// through the rebuilt view. The pass shows its progress and ends on Stop.
bool open_rebuilt(scan_state *state, const std::string &path)
{
    auto index = std::make_shared<recovery::rebuilt_index>();
    recovery::damage_report report;
    const int built = recovery::recovery_rebuild_index(
        path,
        [state](int percent) {
            state->views->progress_set(percent);
            return !state->stop_requested;
        },
        index.get(), &report);
    state->views->progress_set(0);
    if (built != 1 || !renew_file(state)) {
        return false;
    }
    error_slot error;
    if (recovery::recovery_open_rebuilt(state->file, path, std::move(index), &state->rebuilt_io,
                                        error.get()) != 1) {
        return false;
    }
    state->rebuild_report = recovery::damage_report_lines(report);
    for (const recovery::lost_node &lost : report.lost) {
        state->rebuilt_items.push_back(lost.nid);
    }
    std::sort(state->rebuilt_items.begin(), state->rebuilt_items.end());
    return true;
}

// libpff opens a file whose node index root is lost and fails only when the
// folders are walked: a file counts as open when its root folder can be had.
bool index_readable(libpff_file_t *file)
{
    item_holder root;
    error_slot error;
    int sub_items = 0;
    if (libpff_file_get_root_folder(file, root.out(), error.get()) != 1 || root.get() == nullptr) {
        root.take();
        return false;
    }
    return libpff_item_get_number_of_sub_items(root.get(), &sub_items, error.get()) == 1;
}

// The rebuild's findings as one message.
std::u16string rebuild_message(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines) {
        text += (text.empty() ? "" : "\n") + line;
    }
    return u16(text);
}

// The scan's log, export handle and libpff file; one that cannot be made
// stays null.
void initialize_handles(scan_state *state)
{
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
}

// Opens the mailbox at path into state->file. Our own header check comes
// first, as libpff would also open offline stores; a file whose index libpff
// cannot read is opened again over a rebuilt one. A file that is no PST sets
// header_check_flag.
bool open_mailbox(scan_state *state, const std::string &path)
{
    if (state->file == nullptr) {
        return false;
    }
    bool opened = false;
    switch (check_file_header(path)) {
    case header_check::pst: {
        error_slot error;
        // libbfio's own file handle makes a seek and a read of each index
        // node and block libpff asks for, most of a big folder's listing's
        // time; this one reads with pread through blocks it keeps.
        opened = source_io_initialize(path, &state->source_io) == 1 &&
                 libpff_file_open_file_io_handle(state->file, state->source_io, LIBPFF_OPEN_READ,
                                                 error.get()) == 1;
        if (opened && !index_readable(state->file)) {
            libpff_file_close(state->file, error.get());
            opened = false;
        }
        if (!opened && state->source_io != nullptr) {
            libbfio_handle_free(&state->source_io, nullptr);
        }
        if (!opened && !state->stop_requested) {
            opened = open_rebuilt(state, path);
        }
        break;
    }
    case header_check::not_pst:
        state->header_check_flag = true;
        break;
    case header_check::no_signature:
    case header_check::unreadable:
        break;
    }
    return opened;
}

// The message box for a mailbox that did not open (none after Stop), then
// Browse.
void report_open_failure(scan_state *state)
{
    scan_views *views = state->views;
    // The wait dialog goes before any message box.
    views->wait_dialog_close();
    if (state->stop_requested) {
        // A scan ended by Stop ends silently.
        state->header_check_flag = false;
        return;
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
}

} // namespace

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

    initialize_handles(state);

    if (!open_mailbox(state, path)) {
        report_open_failure(state);
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
    if (!state->rebuild_report.empty()) {
        views->message_box(message_icon::information, message_caption,
                           rebuild_message(state->rebuild_report));
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
