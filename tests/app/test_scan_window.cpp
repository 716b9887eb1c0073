// Browse, Scan, Stop and folder clicks through the real window on the sample
// mailboxes, compared with what the recording views show for the same file.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QProgressBar>
#include <QTableView>
#include <memory>

#include "app/ItemListModel.h"
#include "app/LoadIDialog.h"
#include "scan/files.h"
#include "tests/app/dialog_fixture.h"
#include "tests/support/scan_session.h"

namespace korvel::app_testing {
namespace {

using namespace ids;
using testing::narrow;
using testing::sample_path;

using ScanWindow = DialogTest;

const QString personal =
    QStringLiteral("Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)/Personal");

// What the recording views show for a scan (and optionally a click).
std::unique_ptr<testing::scan_session> recorded(const std::string &path,
                                                const QString &folder = QString())
{
    auto session = std::make_unique<testing::scan_session>();
    session->scan(path);
    if (!folder.isEmpty()) {
        EXPECT_TRUE(session->fill(folder.toStdString()));
    }
    return session;
}

bool enabled(const CMailvaneDlg &dialog, int id)
{
    if (QAction *action = dialog.MenuCommand(id)) {
        return action->isEnabled();
    }
    return dialog.GetDlgItem(id)->isEnabled();
}

// Browse, Scan, Stop, Save, tree, File > Open, File > Scan, File > Convert.
std::string states(const CMailvaneDlg &dialog)
{
    std::string text;
    for (int id : {IDC_BROWSE, IDC_SCAN, IDC_STOP, IDC_SAVE, IDC_TREE1, ID_FILE_OPEN, ID_FILE_SCAN,
                   ID_FILE_CONVERT}) {
        text += enabled(dialog, id) ? '1' : '0';
    }
    return text;
}

void makeWorkingDirectory()
{
    const QString dir = QString::fromStdString(working_directory());
    ASSERT_TRUE(QDir().mkpath(dir + "/nested/deeper"));
    QFile file(dir + "/nested/deeper/body.html");
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("x");
}

bool workingDirectoryExists()
{
    return QFileInfo::exists(QString::fromStdString(working_directory()));
}

TEST_F(ScanWindow, CancelledChooserStillRemovesTheWorkingDirectoryAndChangesNothing)
{
    TestDialog dialog;
    dialog.show();
    makeWorkingDirectory();
    const std::string before = states(dialog);
    click(dialog, IDC_BROWSE);
    EXPECT_EQ(dialog.chooser_calls, 1);
    EXPECT_FALSE(workingDirectoryExists());
    EXPECT_EQ(states(dialog), before);
    EXPECT_EQ(dialog.Tree()->topLevelItemCount(), 0);
    EXPECT_TRUE(dialog.PathBox()->text().isEmpty());
}

TEST_F(ScanWindow, BrowseThenScanShowsTheTreeTheEngineWalks)
{
    TestDialog dialog;
    dialog.show();
    const std::string path = sample_path("enron.pst");

    makeWorkingDirectory();
    dialog.chooser_answers.push_back(QString::fromStdString(path));
    click(dialog, IDC_BROWSE);
    EXPECT_FALSE(workingDirectoryExists());
    EXPECT_EQ(states(dialog), "11001110"); // Scan and File > Scan on, Save off
    EXPECT_EQ(dialog.PathBox()->text().toStdString(), path);
    EXPECT_EQ(dialog.List()->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_TRUE(dialog.List()->showGrid());
    ASSERT_EQ(dialog.Tree()->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.Tree()->ImageOf(dialog.Tree()->topLevelItem(0)), 0);

    click(dialog, IDC_SCAN);
    EXPECT_TRUE(dialog.ScanRunning());
    EXPECT_FALSE(enabled(dialog, IDC_BROWSE));
    EXPECT_TRUE(enabled(dialog, IDC_STOP));
    EXPECT_FALSE(enabled(dialog, IDC_TREE1));
    EXPECT_FALSE(enabled(dialog, ID_FILE_OPEN));
    EXPECT_FALSE(enabled(dialog, ID_FILE_SCAN));
    ASSERT_TRUE(waitUntil([&] { return !dialog.ScanRunning(); }));

    EXPECT_EQ(dialog.texts(), std::vector<QString>{QStringLiteral("Analysis completed")});
    EXPECT_EQ(dialog.boxes[0].icon, QMessageBox::Information);
    EXPECT_FALSE(dialog.boxes[0].owned);
    EXPECT_EQ(dialog.WaitDialog(), nullptr);
    // After the analysis: Scan off (a new scan needs Browse), Stop still on.
    EXPECT_EQ(states(dialog), "10111001");
    EXPECT_EQ(dialog.Progress()->value(), 0);

    const auto session_holder = recorded(path);
    const testing::scan_session &session = *session_holder;
    const std::vector<ShownItem> shown = shownTree(*dialog.Tree());
    ASSERT_EQ(shown.size(), session.views.tree.size());
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto &expected = session.views.tree[i];
        EXPECT_EQ(shown[i].text.toStdString(), narrow(expected.text)) << i;
        EXPECT_EQ(shown[i].level, expected.level) << i;
        EXPECT_EQ(shown[i].image, expected.image) << i;
        EXPECT_EQ(shown[i].bold, expected.bold) << i;
    }
    // The root item is the path, image 0, not bold; folders are bold.
    EXPECT_EQ(shown[0].image, 0);
    EXPECT_FALSE(shown[0].bold);
    QTreeWidgetItem *sent = treeItem(
        *dialog.Tree(),
        QStringLiteral("Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)/Sent Items"));
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(dialog.Tree()->ImageOf(sent), 12);
    EXPECT_TRUE(sent->parent()->isExpanded());
}

TEST_F(ScanWindow, FolderClickListsTheRowsTheProbeListsNewestFirst)
{
    TestDialog dialog;
    dialog.show();
    const std::string path = sample_path("enron.pst");
    browseAndScan(dialog, path);
    fillFolder(dialog, personal);

    const auto session_holder = recorded(path, personal);
    const testing::scan_session &session = *session_holder;
    const ItemListModel &model = *dialog.ListModel();
    ASSERT_EQ(static_cast<std::size_t>(model.rowCount()), session.views.rows.size());
    ASSERT_GT(model.rowCount(), 10);
    for (int row = 0; row < model.rowCount(); ++row) {
        const auto &expected = session.views.rows[static_cast<std::size_t>(row)];
        for (int column = 0; column < 10; ++column) {
            const QString cell = model.cellText(row, column);
            if (expected.cells[column]) {
                EXPECT_EQ(cell.toStdString(), narrow(*expected.cells[column]))
                    << row << "," << column;
            } else {
                EXPECT_TRUE(cell.isNull()) << row << "," << column;
            }
        }
    }
    // Column 0 counts down from the top.
    EXPECT_GT(model.cellText(0, 0).toInt(), model.cellText(1, 0).toInt());
    for (int column : {2, 3}) {
        EXPECT_EQ(model.columnTitle(column).toStdString(),
                  narrow(session.views.column_titles[column]));
    }
    EXPECT_TRUE(enabled(dialog, IDC_TREE1));
    EXPECT_EQ(dialog.Progress()->value(), 0);
    EXPECT_EQ(dialog.State().records.count, static_cast<std::size_t>(model.rowCount()));

    // The root item has no folder node: the list empties, nothing is added.
    clickItem(*dialog.Tree(), dialog.Tree()->topLevelItem(0));
    ASSERT_TRUE(waitUntil([&] { return !dialog.FillRunning(); }));
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_EQ(dialog.State().records.count, 0u);
}

TEST_F(ScanWindow, StopAnsweredNoHoldsTheScanStillThenLetsItFinish)
{
    TestDialog dialog;
    dialog.show();
    dialog.chooser_answers.push_back(QString::fromStdString(sample_path("enron.pst")));
    click(dialog, IDC_BROWSE);
    // Keep the walk at its first element until Stop has asked.
    dialog.State().gate.hold();
    click(dialog, IDC_SCAN);
    pumpFor(200);
    std::size_t items_when_asked = 0;
    std::size_t items_after_wait = 0;
    dialog.on_question = [&] {
        items_when_asked = shownTree(*dialog.Tree()).size();
        pumpFor(200);
        items_after_wait = shownTree(*dialog.Tree()).size();
    };
    click(dialog, IDC_STOP);
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].text, QStringLiteral("Do you want to stop scan process ?"));
    EXPECT_EQ(dialog.boxes[0].icon, QMessageBox::Question);
    EXPECT_TRUE(dialog.boxes[0].owned);
    EXPECT_EQ(items_when_asked, 1u);
    EXPECT_EQ(items_after_wait, items_when_asked);
    // Any answer enables Browse.
    EXPECT_TRUE(enabled(dialog, IDC_BROWSE));

