// The engine's view of the main dialog: the workers reach the controls only
// through the scan_views calls (each one apply() below), which hand their
// work to the window thread (in order, batched where a folder's rows would
// otherwise cost a round trip each). The tree, the list and the progress bar
// are filled here; the rest (command states, boxes, Browse) leaves as
// signals, on the window thread, for the mailbox controller to pass on.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <memory>

#include "app/ViewQueue.h"
#include "scan/view_calls.h"

class QProgressBar;

namespace korvel {

class CFolderTreeCtrl1;
class ItemListModel;
class LoadIDialog;

class DialogViews : public QObject, public view_call_views
{
    Q_OBJECT

public:
    // Lives on the window thread, as do the views it fills.
    DialogViews(CFolderTreeCtrl1 &tree, ItemListModel &list, QProgressBar &progress);
    ~DialogViews() override;
    DialogViews(const DialogViews &) = delete;
    DialogViews &operator=(const DialogViews &) = delete;

    // Window thread.
    // Applies what the workers have queued so far.
    void Drain();
    // A new tree item handle (any thread: a worker gets its handle without
    // waiting for the window thread).
    tree_item NewTreeItem() { return m_next_tree_item++; }
    // Empties the tree and the list (what is queued goes first).
    void Clear();
    // The root item for a newly chosen file, in the emptied tree.
    tree_item ShowMailboxRoot(const QString &path);
    // The progress bar as a save leaves it, and as its search of the free
    // space shows it.
    void ResetProgress();
    void ShowSearchingFreeSpace();
    LoadIDialog *WaitDialog() const { return m_wait_dialog.get(); }

signals:
    void commandEnabled(korvel::view_command command, bool enabled);
    // The engine asked for Browse (after the scan's failure message).
    void browseRequested();
    void messageBox(QMessageBox::Icon icon, const QString &caption, const QString &text);
    // The box has to be shown and the process ended.
    void memoryExhausted(const QString &caption, const QString &text);

protected:
    // Any thread.
    tree_item apply(const view_call &call) override;

private:
    bool OnWindowThread() const;
    void AfterPush(bool was_empty);
    // Queues op and sees it applied (at once on the window thread).
    void Post(ViewOp op);
    void RequestDrain();
    template <typename Function> void RunOnWindowThread(Function &&function);
    // The calls that reach the views in order with the rest of the batch.
    tree_item Queue(const view_call &call);

    CFolderTreeCtrl1 &m_tree;
    ItemListModel &m_list;
    QProgressBar &m_progress;
    // Worker calls waiting for the window thread.
    ViewQueue m_queue;
    // Starts a drain shortly after the first queued call, so rows arrive in
    // batches.
    QTimer m_drain_timer;
    std::unique_ptr<LoadIDialog> m_wait_dialog;
    // Read by the scan worker.
    std::atomic<tree_item> m_root_item{0};
    std::atomic<tree_item> m_next_tree_item{1};
};

} // namespace korvel
