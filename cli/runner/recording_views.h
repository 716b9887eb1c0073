// A scan_views that records what the window would show: the message boxes,
// the tree, the list rows and column titles, the progress positions and the
// command states. Used by the engine tests, korvel-probe and korvel-pst.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "scan/view_calls.h"

namespace korvel::runner {

struct recorded_message
{
    message_icon icon;
    std::u16string caption;
    std::u16string text;
};

// The image the folder tree gives the "Recovered Items" node and its children
// (after its seventeen folder images).
inline constexpr int recovered_tree_image = 17;

struct recorded_tree_item
{
    tree_item handle;
    tree_item parent;
    int level; // 0 for the root item
    int image; // as the folder tree chooses it
    bool bold;
    std::u16string text;
};

struct recorded_row
{
    // Columns 0 to 9; nullopt is a blank cell.
    std::optional<std::u16string> cells[10];
};

// The list's rows. The views are told each new row goes to the top; the rows
// are kept in the order told (appending costs the same at any length) and
// read top to bottom, as the list shows them.
class recorded_rows
{
public:
    using const_iterator = std::vector<recorded_row>::const_reverse_iterator;

    std::size_t size() const { return m_told.size(); }
    bool empty() const { return m_told.empty(); }
    // Row n from the top.
    const recorded_row &operator[](std::size_t n) const { return m_told[m_told.size() - 1 - n]; }
    recorded_row &operator[](std::size_t n) { return m_told[m_told.size() - 1 - n]; }
    const_iterator begin() const { return m_told.crbegin(); }
    const_iterator end() const { return m_told.crend(); }
    // The rows in the order they were told (the bottom row first).
    const std::vector<recorded_row> &told() const { return m_told; }

    void push_top(recorded_row row) { m_told.push_back(std::move(row)); }
    void clear() { m_told.clear(); }

private:
    std::vector<recorded_row> m_told;
};

class recording_views : public view_call_views
{
public:
    recording_views();

    // Inserts the root item as Browse would.
    tree_item insert_root(const std::u16string &text);


    // The tree item whose path below the root ("A/B/C") matches, or 0.
    tree_item find_path(const std::u16string &path) const;
    const recorded_tree_item *find_item(tree_item handle) const;

    std::vector<recorded_message> messages;
    // In insert order; element 0 is the root item once inserted.
    std::vector<recorded_tree_item> tree;
    // Top to bottom, as the list shows them.
    recorded_rows rows;
    std::u16string column_titles[10];
    std::vector<int> progress;
    // Told every progress position as it is set (korvel-pst's progress bar).
    std::function<void(int)> on_progress;
    std::map<view_command, bool> commands;
    bool tree_enabled = true;
    bool wait_dialog_open = false;
    int wait_dialog_shows = 0;
    // The wait dialog was open when a message box appeared.
    bool message_during_wait = false;
    int browse_runs = 0;
    int memory_exhaustions = 0;

protected:
    tree_item apply(const view_call &call) override;

private:
    tree_item insert_item(tree_item parent, const std::u16string &text, bool recovered);
    void set_cell(int row, int column, const std::u16string *text);
    recorded_tree_item *edit_item(tree_item handle);

    tree_item m_root = 0;
    tree_item m_next_handle = 1;
};

// UTF-16 to UTF-8 for readable assertions.
std::string narrow(const std::u16string &text);

} // namespace korvel::runner