    ASSERT_TRUE(waitUntil([&] { return !dialog.ScanRunning(); }));
    EXPECT_EQ(dialog.texts().back(), QStringLiteral("Analysis completed"));
    EXPECT_EQ(shownTree(*dialog.Tree()).size(),
              recorded(sample_path("enron.pst"))->views.tree.size());
}

TEST_F(ScanWindow, StopAnsweredYesEndsTheScanSilentlyAndEmptiesTheWindow)
{
    TestDialog dialog;
    dialog.show();
    const std::string path = sample_path("enron.pst");
    browseAndScan(dialog, path);
    fillFolder(dialog, personal);
    ASSERT_GT(dialog.ListModel()->rowCount(), 0);

    dialog.chooser_answers.push_back(QString::fromStdString(path));
    click(dialog, IDC_BROWSE);
    makeWorkingDirectory();
    dialog.boxes.clear();
    dialog.State().gate.hold();
    click(dialog, IDC_SCAN);
    pumpFor(100);
    dialog.answers.push_back(QMessageBox::Yes);
    click(dialog, IDC_STOP);
    ASSERT_TRUE(waitUntil([&] { return !dialog.ScanRunning(); }));

    EXPECT_EQ(dialog.texts(),
              std::vector<QString>{QStringLiteral("Do you want to stop scan process ?")});
    EXPECT_EQ(dialog.chooser_calls, 2) << "a stopped scan offers no Browse";
    EXPECT_EQ(dialog.Tree()->topLevelItemCount(), 0);
    EXPECT_EQ(dialog.ListModel()->rowCount(), 0);
    EXPECT_EQ(dialog.State().folders.count, 0u);
    EXPECT_EQ(dialog.Progress()->value(), 0);
    EXPECT_FALSE(workingDirectoryExists());
    // Browse and File > Open on, Stop off, Scan as the scan left it (off);
    // File > Convert keeps what the first scan gave it.
    EXPECT_EQ(states(dialog), "10000101");

    // The next scan starts from Browse and runs to its end.
    browseAndScan(dialog, path);
    EXPECT_EQ(dialog.texts().back(), QStringLiteral("Analysis completed"));
    EXPECT_EQ(shownTree(*dialog.Tree()).size(), recorded(path)->views.tree.size());
}

