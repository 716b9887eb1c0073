#include "scan/recovered_items.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <new>
#include <unordered_set>

#include "scan/export_handle.h"
#include "scan/folder_messages.h"
#include "scan/item_record.h"
#include "scan/names.h"
#include "scan/pff_values.h"
#include "scan/scan_state.h"
#include "scan/text.h"

namespace korvel {

namespace {

// An orphan folder's sub-folders deeper than this are left out: a damaged
// hierarchy may lead round in circles.
constexpr int deepest_orphan_folder = 1000;

std::size_t slot(recovered_source source)
{
    return static_cast<std::size_t>(source) - 1;
}

bool listed_source(recovered_source source)
{
    return source != recovered_source::none &&
           static_cast<std::size_t>(source) <= recovered_source_count;
}

std::uint32_t identifier_of(libpff_item_t *item)
{
    error_slot error;
    std::uint32_t id = 0;
    return libpff_item_get_identifier(item, &id, error.get()) == 1 ? id : 0;
}

// True for an item that reads as a message: none of libpff's structural item
// types, and a message class.
bool reads_as_message(libpff_item_t *item)
{
    error_slot error;
    std::uint8_t type = 0;
    if (libpff_item_get_type(item, &type, error.get()) != 1) {
        return false;
    }
    switch (type) {
    case LIBPFF_ITEM_TYPE_UNDEFINED:
    case LIBPFF_ITEM_TYPE_ATTACHMENT:
    case LIBPFF_ITEM_TYPE_ATTACHMENTS:
    case LIBPFF_ITEM_TYPE_FOLDER:
    case LIBPFF_ITEM_TYPE_RECIPIENTS:
    case LIBPFF_ITEM_TYPE_SUB_ASSOCIATED_CONTENTS:
    case LIBPFF_ITEM_TYPE_SUB_FOLDERS:
    case LIBPFF_ITEM_TYPE_SUB_MESSAGES:
        return false;
    default:
        break;
    }
    std::size_t size = 0;
    return read_utf8_size(item, tag_message_class, &size) == 1;
}

bool is_folder(libpff_item_t *item)
{
    error_slot error;
    std::uint8_t type = 0;
    return libpff_item_get_type(item, &type, error.get()) == 1 && type == LIBPFF_ITEM_TYPE_FOLDER;
}

// libpff looks for the index pages of deleted items in the free pages its
// page map lists, and only there unless told to ignore the maps. Files written
// since the page map fell out of use list none: there the whole file is
// searched (a second search with other flags is refused by libpff).
std::uint8_t recovery_flags(libpff_file_t *file)
{
    error_slot error;
    int free_pages = 0;
    if (libpff_file_get_number_of_unallocated_blocks(file, LIBPFF_UNALLOCATED_BLOCK_TYPE_PAGE,
                                                     &free_pages, error.get()) == 1 &&
        free_pages > 0) {
        return 0;
    }
    return LIBPFF_RECOVERY_FLAG_IGNORE_ALLOCATION_DATA;
}

// The index rebuild hangs the messages it put together from their blocks
// under a folder that does not exist, so libpff offers them with the orphans.
bool rebuilt_from_index(const std::vector<std::uint32_t> &rebuilt_items, libpff_item_t *item)
{
    return std::binary_search(rebuilt_items.begin(), rebuilt_items.end(), identifier_of(item));
}

bool stop_confirmed(scan_state *state)
{
    state->gate.pass();
    return state->stop_requested.load();
}

// Where gather lists what it finds, and when it gives up.
struct gathering
{
    recovered_items *items;
    const std::vector<std::uint32_t> &rebuilt_items;
    const std::function<bool()> &stopped;
};

// Lists a message, or an orphan folder's messages and its sub-folders'.
// Returns 1 on, 0 stopped.
int gather(const gathering &into, recovered_source source, libpff_item_t *item,
           std::unordered_set<std::uint32_t> &folders_seen, int depth)
{
    if (into.stopped()) {
        return 0;
    }
    if (!is_folder(item)) {
        recovered_items_add(into.items,
                            rebuilt_from_index(into.rebuilt_items, item) ? recovered_source::rebuilt
                                                                         : source,
                            item);
        return 1;
    }
    if (depth > deepest_orphan_folder || !folders_seen.insert(identifier_of(item)).second) {
        return 1;
    }
    int outcome = 1;
    error_slot error;
    export_handle_walk_sub_messages(
        nullptr, item,
        [&](libpff_item_t *message, int) {
            outcome = gather(into, source, message, folders_seen, depth + 1);
            return outcome;
        },
        [](int) {}, error.get());
    int sub_folders = 0;
    if (libpff_folder_get_number_of_sub_folders(item, &sub_folders, error.get()) != 1) {
        sub_folders = 0;
    }
    for (int i = 0; i < sub_folders && outcome == 1; ++i) {
        item_holder sub;
        if (libpff_folder_get_sub_folder(item, i, sub.out(), error.get()) == 1) {
            outcome = gather(into, source, sub.get(), folders_seen, depth + 1);
        }
    }
    return outcome;
}

int gather(scan_state *state, recovered_source source, libpff_item_t *item,
           std::unordered_set<std::uint32_t> &folders_seen, int depth)
{
    const std::function<bool()> stopped = [state] { return stop_confirmed(state); };
    return gather({&state->recovered, state->rebuilt_items, stopped}, source, item, folders_seen,
                  depth);
}

// Lists what libpff_file_recover_items found on file. Returns 1, 0 stopped.
int gather_recovered(const gathering &into, libpff_file_t *file)
{
    error_slot error;
    int count = 0;
    if (libpff_file_get_number_of_recovered_items(file, &count, error.get()) != 1) {
        count = 0;
    }
    std::unordered_set<std::uint32_t> folders_seen;
    for (int i = 0; i < count; ++i) {
        item_holder item;
        if (libpff_file_get_recovered_item_by_index(file, i, item.out(), error.get()) != 1) {
            continue;
        }
        if (gather(into, recovered_source::free_space, item.get(), folders_seen, 0) == 0) {
            return 0;
        }
    }
    return 1;
}

// Lists one source's items, each record keeping its position in the list.
void fill_source(scan_state *state, recovered_source source)
{
    const std::vector<libpff_item_t *> &list = state->recovered.lists[slot(source)];
    const std::u16string path =
        std::u16string(u"/") + recovered_node_name + u"/" + recovered_source_name(source);
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (export_handle_check_abort(state->export_handle) != 0) {
            return;
        }
        std::uint8_t type = 0;
        const item_kind *kind = export_handle_name_kind(state->export_handle, list[i], &type);
        if (kind == nullptr || kind->handling != kind_handling::record) {
            continue;
        }
        state->current_parent_item = nullptr;
        const std::size_t before = state->records.count;
        error_slot error;
        export_handle_export_message_header(state->export_handle, list[i], path.c_str(), type,
                                            static_cast<int>(i), error.get());
        if (state->records.count > before && state->records.tail != nullptr) {
            state->records.tail->source = source;
        }
    }
}

std::u16string source_node_text(const recovered_items *items, recovered_source source)
{
    const std::u16string name = recovered_source_name(source);
    if (source == recovered_source::free_space && !items->free_space_searched) {
        return name + u" (click to search)";
    }
    if (source == recovered_source::free_space && items->free_space_stopped) {
        return name + u" (search stopped: " +
               u16(std::to_string(recovered_items_count(items, source))) + u")";
    }
    return name + u" (" + u16(std::to_string(recovered_items_count(items, source))) + u")";
}

// Runs a search of the free space that waits for a click, under the wait
// dialog, and shows its count on its node.
void run_waiting_search(scan_state *state)
{
    recovered_items &items = state->recovered;
    const tree_item node = items.source_nodes[slot(recovered_source::free_space)];
    if (items.free_space_searched || node == 0) {
        return;
    }
    state->views->wait_dialog_show();
    recovered_items_find_free_space(state, {});
    state->views->wait_dialog_close();
    state->views->tree_set_text(node, source_node_text(&items, recovered_source::free_space));
}

} // namespace

