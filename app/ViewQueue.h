// The view operations that workers hand to the window thread, kept in the
// order they were made. Workers push from any thread; the window thread takes
// the whole batch at once and applies it. A row and the cells set on it right
// after its insert travel as one operation, and consecutive progress
// positions collapse into the last one, so a large folder costs a few
// batches, not one window round trip per row.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "app/ItemListModel.h"
#include "scan/view_calls.h"

namespace korvel {

struct ViewOp
{
    // A queued scan_views call, its fields as view_call names them, but for
    // the new item in tree_insert's id, a row's cells (list_row) and the
    // position in row (progress).
    using Kind = view_call::kind;

    explicit ViewOp(Kind op_kind) : kind(op_kind) {}

    Kind kind;
    // Tree item ids (tree_insert, tree_text, tree_bold).
    std::uintptr_t id = 0;
    std::uintptr_t parent = 0;
    int row = 0;
    int column = 0;
    bool flag = false;
    view_command command = view_command::scan;
    QString text;
    ItemListModel::Row cells;
};

class ViewQueue
{
public:
    // Appends an operation. Returns true when the queue was empty, so the
    // caller knows a drain has to be asked for.
    bool push(ViewOp &&op);
    // Sets a cell, in place when it belongs to a row still in the queue.
    bool pushCell(int row, int column, const QString &text);
    // A progress position; replaces a position pushed just before.
    bool pushProgress(int position);
    // Everything pushed so far, in order; the queue is empty afterwards.
    std::vector<ViewOp> take();
    bool empty();

private:
    std::mutex m_mutex;
    std::vector<ViewOp> m_ops;
    // How many list_row operations end the queue (display rows 0 .. n-1 of
    // what is pending).
    std::size_t m_trailing_rows = 0;
};

} // namespace korvel