TEST_F(ScanWindow, StopAnsweredYesAfterTheScanEndedEmptiesTheWindowAndTakesSaveAway)
{
    TestDialog dialog;
    dialog.show();
    dialog.chooser_answers.push_back(QString::fromStdString(sample_path("enron.pst")));
    click(dialog, IDC_BROWSE);
    dialog.State().gate.hold();
    click(dialog, IDC_SCAN);
    pumpFor(100);
    // The scan runs to its end while the question is still open.
    dialog.on_question = [&] {
        dialog.State().gate.release();
        ASSERT_TRUE(waitUntil([&] { return !dialog.ScanRunning(); }));
        ASSERT_TRUE(enabled(dialog, IDC_SAVE));
    };
    dialog.answers.push_back(QMessageBox::Yes);
    click(dialog, IDC_STOP);

    EXPECT_EQ(dialog.Tree()->topLevelItemCount(), 0);
    EXPECT_EQ(dialog.State().folders.count, 0u);
    // Nothing is left to save: Save is off, and File > Convert says so.
    EXPECT_FALSE(enabled(dialog, IDC_SAVE));
    dialog.boxes.clear();
    dialog.MenuCommand(ID_FILE_CONVERT)->trigger();
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].text,
              QStringLiteral("Scan a mailbox first: the save writes what the scan found."));
}

TEST_F(ScanWindow, StopWithoutARunningScanOnlyEnablesBrowse)
{
    TestDialog dialog;
    dialog.show();
    const std::string path = sample_path("pstextractortest@outlook.com.ost");
    dialog.chooser_answers.push_back(QString::fromStdString(path));
    click(dialog, IDC_BROWSE);
    click(dialog, IDC_SCAN);
    ASSERT_TRUE(waitUntil([&] { return !dialog.ScanRunning(); }));
    // The offline store gives its one message and the chooser again, which
    // the user cancels: Browse and Scan stay off, Stop is the way back.
    EXPECT_EQ(dialog.texts(), std::vector<QString>{QStringLiteral("This is not a valid PST File")});
    EXPECT_EQ(dialog.chooser_calls, 2);
    EXPECT_EQ(states(dialog), "00100000");

    click(dialog, IDC_STOP);
    EXPECT_EQ(dialog.boxes.size(), 1u) << "no question without a scan";
    EXPECT_EQ(states(dialog), "10100000");
}

