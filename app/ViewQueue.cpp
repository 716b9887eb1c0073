#include "app/ViewQueue.h"

namespace korvel {

bool ViewQueue::push(ViewOp &&op)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    const bool was_empty = m_ops.empty();
    if (op.kind == ViewOp::Kind::list_row) {
        ++m_trailing_rows;
    } else {
        m_trailing_rows = 0;
    }
    m_ops.push_back(std::move(op));
    return was_empty;
}

bool ViewQueue::pushCell(int row, int column, const QString &text)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    const bool was_empty = m_ops.empty();
    if (row >= 0 && static_cast<std::size_t>(row) < m_trailing_rows && column >= 0 &&
        column < ItemListModel::column_count) {
        // Display row r of the pending tail is the r-th operation from the end.
        ViewOp &op = m_ops[m_ops.size() - 1 - static_cast<std::size_t>(row)];
        op.cells[static_cast<std::size_t>(column)] = text;
        return was_empty;
    }
    ViewOp op{ViewOp::Kind::list_cell};
    op.row = row;
    op.column = column;
    op.text = text;
    m_trailing_rows = 0;
    m_ops.push_back(std::move(op));
    return was_empty;
}

bool ViewQueue::pushProgress(int position)
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    const bool was_empty = m_ops.empty();
    if (!m_ops.empty() && m_ops.back().kind == ViewOp::Kind::progress) {
        m_ops.back().row = position;
        return was_empty;
    }
    ViewOp op{ViewOp::Kind::progress};
    op.row = position;
    m_trailing_rows = 0;
    m_ops.push_back(std::move(op));
    return was_empty;
}

std::vector<ViewOp> ViewQueue::take()
{
    std::vector<ViewOp> ops;
    const std::lock_guard<std::mutex> lock(m_mutex);
    ops.swap(m_ops);
    m_trailing_rows = 0;
    return ops;
}

bool ViewQueue::empty()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_ops.empty();
}

} // namespace korvel
