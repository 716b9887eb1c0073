#include "scan/list_item.h"

#include "scan/item_record.h"

namespace korvel {

int export_handle_list_item(export_handle_t *export_handle, libpff_item_t *item, int index,
                            int number_of_items, const char16_t *export_path,
                            std::size_t export_path_size, std::uint8_t export_format,
                            log_handle_t *log_handle, libpff_error_t **error)
{
    (void)number_of_items;
    if (export_handle == nullptr || item == nullptr || export_path == nullptr) {
        return -1;
    }
    std::uint8_t type = 0;
    const item_kind *kind = export_handle_name_kind(export_handle, item, &type);
    if (kind == nullptr) {
        return 1;
    }
    switch (kind->handling) {
    case kind_handling::folder:
        export_handle_export_folder(export_handle, item, index, export_path, export_path_size,
                                    export_format, log_handle, error);
        break;
    case kind_handling::record:
        // One bad item never ends a listing (nor, off the window thread, the
        // program): whatever its extraction throws is dropped with it.
        try {
            export_handle_export_message_header(export_handle, item, export_path, type, index,
                                                error);
        } catch (...) {
        }
        break;
    case kind_handling::name:
    case kind_handling::nothing:
        break;
    }
    return 1;
}

} // namespace korvel