const char16_t *recovered_source_name(recovered_source source)
{
    switch (source) {
    case recovered_source::orphans:
        return u"Outside any folder";
    case recovered_source::free_space:
        return u"Deleted, found in free space";
    case recovered_source::rebuilt:
        return u"Rebuilt from a damaged index";
    case recovered_source::none:
        break;
    }
    return u"";
}

void recovered_items_clear(recovered_items *items)
{
    if (items == nullptr) {
        return;
    }
    for (std::vector<libpff_item_t *> &list : items->lists) {
        for (libpff_item_t *&item : list) {
            release_item(&item);
        }
        list.clear();
    }
    items->identifiers.clear();
    items->orphans_gathered = false;
    items->free_space_searched = false;
    items->free_space_stopped = false;
    items->node = 0;
    for (tree_item &node : items->source_nodes) {
        node = 0;
    }
}

std::size_t recovered_items_count(const recovered_items *items, recovered_source source)
{
    return items != nullptr && listed_source(source) ? items->lists[slot(source)].size() : 0;
}

std::size_t recovered_items_total(const recovered_items *items)
{
    std::size_t total = 0;
    for (recovered_source source : recovered_sources) {
        total += recovered_items_count(items, source);
    }
    return total;
}

libpff_item_t *recovered_items_get(const recovered_items *items, recovered_source source,
                                   std::size_t index)
{
    if (index >= recovered_items_count(items, source)) {
        return nullptr;
    }
    return items->lists[slot(source)][index];
}

