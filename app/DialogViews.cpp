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
        // Answered or run at once, never queued.
        case ViewOp::Kind::tree_root:
        case ViewOp::Kind::message:
        case ViewOp::Kind::wait_show:
        case ViewOp::Kind::wait_close:
        case ViewOp::Kind::memory_exhausted:
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

tree_item DialogViews::apply(const view_call &call)
{
    switch (call.what) {
    case view_call::kind::tree_root:
        return m_root_item;
    case view_call::kind::list_cell:
        AfterPush(m_queue.pushCell(call.row, call.column,
                                   call.text ? toQString(*call.text) : QString()));
        return 0;
    case view_call::kind::progress:
        AfterPush(m_queue.pushProgress(call.position));
        return 0;
    case view_call::kind::message: {
        const QMessageBox::Icon box_icon =
            call.icon == message_icon::error ? QMessageBox::Critical : QMessageBox::Information;
        const QString box_caption = toQString(*call.caption);
        const QString box_text = toQString(*call.text);
        RunOnWindowThread([&] { emit messageBox(box_icon, box_caption, box_text); });
        return 0;
    }
    case view_call::kind::wait_show:
        RunOnWindowThread([this] {
            m_wait_dialog = std::make_unique<LoadIDialog>();
            m_wait_dialog->ShowNow();
        });
        return 0;
    case view_call::kind::wait_close:
        RunOnWindowThread([this] { m_wait_dialog.reset(); });
        return 0;
    case view_call::kind::memory_exhausted: {
        const QString box_caption = toQString(*call.caption);
        const QString box_text = toQString(*call.text);
        RunOnWindowThread([&] { emit memoryExhausted(box_caption, box_text); });
        return 0;
    }
    case view_call::kind::tree_insert:
    case view_call::kind::tree_text:
    case view_call::kind::tree_bold:
    case view_call::kind::tree_enable:
    case view_call::kind::list_clear:
    case view_call::kind::list_row:
    case view_call::kind::list_rename:
    case view_call::kind::command_enable:
    // Browse, too, in order with the calls before it.
    case view_call::kind::browse:
        return Queue(call);
    }
    return 0;
}

tree_item DialogViews::Queue(const view_call &call)
{
    ViewOp op{call.what};
    // A worker gets its new item's handle without waiting for the window
    // thread.
    op.id = call.what == view_call::kind::tree_insert ? NewTreeItem() : call.item;
    op.parent = call.parent;
    op.column = call.column;
    op.flag = call.flag;
    op.command = call.command;
    if (call.text != nullptr) {
        op.text = toQString(*call.text);
    }
    if (call.what == view_call::kind::list_row) {
        op.cells[0] = op.text;
    }
    const tree_item item = op.id;
    Post(std::move(op));
    return item;
}

} // namespace korvel
