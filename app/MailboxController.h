// The open mailbox under the main dialog: its scan session, the one worker
// that reads it (a scan, a folder fill or a save, one at a time), the
// commands put off while that worker runs, Stop and the end of the window.
// The dialog asks it whether a command may run now and hears back through
// signals; the engine's view calls reach the window through it too.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QString>
#include <memory>
#include <thread>

#include "convert/save/save.h"
#include "scan/scan_state.h"
#include "scan/views.h"

class QProgressBar;

namespace korvel {

class CFolderTreeCtrl1;
class DialogViews;
class ItemListModel;
class LoadIDialog;
struct preview_outcome;

class MailboxController : public QObject
{
    Q_OBJECT

public:
    // Which job holds the mailbox, and how far its Stop has got. Nothing
    // else steers the worker.
    enum class State
    {
        idle,          // no worker: a command runs at once
        scanning,      // the scan walks the mailbox into the views
        scan_stopping, // Stop answered Yes: the walk ends at its next check
        filling,       // a folder fill lists one folder
        fill_stopping, // Stop answered Yes during the free-space search
        saving,        // the save writes its target
        save_stopping, // Stop (or Exit) ended the save: it removes its output
        shutting_down, // the window goes away: the worker ends, nothing starts
    };

    // What happens to the state: the one input of Next.
    enum class Event
    {
        scan_started,
        fill_started,
        save_started,
        stop_confirmed,
        worker_ended,
        shut_down,
    };

    // The commands the user gives that need the mailbox.
    enum class Command
    {
        browse,
        scan,
        save,
        fill,
        preview,
    };

    // What Stop does now.
    enum class StopStep
    {
        ask,           // the question comes; AnswerStop takes its answer
        enable_browse, // nothing to stop: Stop only gives Browse back
        nothing,       // the save is ending already
    };

    // The state after event; the whole state table.
    static State Next(State state, Event event);

    // The views the engine fills are the dialog's tree, list and progress bar.
    MailboxController(CFolderTreeCtrl1 &tree, ItemListModel &list, QProgressBar &progress);
    ~MailboxController() override;
    MailboxController(const MailboxController &) = delete;
    MailboxController &operator=(const MailboxController &) = delete;

    State CurrentState() const { return m_state; }
    // The session itself, for reading what the scan found (and for tests'
    // hold on the walk).
    scan_state &Mailbox() { return m_mailbox; }
    scan_views &Views();
    LoadIDialog *WaitDialog() const;
    bool ScanRunning() const;
    bool FillRunning() const;
    bool SaveRunning() const;
    bool WorkerRunning() const { return m_worker.joinable(); }
    // Applies what the worker has queued for the views so far.
    void DrainViews();

    // True when command may run now. Otherwise it is ignored, or put off
    // until the worker ends (commandReady then asks for it again).
    bool Admit(Command command);

    // Browse's file: the views and the stores emptied, the path taken and
    // shown as the tree's root item.
    void TakeMailbox(const QString &path);
    // Private temporary files of the previews (attachments), if any.
    static void RemoveWorkingDirectory();

    // The jobs; each only after Admit said yes.
    void StartScan();
    void StartFill(tree_item item);
    void StartSave(convert::save_request request);
    // The selected item's page, unless a worker holds the mailbox.
    bool PreviewItem(const std::u16string &id, const std::u16string &kind,
                     preview_outcome &outcome);

    // Stop: BeginStop holds the walk still while the question is open;
    // AnswerStop lets it go. AnswerStop returns true when Browse comes back.
    StopStep BeginStop();
    bool AnswerStop(bool yes);
    // Exit during a save: the save is ended first and waited for, so its
    // temporary output goes with it.
    void EndSave();
    // The window goes away: the worker ends at its next check and is waited
    // for (serving its calls meanwhile); nothing starts after.
    void ShutDown();

signals:
    // A command put off while the worker ran has its turn now.
    void commandReady(korvel::MailboxController::Command command);
    // A stopped scan has ended: the mailbox is closed and the views are empty.
    void stopCleanedUp();
    // The save has ended (the report is what the save saw).
    void saveEnded(int result, const korvel::convert::save_report &report, const QString &target);
    // The engine's view calls that reach past the tree, list and progress bar.
    void commandEnabled(korvel::view_command command, bool enabled);
    void messageBox(QMessageBox::Icon icon, const QString &caption, const QString &text);
    void memoryExhausted(const QString &caption, const QString &text);

private:
    // Bits of m_deferred, run in this order when the worker has ended.
    enum Deferred : unsigned
    {
        deferred_clean_up = 1u << 0,    // a stopped scan's clean-up (a fill held the stores)
        deferred_scan_browse = 1u << 1, // the scan asked for Browse after a failure
        deferred_save = 1u << 2,
        deferred_browse = 1u << 3,
        deferred_scan = 1u << 4,
    };

    void Apply(Event event);
    template <typename Job> void RunWorker(Job job);
    void WorkerEnded();
    void RunDeferredCommands();
    void StopCleanUp();
    void EngineAskedForBrowse();
    void WaitForWorker();

    scan_state m_mailbox;
    std::unique_ptr<DialogViews> m_views;
    State m_state = State::idle;
    // What the open Stop question is about.
    State m_asked_about = State::idle;
    unsigned m_deferred = 0;
    std::thread m_worker;
    // The running save's target, and its outcome (written by the worker,
    // read after it has been joined).
    QString m_save_target;
    int m_save_result = 0;
    convert::save_report m_save_report;
};

} // namespace korvel