int recovered_items_add(recovered_items *items, recovered_source source, libpff_item_t *item)
{
    if (items == nullptr || item == nullptr || !listed_source(source) || !reads_as_message(item)) {
        return 0;
    }
    const std::uint32_t id = identifier_of(item);
    if (items->identifiers.count(id) != 0) {
        return 0;
    }
    item_holder copy;
    error_slot error;
    if (libpff_item_clone(copy.out(), item, error.get()) != 1 || copy.get() == nullptr) {
        return -1;
    }
    try {
        items->identifiers.insert(id);
        items->lists[slot(source)].push_back(copy.get());
    } catch (const std::bad_alloc &) {
        return -1;
    }
    copy.take();
    return 1;
}

int recovered_items_find_orphans(scan_state *state)
{
    if (state == nullptr || state->file == nullptr) {
        return 1;
    }
    std::lock_guard<std::recursive_mutex> lock(state->mailbox_mutex);
    if (state->recovered.orphans_gathered) {
        return 1;
    }
    error_slot error;
    int count = 0;
    if (libpff_file_get_number_of_orphan_items(state->file, &count, error.get()) != 1) {
        return 1;
    }
    std::unordered_set<std::uint32_t> folders_seen;
    for (int i = 0; i < count; ++i) {
        item_holder item;
        if (libpff_file_get_orphan_item_by_index(state->file, i, item.out(), error.get()) != 1) {
            continue;
        }
        if (gather(state, recovered_source::orphans, item.get(), folders_seen, 0) == 0) {
            return 0;
        }
    }
    // The messages the index rebuild put together hang under a lost folder
    // (then they came as orphans above) or, when no folder survived, under
    // the root folder, which the tree does not list: fetched by identifier,
    // each shows here all the same.
    for (const std::uint32_t nid : state->rebuilt_items) {
        if (stop_confirmed(state)) {
            return 0;
        }
        item_holder item;
        if (libpff_file_get_item_by_identifier(state->file, nid, item.out(), error.get()) == 1) {
            recovered_items_add(&state->recovered, recovered_source::rebuilt, item.get());
        }
    }
    state->recovered.orphans_gathered = true;
    return 1;
}

