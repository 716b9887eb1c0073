#include "scan/folder_messages.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "scan/names.h"
#include "scan/pff_values.h"

namespace korvel {

namespace {

// Messages met in the child walk before their turn in the table are kept open
// up to this many; later ones are fetched again by their child position when
// their turn comes (a short walk from the nearer end of the children).
constexpr std::size_t most_messages_held = 4096;

// Tells whether the walk must end: the handle's abort flag or a confirmed Stop.
bool walk_aborted(export_handle_t *export_handle)
{
    return export_handle != nullptr && export_handle_check_abort(export_handle) != 0;
}

// The row identifier (the message's node identifier) of every row of the
// folder's contents table; a row whose identifier cannot be read holds none.
// The table clone is freed before this returns. Returns 1, 0 when the rows
// are not the messages counted, or -1 when the table cannot be read at all.
int read_row_identifiers(libpff_item_t *folder, int number_of_messages,
                         std::vector<std::optional<std::uint32_t>> *identifiers)
{
    item_holder table;
    {
        error_slot error;
        if (libpff_folder_get_sub_messages(folder, table.out(), error.get()) != 1 ||
            table.get() == nullptr) {
            table.take();
            return -1;
        }
    }
    int number_of_rows = 0;
    {
        error_slot error;
        if (libpff_item_get_number_of_record_sets(table.get(), &number_of_rows, error.get()) != 1) {
            return -1;
        }
        if (number_of_rows != number_of_messages) {
            return 0;
        }
    }
    identifiers->assign(static_cast<std::size_t>(number_of_rows), std::nullopt);
    for (int row = 0; row < number_of_rows; ++row) {
        error_slot error;
        libpff_record_set_t *set = nullptr;
        if (libpff_item_get_record_set_by_index(table.get(), row, &set, error.get()) != 1 ||
            set == nullptr) {
            continue;
        }
        libpff_record_entry_t *entry = nullptr;
        std::uint32_t identifier = 0;
        if (libpff_record_set_get_entry_by_type(set, tag_row_identifier, value_type_int32, &entry,
                                                0, error.get()) == 1 &&
            entry != nullptr &&
            libpff_record_entry_get_data_as_32bit_integer(entry, &identifier, error.get()) == 1) {
            (*identifiers)[static_cast<std::size_t>(row)] = identifier;
        }
        if (entry != nullptr) {
            libpff_record_entry_free(&entry, error.get());
        }
        libpff_record_set_free(&set, error.get());
    }
    return 1;
}

// The per-index loop: one lookup per row, each row one place of the walk,
// so a row not wanted is passed over unfetched.
int walk_by_index(export_handle_t *export_handle, libpff_item_t *folder, int first_index,
                  int number_of_messages, const walk_visit &visit,
                  const walk_unreadable &unreadable, const walk_wanted &wanted)
{
    for (int index = first_index; index < number_of_messages; ++index) {
        if (walk_aborted(export_handle)) {
            return 0;
        }
        if (wanted && !wanted(index)) {
            continue;
        }
        item_holder message;
        error_slot error;
        if (libpff_folder_get_sub_message(folder, index, message.out(), error.get()) != 1 ||
            message.get() == nullptr) {
            unreadable(index);
            continue;
        }
        if (visit(message.get(), index) != 1) {
            return 0;
        }
    }
    return 1;
}

// The folder's children in the node index whose identifier type is
// node_type, as (identifier, child position) in identifier order.
std::vector<std::pair<std::uint32_t, int>> children_of_type(libpff_item_t *folder,
                                                            std::uint32_t node_type)
{
    std::vector<std::pair<std::uint32_t, int>> found;
    int number_of_children = 0;
    {
        error_slot error;
        if (libpff_item_get_number_of_sub_items(folder, &number_of_children, error.get()) != 1) {
            return found;
        }
    }
    for (int child = 0; child < number_of_children; ++child) {
        item_holder item;
        error_slot error;
        std::uint32_t identifier = 0;
        if (libpff_item_get_sub_item(folder, child, item.out(), error.get()) != 1 ||
            item.get() == nullptr) {
            item.take();
            continue;
        }
        if (libpff_item_get_identifier(item.get(), &identifier, error.get()) == 1 &&
            (identifier & node_type_mask) == node_type) {
            found.emplace_back(identifier, child);
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const auto &a, const auto &b) { return a.first < b.first; });
    return found;
}

// What both walks check first: -1 when an argument is missing, else 1 with
// *from_node_index (when asked for) cleared.
int begin_walk(const libpff_item_t *folder, const walk_visit &visit,
               const walk_unreadable &unreadable, bool *from_node_index)
{
    if (folder == nullptr || !visit || !unreadable) {
        return -1;
    }
    if (from_node_index != nullptr) {
        *from_node_index = false;
    }
    return 1;
}

// Hands the child that fetch gets at position to visit, or the position to
// unreadable when it cannot be got. Returns 0 when Stop or visit ends the
// walk, 1 to go on.
template <typename Fetch>
int visit_child(export_handle_t *export_handle, int position, Fetch fetch, const walk_visit &visit,
                const walk_unreadable &unreadable)
{
    if (walk_aborted(export_handle)) {
        return 0;
    }
    item_holder item;
    error_slot error;
    if (fetch(position, item.out(), error.get()) != 1 || item.get() == nullptr) {
        item.take();
        unreadable(position);
        return 1;
    }
    return visit(item.get(), position) == 1 ? 1 : 0;
}

// Offers the children of the given node type, each by its child position.
int walk_children_of_type(export_handle_t *export_handle, libpff_item_t *folder,
                          std::uint32_t node_type, const walk_visit &visit,
                          const walk_unreadable &unreadable)
{
    auto fetch = [folder](int position, libpff_item_t **item, libpff_error_t **error) {
        return libpff_item_get_sub_item(folder, position, item, error);
    };
    for (const auto &[identifier, child] : children_of_type(folder, node_type)) {
        if (visit_child(export_handle, child, fetch, visit, unreadable) != 1) {
            return 0;
        }
    }
    return 1;
}

// The messages the child walk has met but not yet handed out.
class held_messages
{
public:
    explicit held_messages(std::size_t rows) : m_child(rows, -1), m_item(rows, nullptr) {}
    held_messages(const held_messages &) = delete;
    held_messages &operator=(const held_messages &) = delete;
    ~held_messages()
    {
        for (libpff_item_t *&item : m_item) {
            if (item != nullptr) {
                release_item(&item);
            }
        }
    }

