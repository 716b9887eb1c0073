// The messages of one folder in the order of its contents table, fetched with
// one pass over the folder's children rather than one lookup per row (libpff's
// lookup by index scans the children from the first each time).
#pragma once

#include <functional>

#include <libpff.h>

#include "scan/export_handle.h"

namespace korvel {

// What every walk hands an element to: visit(item, index) returns 1 to go on
// and 0 to stop; unreadable(index) hears of an element that cannot be fetched.
using walk_visit = std::function<int(libpff_item_t *, int)>;
using walk_unreadable = std::function<void(int)>;
// Which elements a walk offers, by their place in it (0 for the first one
// offered to visit or unreadable, and so on): a reading thread takes only its
// share of a folder.
using walk_wanted = std::function<bool(int)>;

// Calls visit(message, index) for every message of folder that libpff can
// fetch, in contents-table order. message is borrowed: the walk frees it when
// visit returns. index is the position libpff knows the message by
// (libpff_folder_get_sub_message(folder, index, ...) gives the same item), so
// a record can find it again later. visit returns 1 to go on, 0 to end the
// walk early (a Stop). unreadable(index) is called for a message that cannot
// be fetched; the walk goes on with the next one. When the contents table
// cannot be read (its count, its rows, or every row identifier), the
// messages are the folder's message children in the node index, in
// identifier order, index then being the child position
// (export_handle_fetch_listed_message finds either again); *from_node_index
// (when given) tells which. Like every walk loop
// it tests export_handle's abort flag (when a handle is given) before each
// element and ends with 0 when it is set.
// Returns 1 when every message was offered, 0 when visit ended the walk, -1
// when the folder's messages cannot be counted at all.
int export_handle_walk_sub_messages(export_handle_t *export_handle, libpff_item_t *folder,
                                    const walk_visit &visit, const walk_unreadable &unreadable,
                                    libpff_error_t **error);
int export_handle_walk_sub_messages(export_handle_t *export_handle, libpff_item_t *folder,
                                    const walk_visit &visit, const walk_unreadable &unreadable,
                                    bool *from_node_index, libpff_error_t **error);
// The same, offering only the elements whose place wanted accepts (all when
// it is empty). Where the contents table's rows are fetched one by one, a row
// not wanted is not fetched at all; otherwise the walk reads what it must to
// know the places.
int export_handle_walk_sub_messages(export_handle_t *export_handle, libpff_item_t *folder,
                                    const walk_visit &visit, const walk_unreadable &unreadable,
                                    bool *from_node_index, const walk_wanted &wanted,
                                    libpff_error_t **error);

// The same for sub-folders: the hierarchy table's order, or, when it cannot
// be counted, the folder children in the node index (index the child
// position). Returns as export_handle_walk_sub_messages.
int export_handle_walk_sub_folders(export_handle_t *export_handle, libpff_item_t *folder,
                                   const walk_visit &visit, const walk_unreadable &unreadable,
                                   bool *from_node_index, libpff_error_t **error);

// The message a walk offered at index: the contents table's row, or the
// child at that position when the table cannot be read. Returns 1 or -1.
int export_handle_fetch_listed_message(libpff_item_t *folder, int index, libpff_item_t **item,
                                       libpff_error_t **error);

} // namespace korvel