int recovered_items_find_free_space(scan_state *state, const std::function<void()> &step)
{
    if (state == nullptr || state->file == nullptr) {
        return 1;
    }
    std::lock_guard<std::recursive_mutex> lock(state->mailbox_mutex);
    recovered_items &items = state->recovered;
    if (!items.free_space_searched) {
        if (stop_confirmed(state)) {
            return 0;
        }
        // libpff keeps what it found for the file: a second call, even after a
        // failure or an abort, is refused.
        items.free_space_searched = true;
        items.searching = true;
        if (step) {
            step();
        }
        error_slot error;
        libpff_file_recover_items(state->file, recovery_flags(state->file), error.get());
        items.searching = false;
        if (stop_confirmed(state)) {
            items.free_space_stopped = true;
            return 0;
        }
        const std::function<bool()> stopped = [state] { return stop_confirmed(state); };
        if (gather_recovered({&items, state->rebuilt_items, stopped}, state->file) == 0) {
            items.free_space_stopped = true;
            return 0;
        }
    }
    // A search stopped before leaves its list as it is: later calls go on
    // with what it found.
    return 1;
}

int recovered_items_search_other_file(libpff_file_t *file, recovered_items *items,
                                      const std::function<bool()> &stopped)
{
    if (file == nullptr || items == nullptr) {
        return 1;
    }
    if (stopped()) {
        return 0;
    }
    error_slot error;
    libpff_file_recover_items(file, recovery_flags(file), error.get());
    if (stopped()) {
        return 0;
    }
    // The other file was opened from the mailbox's name: no rebuilt index.
    const std::vector<std::uint32_t> none;
    return gather_recovered({items, none, stopped}, file);
}

int recovered_items_find_at_scan(scan_state *state)
{
    if (state == nullptr || state->file == nullptr) {
        return 1;
    }
    if (recovered_items_find_orphans(state) != 1) {
        return 0;
    }
    error_slot error;
    size64_t size = 0;
    if (libpff_file_get_size(state->file, &size, error.get()) == 1 &&
        size > state->recovered.search_at_scan_limit) {
        return 1; // searched on the first click of its node, or by the save
    }
    return recovered_items_find_free_space(state, {});
}

void recovered_items_show(scan_state *state)
{
    if (state == nullptr || state->views == nullptr) {
        return;
    }
    recovered_items &items = state->recovered;
    const bool search_waits = !items.free_space_searched && state->file != nullptr;
    if (items.node != 0 || (recovered_items_total(&items) == 0 && !search_waits)) {
        return;
    }
    scan_views *views = state->views;
    items.node = views->tree_insert_recovered_item(views->tree_root_item(), recovered_node_name);
    if (items.node == 0) {
        return;
    }
    for (recovered_source source : recovered_sources) {
        const std::size_t count = recovered_items_count(&items, source);
        const bool waits = source == recovered_source::free_space && search_waits;
        if (count == 0 && !waits) {
            continue;
        }
        items.source_nodes[slot(source)] =
            views->tree_insert_recovered_item(items.node, source_node_text(&items, source));
    }
}

bool recovered_items_fill(scan_state *state, tree_item item)
{
    if (state == nullptr || state->views == nullptr || item == 0 ||
        state->export_handle == nullptr) {
        return false;
    }
    const recovered_items &items = state->recovered;
    std::vector<recovered_source> sources;
    if (item == items.node) {
        sources.assign(std::begin(recovered_sources), std::end(recovered_sources));
    }
    for (recovered_source source : recovered_sources) {
        if (items.source_nodes[slot(source)] == item) {
            sources.push_back(source);
        }
    }
    if (sources.empty()) {
        return false;
    }
    state->views->tree_set_enabled(false);
    run_waiting_search(state);
    for (recovered_source source : sources) {
        fill_source(state, source);
    }
    state->views->tree_set_enabled(true);
    return true;
}

} // namespace korvel
