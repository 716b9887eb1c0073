#include "scan/export_handle.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "scan/folder_messages.h"
#include "scan/item_record.h"
#include "scan/list_item.h"
#include "scan/names.h"
#include "scan/pff_values.h"
#include "scan/scan_state.h"
#include "scan/target_path.h"

namespace korvel {

namespace {

// The export root the walk derives levels and path texts from.
constexpr std::size_t export_root_length = 7; // ".export"

// Below this level nothing is shown; not descending further also keeps a
// damaged, endlessly nested hierarchy from exhausting the stack.
constexpr int deepest_walked_level = maximum_tree_level + 1;

scan_views *views_of(export_handle_t *export_handle)
{
    return export_handle->state != nullptr ? export_handle->state->views : nullptr;
}

void set_progress(export_handle_t *export_handle, int position)
{
    if (scan_views *views = views_of(export_handle)) {
        views->progress_set(position);
    }
}

// Separators in path[export root, size - 1).
int count_separators_after_root(const char16_t *path, std::size_t size)
{
    int count = 0;
    for (std::size_t i = export_root_length; i + 1 < size; ++i) {
        if (path[i] == path_separator) {
            ++count;
        }
    }
    return count;
}

} // namespace

int export_handle_initialize(export_handle_t **export_handle, char export_mode,
                             libpff_error_t **error)
{
    (void)error;
    if (export_handle == nullptr) {
        return -1;
    }
    if (*export_handle != nullptr) {
        return 1;
    }
    auto *handle = new (std::nothrow) export_handle_t;
    if (handle == nullptr) {
        return -1;
    }
    handle->export_mode = export_mode;
    handle->abort = 0;
    handle->state = nullptr;
    *export_handle = handle;
    return 1;
}

int export_handle_free(export_handle_t **export_handle, libpff_error_t **error)
{
    (void)error;
    if (export_handle == nullptr) {
        return -1;
    }
    delete *export_handle;
    *export_handle = nullptr;
    return 1;
}

void export_handle_clear_error(libpff_error_t **error)
{
    if (error != nullptr && *error != nullptr) {
        libpff_error_free(error);
    }
}

int export_handle_check_abort(export_handle_t *export_handle)
{
    scan_state *state = export_handle->state;
    if (state != nullptr) {
        state->gate.pass();
        // A confirmed Stop ends the walk even before the window can reach the handle.
        if (state->stop_requested) {
            return 1;
        }
    }
    return export_handle->abort != 0 ? 1 : 0;
}

int export_handle_export_file(export_handle_t *export_handle, libpff_file_t *file,
                              const char16_t *items_path, std::size_t items_path_size,
                              const char16_t *orphans_path, std::size_t orphans_path_size,
                              const char16_t *recovered_path, std::size_t recovered_path_size,
                              std::uint8_t export_format, log_handle_t *log_handle,
                              libpff_error_t **error)
{
    // Items mode only: there is no recovery pass.
    (void)orphans_path;
    (void)orphans_path_size;
    (void)recovered_path;
    (void)recovered_path_size;
    if (export_handle == nullptr || file == nullptr) {
        return -1;
    }
    if (export_handle->abort != 0) {
        export_handle->abort = 0;
        return -1;
    }
    if (export_handle_export_items(export_handle, file, items_path, items_path_size, export_format,
                                   log_handle, error) != 1) {
        return -1;
    }
    export_handle->abort = 0;
    return 1;
}

int export_handle_export_items(export_handle_t *export_handle, libpff_file_t *file,
                               const char16_t *export_path, std::size_t export_path_size,
                               std::uint8_t export_format, log_handle_t *log_handle,
                               libpff_error_t **error)
{
    if (export_handle == nullptr || file == nullptr || export_path == nullptr) {
        return -1;
    }
    item_holder root_folder;
    // A damaged file often opens and then has no root folder: that is a failed walk.
    if (libpff_file_get_root_folder(file, root_folder.out(), error) != 1 ||
        root_folder.get() == nullptr) {
        return -1;
    }
    int number_of_sub_items = 0;
    if (libpff_item_get_number_of_sub_items(root_folder.get(), &number_of_sub_items, error) != 1) {
        return -1;
    }
    if (number_of_sub_items <= 0) {
        return 1;
    }
    // Items lying directly in the root folder are listed during the scan; their
    // records need the root folder for as long as the stores live.
    scan_state *state = export_handle->state;
    if (state != nullptr && state->root_folder == nullptr) {
        error_slot clone_error;
        if (libpff_item_clone(&state->root_folder, root_folder.get(), clone_error.get()) != 1) {
            state->root_folder = nullptr;
        }
    }
    if (state != nullptr) {
        state->current_parent_item = state->root_folder;
    }
    int result = export_handle_export_sub_items(export_handle, root_folder.get(), export_path,
                                                export_path_size, export_format, log_handle, error);
    if (root_folder.release() != 1) {
        result = -1;
    }
    return result == 1 ? 1 : -1;
}

int export_handle_export_sub_items(export_handle_t *export_handle, libpff_item_t *item,
                                   const char16_t *export_path, std::size_t export_path_size,
                                   std::uint8_t export_format, log_handle_t *log_handle,
                                   libpff_error_t **error)
{
    if (export_handle == nullptr || item == nullptr || export_path == nullptr) {
        return -1;
    }
    int number_of_sub_items = 0;
    if (libpff_item_get_number_of_sub_items(item, &number_of_sub_items, error) != 1) {
        return -1;
    }
    for (int index = 0; index < number_of_sub_items; ++index) {
        if (export_handle_check_abort(export_handle) != 0) {
            return -1;
        }
        item_holder sub_item;
        error_slot fetch_error;
        // A sub-item libpff cannot fetch is left out; its siblings still count.
        if (libpff_item_get_sub_item(item, index, sub_item.out(), fetch_error.get()) != 1 ||
            sub_item.get() == nullptr) {
            sub_item.take();
            continue;
        }
        error_slot item_error;
        export_handle_list_item(export_handle, sub_item.get(), index, number_of_sub_items,
                                export_path, export_path_size, export_format, log_handle,
                                item_error.get());
        if (sub_item.release() != 1) {
            return -1;
        }
    }
    return 1;
}

int export_handle_export_folder(export_handle_t *export_handle, libpff_item_t *folder, int index,
                                const char16_t *export_path, std::size_t export_path_size,
                                std::uint8_t export_format, log_handle_t *log_handle,
                                libpff_error_t **error)
{
    if (export_handle == nullptr || folder == nullptr || export_path == nullptr ||
        export_path_size < export_root_length + 1) {
        return -1;
    }
    // The name; a folder without one (or with an empty one) is numbered.
    std::size_t name_size = 0;
    int result = read_utf8_size(folder, tag_display_name, &name_size);
    if (result == 1 && name_size > 0x7FFFFFFF) {
        return -1;
    }
    if (result != 1) {
        name_size = 0;
    }
    std::vector<std::uint8_t> name(name_size < 12 ? 12 : name_size, 0);
    bool have_name = result == 1 && name_size > 0 &&
                     read_utf8(folder, tag_display_name, name.data(), name.size()) == 1 &&
                     name[0] != 0;
    if (!have_name) {
        if (index < 0 || index + 1 >= 100000) {
            return -1;
        }
        std::snprintf(reinterpret_cast<char *>(name.data()), 12, "Folder%05d", index + 1);
        name_size = 12;
    }

    char16_t *target_path = nullptr;
    std::size_t target_path_size = 0;
    if (export_handle_create_target_path(export_handle, export_path, export_path_size, name.data(),
                                         static_cast<std::ptrdiff_t>(name.size()), &target_path,
                                         &target_path_size, error) != 1 ||
        target_path == nullptr) {
        return -1;
    }
    std::u16string path(target_path, target_path_size - 1);
    delete[] target_path;

    const std::u16string sanitized_name = path.substr(path.rfind(path_separator) + 1);
    const int level = 1 + count_separators_after_root(export_path, export_path_size);

    scan_state *state = export_handle->state;
    if (state != nullptr && state->views != nullptr && level >= 1 && level <= maximum_tree_level) {
        scan_views *views = state->views;
        const tree_item parent =
            level == 1 ? views->tree_root_item() : state->level_parents[level - 1];
        const tree_item item = views->tree_insert_item(parent, sanitized_name);
        state->level_parents[level] = item;
        if (item != 0) {
            views->tree_set_bold(item);
            // The node keeps a folder item of its own: the walk frees its copy.
            libpff_item_t *kept = nullptr;
            error_slot clone_error;
            if (libpff_item_clone(&kept, folder, clone_error.get()) == 1 && kept != nullptr) {
                const std::u16string parent_path(export_path + export_root_length,
                                                 export_path_size - 1 - export_root_length);
                const bool was_empty = state->folders.head == nullptr;
                if (folder_list_append(&state->folders, sanitized_name, parent_path, parent, item,
                                       kept) != 1) {
                    release_item(&kept);
                    views->memory_exhausted(memory_caption, was_empty ? u"Not Enough Memory"
                                                                      : u"Not Enough Of Memory");
                    return -1;
                }
            }
        }
    }
    if (level >= deepest_walked_level) {
        return 1;
    }
    if (export_handle_export_sub_folders(export_handle, folder, path.c_str(), path.size() + 1,
                                         export_format, log_handle, error) != 1) {
        return -1;
    }
    return 1;
}

int export_handle_export_sub_folders(export_handle_t *export_handle, libpff_item_t *folder,
                                     const char16_t *export_path, std::size_t export_path_size,
                                     std::uint8_t export_format, log_handle_t *log_handle,
                                     libpff_error_t **error)
{
    if (export_handle == nullptr || folder == nullptr || export_path == nullptr) {
        return -1;
    }
    int index_shown = 0;
    // A sub-folder libpff cannot fetch (its node lost to the orphans, say) is
    // left out; its later siblings are still walked. Without a readable
    // hierarchy table the sub-folders come from the node index.
    auto export_one = [&](libpff_item_t *sub_folder, int index) {
        set_progress(export_handle, index_shown < 100 ? index_shown : 100);
        ++index_shown;
        if (export_handle_check_abort(export_handle) != 0) {
            return 0;
        }
        error_slot folder_error;
        export_handle_export_folder(export_handle, sub_folder, index, export_path,
                                    export_path_size, export_format, log_handle,
                                    folder_error.get());
        set_progress(export_handle, 0);
        return 1;
    };
    if (export_handle_walk_sub_folders(export_handle, folder, export_one, [](int) {}, nullptr,
                                       error) != 1) {
        return -1;
    }
    set_progress(export_handle, 0);
    return 1;
}

int export_handle_export_sub_messages(export_handle_t *export_handle, libpff_item_t *folder,
                                      const char16_t *export_path, std::size_t export_path_length,
                                      std::uint8_t export_format, log_handle_t *log_handle,
                                      libpff_error_t **error)
{
    if (export_handle == nullptr || folder == nullptr || export_path == nullptr) {
        return -1;
    }
    int number_of_messages = 0;
    {
        // The count is only a hint to the listing: a folder whose contents
        // table is unreadable is listed from the node index.
        error_slot count_error;
        if (libpff_folder_get_number_of_sub_messages(folder, &number_of_messages,
                                                     count_error.get()) != 1) {
            number_of_messages = 0;
        }
    }
    scan_state *state = export_handle->state;
    int position = 0;
    // One walk over the folder's children instead of one lookup per message;
    // a message libpff cannot fetch is left out and the listing goes on, each
    // record keeping the index libpff knows its message by.
    auto list_message = [&](libpff_item_t *message, int index) {
        set_progress(export_handle, position);
        if (export_handle_check_abort(export_handle) != 0) {
            return 0;
        }
        if (state != nullptr) {
            state->current_parent_item = folder;
        }
        error_slot item_error;
        export_handle_list_item(export_handle, message, index, number_of_messages, export_path,
                                export_path_length + 1, export_format, log_handle,
                                item_error.get());
        if (position == 100) {
            position = 0;
        }
        ++position;
        return 1;
    };
    if (export_handle_walk_sub_messages(
            export_handle, folder, list_message, [](int) {}, error) != 1) {
        return -1;
    }
    set_progress(export_handle, 0);
    return 1;
}

} // namespace korvel
