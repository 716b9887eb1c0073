// The mailbox controller without the window, on a copy of the sample: what
// the window tests cannot reach, namely the order of commands put off across
// two jobs, and the window's end during a save (the dialog's own destruction
// hides whether the worker was waited for and what it left).
#include <QProgressBar>
#include <filesystem>
#include <memory>
#include <set>

#include "app/ItemListModel.h"
#include "app/MailboxController.h"
#include "tests/app/dialog_fixture.h"

namespace korvel::app_testing {
namespace {

namespace fs = std::filesystem;
using testing::sample_path;
using Command = MailboxController::Command;
using Event = MailboxController::Event;
using State = MailboxController::State;

const QString personal =
    QStringLiteral("Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)/Personal");

std::set<std::string> directoryEntries(const fs::path &dir)
{
    std::set<std::string> names;
    for (const fs::directory_entry &entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// The views the engine fills, and a controller that has scanned a fresh copy
// of the sample.
class ControllerTest : public DialogTest
{
protected:
    void SetUp() override
    {
        DialogTest::SetUp();
        const fs::path dir = testing::scratch_directory(
            std::string("controller-") +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        source = (dir / "enron.pst").string();
        fs::copy_file(sample_path("enron.pst"), source);
        controller = std::make_unique<MailboxController>(tree, list, progress);
        controller->TakeMailbox(QString::fromStdString(source));
        ASSERT_TRUE(controller->Admit(Command::scan));
        controller->StartScan();
        ASSERT_TRUE(waitUntil([&] { return controller->CurrentState() == State::idle; }));
    }

    convert::save_request saveTo(const std::string &name) const
    {
        convert::save_request request;
        request.target = (fs::path(source).parent_path() / name).string();
        return request;
    }

    // The widgets need the application first.
    QApplication &app = application();
    CFolderTreeCtrl1 tree;
    ItemListModel list;
    QProgressBar progress;
    std::string source;
    std::unique_ptr<MailboxController> controller;
};

TEST(ControllerStates, OneJobAtATimeAndNothingLeavesTheWindowsEnd)
{
    const State all[] = {State::idle,          State::scanning,      State::scan_stopping,
                         State::filling,       State::fill_stopping, State::saving,
                         State::save_stopping, State::shutting_down};
    const Event starts[] = {Event::scan_started, Event::fill_started, Event::save_started};
    for (const State state : all) {
        SCOPED_TRACE(static_cast<int>(state));
        // A job starts only on a mailbox nobody reads.
        for (const Event start : starts) {
            EXPECT_EQ(MailboxController::Next(state, start) != state, state == State::idle);
        }
        // Stop never starts anything, and its answer keeps the job it stops.
        const State stopped = MailboxController::Next(state, Event::stop_confirmed);
        EXPECT_EQ(MailboxController::Next(stopped, Event::worker_ended),
                  state == State::shutting_down ? State::shutting_down : State::idle);
        EXPECT_EQ(MailboxController::Next(state, Event::shut_down), State::shutting_down);
    }
    for (const Event event : {Event::scan_started, Event::fill_started, Event::save_started,
                              Event::stop_confirmed, Event::worker_ended}) {
        EXPECT_EQ(MailboxController::Next(State::shutting_down, event), State::shutting_down);
    }
}

TEST_F(ControllerTest, CommandsPutOffDuringAFillRunSaveFirstThenTheRestAfterTheSave)
{
    QTreeWidgetItem *folder = treeItem(tree, personal);
    ASSERT_NE(folder, nullptr);
    controller->Mailbox().gate.hold();
    ASSERT_TRUE(controller->Admit(Command::fill));
    controller->StartFill(tree.HandleOf(folder));
    EXPECT_FALSE(controller->Admit(Command::fill));
    EXPECT_FALSE(controller->Admit(Command::preview));
    // Pressed in this order; each twice, which runs it once.
    for (const Command command : {Command::scan, Command::browse, Command::save, Command::scan,
                                  Command::browse, Command::save}) {
        EXPECT_FALSE(controller->Admit(command));
    }

    struct Ready
    {
        Command command;
        State state;
        bool saved;
    };
    std::vector<Ready> ready;
    int saves_ended = 0;
    const convert::save_request request = saveTo("put-off.pst");
    QObject::connect(controller.get(), &MailboxController::saveEnded, [&] { ++saves_ended; });
    QObject::connect(controller.get(), &MailboxController::commandReady, [&](Command command) {
        ready.push_back({command, controller->CurrentState(), saves_ended == 1});
        ASSERT_TRUE(controller->Admit(command));
        if (command == Command::save) {
            controller->StartSave(request);
        }
    });
    controller->Mailbox().gate.release();
    ASSERT_TRUE(waitUntil([&] { return ready.size() >= 3; }, 120000));
    pumpFor(50);

    ASSERT_EQ(ready.size(), 3u);
    EXPECT_EQ(ready[0].command, Command::save);
    EXPECT_FALSE(ready[0].saved);
    // Browse and Scan waited for the save they came after.
    EXPECT_EQ(ready[1].command, Command::browse);
    EXPECT_TRUE(ready[1].saved);
    EXPECT_EQ(ready[2].command, Command::scan);
    for (const Ready &command : ready) {
        EXPECT_EQ(command.state, State::idle);
    }
    EXPECT_TRUE(fs::exists(request.target));
    EXPECT_GT(list.rowCount(), 0) << "the fill's rows stay";
}

TEST_F(ControllerTest, TheWindowsEndDuringASaveWaitsForItAndLeavesNothing)
{
    int signals_after_end = 0;
    QObject::connect(controller.get(), &MailboxController::saveEnded, [&] { ++signals_after_end; });
    QObject::connect(controller.get(), &MailboxController::commandReady,
                     [&] { ++signals_after_end; });
    QObject::connect(controller.get(), &MailboxController::messageBox,
                     [&] { ++signals_after_end; });
    controller->Mailbox().gate.hold();
    ASSERT_TRUE(controller->Admit(Command::save));
    // Put off behind the save; the window's end drops it.
    controller->StartSave(saveTo("ended.pst"));
    EXPECT_FALSE(controller->Admit(Command::browse));

    controller->ShutDown();
    EXPECT_FALSE(controller->WorkerRunning()) << "the worker was joined";
    EXPECT_EQ(controller->CurrentState(), State::shutting_down);
    EXPECT_EQ(directoryEntries(fs::path(source).parent_path()), std::set<std::string>{"enron.pst"});
    for (const Command command : {Command::browse, Command::scan, Command::save, Command::fill}) {
        EXPECT_FALSE(controller->Admit(command));
    }
    controller.reset();
    pumpFor(50);
    EXPECT_EQ(signals_after_end, 0);
}

} // namespace
} // namespace korvel::app_testing