TEST_F(ScanWindow, SecondOfflineStoreAlsoGivesItsOneMessageThenTheChooserPicksAPst)
{
    TestDialog dialog;
    dialog.show();
    dialog.chooser_answers.push_back(
        QString::fromStdString(sample_path("pstextractortestpdf@outlook.com.ost")));
    dialog.chooser_answers.push_back(QString::fromStdString(sample_path("enron.pst")));
    click(dialog, IDC_BROWSE);
    click(dialog, IDC_SCAN);
    ASSERT_TRUE(waitUntil([&] { return !dialog.ScanRunning(); }));
    EXPECT_EQ(dialog.texts(), std::vector<QString>{QStringLiteral("This is not a valid PST File")});
    // The chooser offered at once has picked the PST: Scan is on again.
    EXPECT_EQ(dialog.PathBox()->text().toStdString(), sample_path("enron.pst"));
    EXPECT_TRUE(enabled(dialog, IDC_SCAN));
    click(dialog, IDC_SCAN);
    ASSERT_TRUE(waitUntil([&] { return !dialog.ScanRunning(); }));
    EXPECT_EQ(dialog.texts().back(), QStringLiteral("Analysis completed"));
}

TEST_F(ScanWindow, WorkersReachTheViewsOnlyInOrderAndInBatches)
{
    TestDialog dialog;
    dialog.show();
    scan_views &views = dialog.Views();
    constexpr int rows = 5000;
    // While a box is up, the wait dialog shown before it is on screen.
    bool wait_dialog_shown = false;
    int rows_at_first_box = -1;
    dialog.on_box = [&](const AskedBox &box) {
        if (box.text == QStringLiteral("waiting")) {
            const LoadIDialog *wait = dialog.WaitDialog();
            wait_dialog_shown =
                wait != nullptr && wait->isVisible() &&
                wait->Text() == QStringLiteral("Please Wait while pst file is analysis...") &&
                (wait->windowFlags() & Qt::FramelessWindowHint);
            // Every row queued before the box is in the list already.
            rows_at_first_box = dialog.ListModel()->rowCount();
        }
    };
    std::thread worker([&] {
        views.list_delete_all_rows();
        for (int i = 0; i < rows; ++i) {
            const std::u16string number = QString::number(i).toStdU16String();
            views.list_insert_row(number);
            const std::u16string kind = u"email";
            views.list_set_cell(0, 1, &kind);
            views.list_set_cell(0, 2, nullptr);
            views.list_rename_column(2, i % 2 ? u"Full Name" : u"From: ");
            views.progress_set(i % 100);
        }
        // A cell of an older row, after more rows came.
        const std::u16string late = u"late";
        views.list_set_cell(rows - 1, 3, &late);
        views.progress_set(0);
        views.wait_dialog_show();
        views.message_box(message_icon::information, u"Korvel PST Repair", u"waiting");
        views.wait_dialog_close();
        views.message_box(message_icon::information, u"Korvel PST Repair", u"done");
    });
    ASSERT_TRUE(waitUntil([&] { return dialog.boxes.size() == 2; }));
    worker.join();
    EXPECT_TRUE(wait_dialog_shown);
    EXPECT_EQ(rows_at_first_box, rows);
    EXPECT_EQ(dialog.WaitDialog(), nullptr);
    const ItemListModel &model = *dialog.ListModel();
    ASSERT_EQ(model.rowCount(), rows);
    for (int row = 0; row < rows; ++row) {
        ASSERT_EQ(model.cellText(row, 0).toInt(), rows - 1 - row);
        ASSERT_EQ(model.cellText(row, 1), QStringLiteral("email"));
        ASSERT_TRUE(model.cellText(row, 2).isNull());
    }
    EXPECT_EQ(model.cellText(rows - 1, 3), QStringLiteral("late"));
    EXPECT_EQ(model.columnTitle(2), QStringLiteral("Full Name"));
    EXPECT_EQ(dialog.Progress()->value(), 0);
}

} // namespace
} // namespace korvel::app_testing