    bool found(std::size_t row) const { return m_child[row] >= 0; }
    int child(std::size_t row) const { return m_child[row]; }
    void set_child(std::size_t row, int child) { m_child[row] = child; }

    // Keeps message open for row when there is room; otherwise frees it.
    void hold(std::size_t row, libpff_item_t *message)
    {
        if (m_open < most_messages_held && m_item[row] == nullptr) {
            m_item[row] = message;
            ++m_open;
        } else {
            release_item(&message);
        }
    }

    // Gives row's message to the caller (nullptr when it was not kept open).
    libpff_item_t *take(std::size_t row)
    {
        libpff_item_t *item = m_item[row];
        if (item != nullptr) {
            m_item[row] = nullptr;
            --m_open;
        }
        return item;
    }

private:
    // Position among the folder's children of each row's message, -1 until met.
    std::vector<int> m_child;
    // Each row's message when it was met before its turn and kept open.
    std::vector<libpff_item_t *> m_item;
    std::size_t m_open = 0;
};

// Identifier to the first row that names it; later rows with the same
// identifier (a damaged table) are found again through the same message,
// as the per-index lookup finds the first child with that identifier.
struct row_index
{
    std::unordered_map<std::uint32_t, std::size_t> first_row;
    // The next row naming the same identifier, or the row count.
    std::vector<std::size_t> next_same_row;
};

row_index index_rows(const std::vector<std::optional<std::uint32_t>> &identifiers)
{
    const std::size_t rows = identifiers.size();
    row_index index;
    index.next_same_row.assign(rows, rows);
    std::unordered_map<std::uint32_t, std::size_t> last_row;
    index.first_row.reserve(rows);
    last_row.reserve(rows);
    for (std::size_t row = 0; row < rows; ++row) {
        if (!identifiers[row]) {
            continue;
        }
        const auto [last, inserted] = last_row.try_emplace(*identifiers[row], row);
        if (inserted) {
            index.first_row.emplace(*identifiers[row], row);
        } else {
            index.next_same_row[last->second] = row;
            last->second = row;
        }
    }
    return index;
}

// One pass over the folder's children, each visited at its contents-table
// row: a child met before its row's turn is held until then. Returns as
// export_handle_walk_sub_messages.
int walk_rows_through_children(export_handle_t *export_handle, libpff_item_t *folder,
                               const std::vector<std::optional<std::uint32_t>> &identifiers,
                               int number_of_children, const walk_visit &visit,
                               const walk_unreadable &unreadable)
{
    const std::size_t rows = identifiers.size();
    const row_index by_identifier = index_rows(identifiers);
    const auto &first_row = by_identifier.first_row;
    const auto &next_same_row = by_identifier.next_same_row;
    held_messages held(rows);
    std::size_t next_row = 0;
    bool walk_done = false;

    // Hands out rows from next_row on while their turn has come: a row without
    // an identifier, or (once the walk is done) one whose message was never
    // met, is unreadable; a met one is visited. Returns 0 when visit ended it.
    auto hand_out = [&]() -> int {
        while (next_row < rows) {
            const std::size_t row = next_row;
            const int index = static_cast<int>(row);
            if (!identifiers[row]) {
                unreadable(index);
            } else if (held.found(row)) {
                if (walk_aborted(export_handle)) {
                    return 0;
                }
                item_holder message(held.take(row));
                if (message.get() == nullptr) {
                    error_slot fetch_error;
                    if (libpff_item_get_sub_item(folder, held.child(row), message.out(),
                                                 fetch_error.get()) != 1) {
                        message.take();
                    }
                }
                if (message.get() == nullptr) {
                    unreadable(index);
                } else if (visit(message.get(), index) != 1) {
                    ++next_row;
                    return 0;
                }
            } else if (walk_done) {
                unreadable(index);
            } else {
                return 1;
            }
            ++next_row;
        }
        return 1;
    };

    for (int child = 0; child < number_of_children; ++child) {
        if (walk_aborted(export_handle)) {
            return 0;
        }
        item_holder message;
        std::uint32_t identifier = 0;
        {
            error_slot child_error;
            if (libpff_item_get_sub_item(folder, child, message.out(), child_error.get()) != 1 ||
                message.get() == nullptr) {
                message.take();
                continue;
            }
            if (libpff_item_get_identifier(message.get(), &identifier, child_error.get()) != 1) {
                continue;
            }
        }
        const auto found = first_row.find(identifier);
        if (found == first_row.end() || held.found(found->second)) {
            // A sub-folder, a hidden message, or a second child with an
            // identifier already met.
            continue;
        }
        const std::size_t row = found->second;
        for (std::size_t same = row; same < rows; same = next_same_row[same]) {
            held.set_child(same, child);
        }
        if (row != next_row) {
            if (row > next_row) {
                held.hold(row, message.take());
            }
            continue;
        }
        ++next_row;
        const int visited = visit(message.get(), static_cast<int>(row));
        message.release();
        if (visited != 1 || hand_out() != 1) {
            return 0;
        }
    }
    walk_done = true;
    return hand_out() == 1 ? 1 : 0;
}

} // namespace

int export_handle_walk_sub_messages(export_handle_t *export_handle, libpff_item_t *folder,
                                    const walk_visit &visit, const walk_unreadable &unreadable,
                                    libpff_error_t **error)
{
    return export_handle_walk_sub_messages(export_handle, folder, visit, unreadable, nullptr,
                                           error);
}

int export_handle_walk_sub_messages(export_handle_t *export_handle, libpff_item_t *folder,
                                    const walk_visit &visit, const walk_unreadable &unreadable,
                                    bool *from_node_index, libpff_error_t **error)
{
    return export_handle_walk_sub_messages(export_handle, folder, visit, unreadable,
                                           from_node_index, walk_wanted(), error);
}

int export_handle_walk_sub_messages(export_handle_t *export_handle, libpff_item_t *folder,
                                    const walk_visit &visit_all,
                                    const walk_unreadable &unreadable_all, bool *from_node_index,
                                    const walk_wanted &wanted, libpff_error_t **error)
{
    (void)error;
    if (begin_walk(folder, visit_all, unreadable_all, from_node_index) != 1) {
        return -1;
    }
    // The walks that must fetch every element to know its place count the
    // places here; the per-index loop is handed the callers' own callbacks.
    int place = 0;
    const walk_visit visit = !wanted ? visit_all : [&](libpff_item_t *item, int index) {
        return wanted(place++) ? visit_all(item, index) : 1;
    };
    const walk_unreadable unreadable = !wanted ? unreadable_all : [&](int index) {
        if (wanted(place++)) {
            unreadable_all(index);
        }
    };
    // Without a readable contents table the messages are the folder's
    // message children in the node index, each known by its child position.
    auto walk_node_index = [&]() {
        if (from_node_index != nullptr) {
            *from_node_index = true;
        }
        return walk_children_of_type(export_handle, folder, node_type_message, visit, unreadable);
    };
    int number_of_messages = 0;
    {
        error_slot count_error;
        if (libpff_folder_get_number_of_sub_messages(folder, &number_of_messages,
                                                     count_error.get()) != 1 ||
            number_of_messages < 0) {
            return walk_node_index();
        }
    }
#if defined(KORVEL_BUNDLED_LIBPFF)
    // Our libpff finds the row after the last one found in one step, so the
    // per-index loop is linear and needs no copy of the table. Its rows and
    // failures are the child walk's; only a table whose rows all lack an
    // identifier is listed otherwise (from the node index), and that shows
    // at the first row.
    if (number_of_messages > 0) {
        item_holder first;
        error_slot first_error;
        if (libpff_folder_get_sub_message(folder, 0, first.out(), first_error.get()) == 1 &&
            first.get() != nullptr) {
            if (walk_aborted(export_handle)) {
                return 0;
            }
            if ((!wanted || wanted(0)) && visit_all(first.get(), 0) != 1) {
                return 0;
            }
            return walk_by_index(export_handle, folder, 1, number_of_messages, visit_all,
                                 unreadable_all, wanted);
        }
        first.take();
    }
#endif
    std::vector<std::optional<std::uint32_t>> identifiers;
    if (number_of_messages == 0) {
        // libpff counts no messages when the table's node is missing.
        return read_row_identifiers(folder, 0, &identifiers) == -1 ? walk_node_index() : 1;
    }
    const int table = read_row_identifiers(folder, number_of_messages, &identifiers);
    if (table == -1 || (table == 1 && std::none_of(identifiers.begin(), identifiers.end(),
                                                   [](const auto &identifier) {
                                                       return identifier.has_value();
                                                   }))) {
        return walk_node_index();
    }
    int number_of_children = 0;
    {
        error_slot children_error;
        if (table != 1 || libpff_item_get_number_of_sub_items(folder, &number_of_children,
                                                              children_error.get()) != 1) {
            return walk_by_index(export_handle, folder, 0, number_of_messages, visit_all,
                                 unreadable_all, wanted);
        }
    }

    return walk_rows_through_children(export_handle, folder, identifiers, number_of_children, visit,
                                      unreadable);
}

} // namespace korvel

