#include "app/DialogViews.h"

#include <QMessageBox>
#include <QProgressBar>
#include <QThread>

#include "app/CFolderTreeCtrl1.h"
#include "app/ItemListModel.h"
#include "app/LoadIDialog.h"

namespace korvel {

namespace {

QString toQString(const std::u16string &text)
{
    return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

DialogViews::DialogViews(CFolderTreeCtrl1 &tree, ItemListModel &list, QProgressBar &progress)
    : m_tree(tree), m_list(list), m_progress(progress)
{
    m_drain_timer.setSingleShot(true);
    m_drain_timer.setInterval(15);
    connect(&m_drain_timer, &QTimer::timeout, this, &DialogViews::Drain);
}

DialogViews::~DialogViews() = default;

bool DialogViews::OnWindowThread() const
{
    return QThread::currentThread() == thread();
}

void DialogViews::RequestDrain()
{
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (!m_drain_timer.isActive()) {
                m_drain_timer.start();
            }
        },
        Qt::QueuedConnection);
}

void DialogViews::AfterPush(bool was_empty)
{
    // On the window thread the call takes effect at once; a worker's call
    // waits for the next batch.
    if (OnWindowThread()) {
        Drain();
    } else if (was_empty) {
        RequestDrain();
    }
}

void DialogViews::Post(ViewOp op)
{
    AfterPush(m_queue.push(std::move(op)));
}

template <typename Function> void DialogViews::RunOnWindowThread(Function &&function)
{
    if (OnWindowThread()) {
        Drain();
        function();
        return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, &function] {
            Drain();
            function();
        },
        Qt::BlockingQueuedConnection);
}

void DialogViews::Drain()
{
    std::vector<ViewOp> ops = m_queue.take();
    if (ops.empty()) {
        return;
    }
    // Consecutive rows go into the model in one insert, and the progress bar
    // (which repaints on every change) gets only the batch's last position.
    std::vector<ItemListModel::Row> rows;
    int progress = -1;
    // Browse empties the views: it comes after the batch.
    bool browse = false;
    const auto flush_rows = [&] {
        if (!rows.empty()) {
            m_list.insertAtTop(std::move(rows));
            rows.clear();
        }
    };
    for (ViewOp &op : ops) {
        switch (op.kind) {
        case ViewOp::Kind::tree_insert: {
            QTreeWidgetItem *parent = nullptr;
            if (op.parent != 0) {
                parent = m_tree.ItemFromHandle(op.parent);
                if (parent == nullptr) {
                    break;
                }
            }
            m_tree.InsertFolderItem(parent, op.text, op.id, op.flag);
            break;
        }
        case ViewOp::Kind::tree_text:
            if (QTreeWidgetItem *item = m_tree.ItemFromHandle(op.id)) {
                item->setText(0, op.text);
            }
            break;
        case ViewOp::Kind::tree_bold:
            if (QTreeWidgetItem *item = m_tree.ItemFromHandle(op.id)) {
                CFolderTreeCtrl1::SetBold(item, true);
            }
            break;
        case ViewOp::Kind::tree_enable:
            m_tree.setEnabled(op.flag);
            break;
        case ViewOp::Kind::list_clear:
            rows.clear();
            m_list.deleteAllRows();
            break;
        case ViewOp::Kind::list_row:
            rows.push_back(std::move(op.cells));
            break;
        case ViewOp::Kind::list_cell:
            flush_rows();
            m_list.setCell(op.row, op.column, op.text);
            break;
        case ViewOp::Kind::list_rename:
            m_list.renameColumn(op.column, op.text);
            break;
        case ViewOp::Kind::progress:
            progress = op.row;
            break;
        case ViewOp::Kind::command_enable:
            emit commandEnabled(op.command, op.flag);
            break;
        case ViewOp::Kind::browse:
            browse = true;
            break;
        }
    }
    flush_rows();
    if (progress >= 0) {
        m_progress.setValue(progress);
    }
    if (browse) {
        emit browseRequested();
    }
}

void DialogViews::Clear()
{
    Drain();
    m_tree.DeleteAllItems();
    m_root_item = 0;
    m_list.deleteAllRows();
}

