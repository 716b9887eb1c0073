// The walk context passed to every walk operation, and the operations of the
// folder walk. Conventions: the export handle first, the log handle and the
// error slot last; results 1 (done), 0 (absent), -1 (error); a path travels
// with its size in characters counting the terminating zero (except where a
// function says "length").
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include <libpff.h>

#include "scan/log_handle.h"

namespace korvel {

struct scan_state;

struct export_handle_t
{
    // Always 'i' (items): the walk starts at the root folder; there is no
    // recovery pass.
    char export_mode;

    // 0 while the walk may go on; every walk loop tests it before taking its
    // next element and fails when it is set.
    std::atomic<std::int32_t> abort;

    // The session whose views and stores the walk fills. Not owned.
    scan_state *state;
};

// Allocates a zeroed handle in the given mode; succeeds without change when
// *export_handle already refers to a handle. Returns 1, or -1 on error.
int export_handle_initialize(export_handle_t **export_handle, char export_mode,
                             libpff_error_t **error);

// Frees the handle and sets the pointer to nullptr. Returns 1.
int export_handle_free(export_handle_t **export_handle, libpff_error_t **error);

// Passes the stop gate (the scan is held still while the stop question is
// open) and tells whether the walk must end. Returns 1 when the abort flag is
// set or a Stop was confirmed, 0 otherwise.
int export_handle_check_abort(export_handle_t *export_handle);

// Walks the mailbox from its root folder (items mode; the orphan and
// recovered paths are not used). Returns 1 when the walk completed, -1
// otherwise. Clears the abort flag when it finds it set and when the walk
// completes.
int export_handle_export_file(export_handle_t *export_handle, libpff_file_t *file,
                              const char16_t *items_path, std::size_t items_path_size,
                              const char16_t *orphans_path, std::size_t orphans_path_size,
                              const char16_t *recovered_path, std::size_t recovered_path_size,
                              std::uint8_t export_format, log_handle_t *log_handle,
                              libpff_error_t **error);

// Dispatches every sub-item of the root folder (a sub-item libpff cannot
// fetch is left out). Returns 1, or -1 on error.
int export_handle_export_items(export_handle_t *export_handle, libpff_file_t *file,
                               const char16_t *export_path, std::size_t export_path_size,
                               std::uint8_t export_format, log_handle_t *log_handle,
                               libpff_error_t **error);

// Dispatches every sub-item of item; one libpff cannot fetch is left out and
// the loop goes on. Returns 1, or -1 when the sub-items cannot be counted or
// the walk was aborted.
int export_handle_export_sub_items(export_handle_t *export_handle, libpff_item_t *item,
                                   const char16_t *export_path, std::size_t export_path_size,
                                   std::uint8_t export_format, log_handle_t *log_handle,
                                   libpff_error_t **error);

// Inserts the folder's tree item, keeps its folder node and walks its
// sub-folders. index is the folder's position in its parent's loop.
// Returns 1, or -1 on error (the folder and its sub-folders are then left out).
int export_handle_export_folder(export_handle_t *export_handle, libpff_item_t *folder, int index,
                                const char16_t *export_path, std::size_t export_path_size,
                                std::uint8_t export_format, log_handle_t *log_handle,
                                libpff_error_t **error);

// Exports every sub-folder of folder; one libpff cannot fetch is left out and
// the loop goes on with the next. Returns 1, or -1 when the sub-folders cannot
// be counted or the walk was aborted.
int export_handle_export_sub_folders(export_handle_t *export_handle, libpff_item_t *folder,
                                     const char16_t *export_path, std::size_t export_path_size,
                                     std::uint8_t export_format, log_handle_t *log_handle,
                                     libpff_error_t **error);

// Lists every message of folder into the item list and the item record list,
// in contents-table order (export_handle_walk_sub_messages); a message libpff
// cannot fetch is left out. export_path_length does not count the terminating
// zero. Returns 1, or -1 when the messages cannot be counted or the walk was
// aborted (rows already added stay).
int export_handle_export_sub_messages(export_handle_t *export_handle, libpff_item_t *folder,
                                      const char16_t *export_path, std::size_t export_path_length,
                                      std::uint8_t export_format, log_handle_t *log_handle,
                                      libpff_error_t **error);

// Frees a libpff error left in the slot, if any.
void export_handle_clear_error(libpff_error_t **error);

} // namespace korvel