namespace korvel {

int export_handle_walk_sub_folders(export_handle_t *export_handle, libpff_item_t *folder,
                                   const walk_visit &visit, const walk_unreadable &unreadable,
                                   bool *from_node_index, libpff_error_t **error)
{
    (void)error;
    if (begin_walk(folder, visit, unreadable, from_node_index) != 1) {
        return -1;
    }
    int number_of_sub_folders = 0;
    {
        error_slot count_error;
        if (libpff_folder_get_number_of_sub_folders(folder, &number_of_sub_folders,
                                                    count_error.get()) != 1 ||
            number_of_sub_folders < 0) {
            if (from_node_index != nullptr) {
                *from_node_index = true;
            }
            return walk_children_of_type(export_handle, folder, node_type_folder, visit,
                                         unreadable);
        }
    }
    auto fetch = [folder](int index, libpff_item_t **sub_folder, libpff_error_t **fetch_error) {
        return libpff_folder_get_sub_folder(folder, index, sub_folder, fetch_error);
    };
    for (int index = 0; index < number_of_sub_folders; ++index) {
        if (visit_child(export_handle, index, fetch, visit, unreadable) != 1) {
            return 0;
        }
    }
    return 1;
}

int export_handle_fetch_listed_message(libpff_item_t *folder, int index, libpff_item_t **item,
                                       libpff_error_t **error)
{
    if (folder == nullptr || item == nullptr || index < 0) {
        return -1;
    }
    if (libpff_folder_get_sub_message(folder, index, item, error) == 1 && *item != nullptr) {
        return 1;
    }
    *item = nullptr;
    // The walk lists from the node index exactly when the table lookup fails.
    if (error != nullptr) {
        libpff_error_free(error);
    }
    item_holder child;
    std::uint32_t identifier = 0;
    if (libpff_item_get_sub_item(folder, index, child.out(), error) != 1 ||
        child.get() == nullptr) {
        child.take();
        return -1;
    }
    if (libpff_item_get_identifier(child.get(), &identifier, error) != 1 ||
        (identifier & node_type_mask) != node_type_message) {
        return -1;
    }
    *item = child.take();
    return 1;
}

} // namespace korvel