tree_item DialogViews::ShowMailboxRoot(const QString &path)
{
    const tree_item root = NewTreeItem();
    m_tree.InsertFolderItem(nullptr, path, root);
    m_root_item = root;
    return root;
}

void DialogViews::ResetProgress()
{
    m_progress.setValue(0);
    m_progress.setFormat(QStringLiteral("%p%"));
    m_progress.setTextVisible(false);
}

void DialogViews::ShowSearchingFreeSpace()
{
    m_progress.setFormat(QStringLiteral("Searching free space for deleted items"));
    m_progress.setTextVisible(true);
}

tree_item DialogViews::tree_root_item()
{
    return m_root_item;
}

tree_item DialogViews::tree_insert_item(tree_item parent, const std::u16string &text)
{
    return InsertTreeItem(parent, text, false);
}

tree_item DialogViews::tree_insert_recovered_item(tree_item parent, const std::u16string &text)
{
    return InsertTreeItem(parent, text, true);
}

tree_item DialogViews::InsertTreeItem(tree_item parent, const std::u16string &text, bool recovered)
{
    ViewOp op{ViewOp::Kind::tree_insert};
    op.id = NewTreeItem();
    op.parent = parent;
    op.flag = recovered;
    op.text = toQString(text);
    const tree_item item = op.id;
    Post(std::move(op));
    return item;
}

void DialogViews::tree_set_text(tree_item item, const std::u16string &text)
{
    ViewOp op{ViewOp::Kind::tree_text};
    op.id = item;
    op.text = toQString(text);
    Post(std::move(op));
}

void DialogViews::tree_set_bold(tree_item item)
{
    ViewOp op{ViewOp::Kind::tree_bold};
    op.id = item;
    Post(std::move(op));
}

void DialogViews::tree_set_enabled(bool enabled)
{
    ViewOp op{ViewOp::Kind::tree_enable};
    op.flag = enabled;
    Post(std::move(op));
}

void DialogViews::list_delete_all_rows()
{
    Post(ViewOp(ViewOp::Kind::list_clear));
}

int DialogViews::list_insert_row(const std::u16string &column0)
{
    ViewOp op{ViewOp::Kind::list_row};
    op.cells[0] = toQString(column0);
    Post(std::move(op));
    return 0;
}

void DialogViews::list_set_cell(int row, int column, const std::u16string *text)
{
    AfterPush(m_queue.pushCell(row, column, text ? toQString(*text) : QString()));
}

void DialogViews::list_rename_column(int column, const std::u16string &title)
{
    ViewOp op{ViewOp::Kind::list_rename};
    op.column = column;
    op.text = toQString(title);
    Post(std::move(op));
}

void DialogViews::progress_set(int position)
{
    AfterPush(m_queue.pushProgress(position));
}

void DialogViews::command_set_enabled(view_command command, bool enabled)
{
    ViewOp op{ViewOp::Kind::command_enable};
    op.command = command;
    op.flag = enabled;
    Post(std::move(op));
}

void DialogViews::message_box(message_icon icon, const std::u16string &caption,
                              const std::u16string &text)
{
    const QMessageBox::Icon box_icon =
        icon == message_icon::error ? QMessageBox::Critical : QMessageBox::Information;
    const QString box_caption = toQString(caption);
    const QString box_text = toQString(text);
    RunOnWindowThread([&] { emit messageBox(box_icon, box_caption, box_text); });
}

void DialogViews::wait_dialog_show()
{
    RunOnWindowThread([this] {
        m_wait_dialog = std::make_unique<LoadIDialog>();
        m_wait_dialog->ShowNow();
    });
}

void DialogViews::wait_dialog_close()
{
    RunOnWindowThread([this] { m_wait_dialog.reset(); });
}

void DialogViews::run_browse()
{
    // In order with the calls before it.
    Post(ViewOp(ViewOp::Kind::browse));
}

void DialogViews::memory_exhausted(const std::u16string &caption, const std::u16string &text)
{
    const QString box_caption = toQString(caption);
    const QString box_text = toQString(text);
    RunOnWindowThread([&] { emit memoryExhausted(box_caption, box_text); });
}

} // namespace korvel
