#include "app/MailboxController.h"

#include <QCoreApplication>
#include <mutex>
#include <optional>

#include "app/DialogViews.h"
#include "preview/preview_builder.h"
#include "scan/files.h"

namespace korvel {

namespace {

using State = MailboxController::State;
using Event = MailboxController::Event;

struct Transition
{
    // Empty: from every state.
    std::optional<State> from;
    Event event;
    State to;
};

// Read top to bottom; the first row that matches decides. A pair no row
// names leaves the state as it is.
constexpr Transition transitions[] = {
    // The window is going away: whatever runs is ended, and from here on no
    // job starts and no ended job hands the mailbox back.
    {std::nullopt, Event::shut_down, State::shutting_down},
    {State::shutting_down, Event::scan_started, State::shutting_down},
    {State::shutting_down, Event::fill_started, State::shutting_down},
    {State::shutting_down, Event::save_started, State::shutting_down},
    {State::shutting_down, Event::stop_confirmed, State::shutting_down},
    {State::shutting_down, Event::worker_ended, State::shutting_down},
    // A job starts only on a mailbox nobody reads: the callers asked Admit.
    {State::idle, Event::scan_started, State::scanning},
    {State::idle, Event::fill_started, State::filling},
    {State::idle, Event::save_started, State::saving},
    // Yes to the scan's Stop: the walk ends at its next abort check, silently;
    // the window empties once it has.
    {State::scanning, Event::stop_confirmed, State::scan_stopping},
    // Yes during a fill's search of the free space ends only that search:
    // the folder's own items stay listed. A second Yes changes nothing.
    {State::filling, Event::stop_confirmed, State::fill_stopping},
    {State::fill_stopping, Event::stop_confirmed, State::fill_stopping},
    // Yes to the save's Stop (or Exit during a save): the save removes what
    // it wrote so far.
    {State::saving, Event::stop_confirmed, State::save_stopping},
    // Every job hands the mailbox back when its worker has been joined; the
    // put-off commands run from there.
    {State::scanning, Event::worker_ended, State::idle},
    {State::scan_stopping, Event::worker_ended, State::idle},
    {State::filling, Event::worker_ended, State::idle},
    {State::fill_stopping, Event::worker_ended, State::idle},
    {State::saving, Event::worker_ended, State::idle},
    {State::save_stopping, Event::worker_ended, State::idle},
};

} // namespace

MailboxController::State MailboxController::Next(State state, Event event)
{
    for (const Transition &row : transitions) {
        if (row.event == event && (!row.from || *row.from == state)) {
            return row.to;
        }
    }
    return state;
}

MailboxController::MailboxController(CFolderTreeCtrl1 &tree, ItemListModel &list,
                                     QProgressBar &progress)
    : m_views(std::make_unique<DialogViews>(tree, list, progress))
{
    m_mailbox.views = m_views.get();
    connect(m_views.get(), &DialogViews::commandEnabled, this, &MailboxController::commandEnabled);
    connect(m_views.get(), &DialogViews::browseRequested, this,
            &MailboxController::EngineAskedForBrowse);
    connect(m_views.get(), &DialogViews::messageBox, this,
            [this](QMessageBox::Icon icon, const QString &caption, const QString &text) {
                // A scan ended by the window's end tells nobody.
                if (m_state != State::shutting_down) {
                    emit messageBox(icon, caption, text);
                }
            });
    connect(m_views.get(), &DialogViews::memoryExhausted, this,
            &MailboxController::memoryExhausted);
}

MailboxController::~MailboxController()
{
    ShutDown();
}

scan_views &MailboxController::Views()
{
    return *m_views;
}

LoadIDialog *MailboxController::WaitDialog() const
{
    return m_views->WaitDialog();
}

bool MailboxController::ScanRunning() const
{
    return m_state == State::scanning || m_state == State::scan_stopping;
}

bool MailboxController::FillRunning() const
{
    return m_state == State::filling || m_state == State::fill_stopping;
}

bool MailboxController::SaveRunning() const
{
    return m_state == State::saving || m_state == State::save_stopping;
}

void MailboxController::DrainViews()
{
    m_views->Drain();
}

void MailboxController::Apply(Event event)
{
    m_state = Next(m_state, event);
}

bool MailboxController::Admit(Command command)
{
    const bool idle = m_state == State::idle;
    const bool filling = FillRunning();
    switch (command) {
    case Command::browse:
        // The stores are in use: Browse runs when the worker has ended (once,
        // however often it was asked for).
        if (idle) {
            m_deferred &= ~(deferred_browse | deferred_scan_browse);
        } else if (m_state != State::shutting_down) {
            m_deferred |= deferred_browse;
        }
        return idle;
    case Command::scan:
        // A second Scan during a scan means nothing; after a fill or a save
        // it scans again.
        if (idle) {
            m_deferred &= ~deferred_scan;
        } else if (filling || SaveRunning()) {
            m_deferred |= deferred_scan;
        }
        return idle;
    case Command::save:
        // A save during a scan would write half a mailbox, and one save at a
        // time; after a fill the dialog opens.
        if (idle) {
            m_deferred &= ~deferred_save;
        } else if (filling) {
            m_deferred |= deferred_save;
        }
        return idle;
    case Command::fill:
    case Command::preview:
        // One reader of the mailbox at a time; the click is not worth waiting
        // for (the window thread never waits for a worker that may be waiting
        // for it).
        return idle;
    }
    return false;
}

void MailboxController::RemoveWorkingDirectory()
{
    // Without a private temporary directory there is no working directory to
    // remove (and a bare "Attachments" would name one in the current directory).
    if (temporary_directory().empty()) {
        return;
    }
    remove_directory(working_directory());
}

void MailboxController::TakeMailbox(const QString &path)
{
    RemoveWorkingDirectory();
    m_views->Clear();
    scan_state_clear_stores(&m_mailbox);
    m_mailbox.mailbox_path = path.toStdU16String();
    m_views->ShowMailboxRoot(path);
}

template <typename Job> void MailboxController::RunWorker(Job job)
{
    m_worker = std::thread([this, job = std::move(job)]() mutable {
        job();
        QMetaObject::invokeMethod(
            this, [this] { WorkerEnded(); }, Qt::QueuedConnection);
    });
}

void MailboxController::StartScan()
{
    // The records point into the folders' items: both stores go together.
    scan_state_clear_stores(&m_mailbox);
    m_mailbox.stop_requested = false;
    m_deferred &= ~(deferred_clean_up | deferred_scan_browse);
    Apply(Event::scan_started);
    RunWorker([this] { scan_driver_run(&m_mailbox); });
}

void MailboxController::StartFill(tree_item item)
{
    Apply(Event::fill_started);
    RunWorker([this, item] { folder_fill(&m_mailbox, item); });
}

void MailboxController::StartSave(convert::save_request request)
{
    DialogViews *views = m_views.get();
    request.searching_free_space = [views] {
        QMetaObject::invokeMethod(
            views, [views] { views->ShowSearchingFreeSpace(); }, Qt::QueuedConnection);
    };
    m_mailbox.stop_requested = false;
    m_save_target = QString::fromStdString(request.target);
    Apply(Event::save_started);
    RunWorker([this, views, request = std::move(request)] {
        m_save_result = convert::save_mailbox(
            &m_mailbox, request, [views](int percent) { views->progress_set(percent); },
            m_save_report);
    });
}

bool MailboxController::PreviewItem(const std::u16string &id, const std::u16string &kind,
                                    preview_outcome &outcome)
{
    if (!Admit(Command::preview)) {
        return false;
    }
    std::unique_lock<std::recursive_mutex> mailbox(m_mailbox.mailbox_mutex, std::try_to_lock);
    if (!mailbox.owns_lock()) {
        return false;
    }
    preview_selected_item(&m_mailbox, id, kind, outcome);
    return true;
}

void MailboxController::WorkerEnded()
{
    DrainViews();
    if (m_worker.joinable()) {
        m_worker.join();
    }
    const State ended = m_state;
    Apply(Event::worker_ended);
    if (ended == State::fill_stopping || ended == State::saving || ended == State::save_stopping) {
        // Only the job was stopped: the next walk starts unstopped.
        m_mailbox.stop_requested = false;
    }
    if (m_state == State::shutting_down) {
        return;
    }
    if (ended == State::saving || ended == State::save_stopping) {
        const convert::save_report report = std::move(m_save_report);
        m_save_report = convert::save_report{};
        m_views->ResetProgress();
        emit saveEnded(m_save_result, report, m_save_target);
    }
    if (ended == State::scan_stopping) {
        // A stopped scan offers no Browse; the window empties instead.
        m_deferred = (m_deferred & ~deferred_scan_browse) | deferred_clean_up;
    }
    RunDeferredCommands();
}

void MailboxController::RunDeferredCommands()
{
    const std::pair<Deferred, Command> order[] = {
        {deferred_clean_up, Command::browse}, // the command is not used
        {deferred_scan_browse, Command::browse}, {deferred_save, Command::save},
        {deferred_browse, Command::browse},      {deferred_scan, Command::scan},
    };
    for (const auto &[bit, command] : order) {
        // A deferred save that started keeps the rest waiting for its end.
        if (m_state != State::idle) {
            return;
        }
        if ((m_deferred & bit) == 0) {
            continue;
        }
        m_deferred &= ~bit;
        if (bit == deferred_clean_up) {
            StopCleanUp();
        } else {
            emit commandReady(command);
        }
    }
}

void MailboxController::StopCleanUp()
{
    RemoveWorkingDirectory();
    m_views->Clear();
    m_views->progress_set(0);
    scan_state_clear_stores(&m_mailbox);
    // The scan has ended: the next one starts unstopped.
    m_mailbox.stop_requested = false;
    emit stopCleanedUp();
}

void MailboxController::EngineAskedForBrowse()
{
    // After the scan's failure message: the chooser opens once the worker
    // has let go of the stores.
    if (ScanRunning()) {
        m_deferred |= deferred_scan_browse;
    } else if (m_state == State::idle) {
        emit commandReady(Command::browse);
    }
}

MailboxController::StopStep MailboxController::BeginStop()
{
    m_asked_about = m_state;
    switch (m_state) {
    case State::scanning:
    case State::saving:
        // The walk waits at its next check until the question is answered.
        m_mailbox.gate.hold();
        return StopStep::ask;
    case State::filling:
    case State::fill_stopping:
        // A click on "Recovered Items" runs libpff's search of the free
        // space, which passes no gate of ours; the rest of a fill is quick.
        return m_mailbox.recovered.searching.load() ? StopStep::ask : StopStep::enable_browse;
    case State::save_stopping:
        return StopStep::nothing;
    case State::idle:
    case State::scan_stopping:
    case State::shutting_down:
        break;
    }
    return StopStep::enable_browse;
}

bool MailboxController::AnswerStop(bool yes)
{
    const State asked = m_asked_about;
    m_asked_about = State::idle;
    if (asked == State::filling || asked == State::fill_stopping) {
        if (yes && FillRunning()) {
            scan_state_request_stop(&m_mailbox);
            Apply(Event::stop_confirmed);
        }
        return false;
    }
    if (asked == State::saving) {
        // A save that ended while the question was open has nothing left to
        // stop (and the next walk must not start stopped).
        if (yes && SaveRunning()) {
            // Also ends libpff's search of the free space.
            scan_state_request_stop(&m_mailbox);
            Apply(Event::stop_confirmed);
        }
        m_mailbox.gate.release();
        return false;
    }
    if (!yes) {
        m_mailbox.gate.release();
        return true;
    }
    scan_state_request_stop(&m_mailbox);
    const bool scan_running = ScanRunning();
    if (scan_running) {
        // The clean-up follows the scan's end.
        Apply(Event::stop_confirmed);
    }
    m_mailbox.gate.release();
    if (scan_running) {
        return false;
    }
    // The scan ended while the question was open.
    if (m_state == State::idle) {
        StopCleanUp();
    } else {
        // Another job holds the stores: its end does the clean-up.
        m_deferred |= deferred_clean_up;
    }
    return false;
}

void MailboxController::WaitForWorker()
{
    // The worker may be waiting for the window thread: serve it meanwhile.
    while (m_worker.joinable()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }
}

void MailboxController::EndSave()
{
    if (!SaveRunning()) {
        return;
    }
    scan_state_request_stop(&m_mailbox);
    Apply(Event::stop_confirmed);
    m_mailbox.gate.release();
    WaitForWorker();
}

void MailboxController::ShutDown()
{
    Apply(Event::shut_down);
    m_deferred = 0;
    if (m_worker.joinable()) {
        // End it at its next abort check, then serve its last calls. A save
        // ended so leaves nothing behind.
        scan_state_request_stop(&m_mailbox);
        m_mailbox.gate.release();
        WaitForWorker();
    }
}

} // namespace korvel
