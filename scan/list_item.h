// The folder-load dispatcher: where the walk hands every item it meets.
#pragma once

#include <cstddef>
#include <cstdint>

#include <libpff.h>

#include "scan/export_handle.h"
#include "scan/log_handle.h"

namespace korvel {

// Names the item's kind; folders go back to export_handle_export_folder,
// listed kinds become a row and a record (export_handle_export_message_header).
// Returns 1, or -1 when the handle, the item or the path is missing.
int export_handle_list_item(export_handle_t *export_handle, libpff_item_t *item, int index,
                            int number_of_items, const char16_t *export_path,
                            std::size_t export_path_size, std::uint8_t export_format,
                            log_handle_t *log_handle, libpff_error_t **error);

} // namespace korvel
