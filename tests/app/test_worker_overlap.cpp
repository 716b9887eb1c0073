// Browse, Scan and a second folder click never overlap a running fill, and
// the dialog ends its workers when it goes away mid-scan.
#include <QLineEdit>
#include <memory>

#include "app/ItemListModel.h"
#include "tests/app/dialog_fixture.h"

namespace korvel::app_testing {
namespace {

using namespace ids;
using testing::sample_path;

using WorkerOverlap = DialogTest;

const QString personal =
    QStringLiteral("Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)/Personal");
const QString systems =
    QStringLiteral("Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)/Systems");

TEST_F(WorkerOverlap, BrowseAndASecondClickWaitForARunningFill)
{
    TestDialog dialog;
    dialog.show();
    browseAndScan(dialog, sample_path("enron.pst"));
    const int chooser_calls = dialog.chooser_calls;

    // The fill stops at its first message while the gate is held.
    dialog.State().gate.hold();
    clickItem(*dialog.Tree(), treeItem(*dialog.Tree(), personal));
    ASSERT_TRUE(dialog.FillRunning());
    pumpFor(100);
    EXPECT_FALSE(dialog.Tree()->isEnabled()) << "the fill disables the tree";

    // A click that reaches the tree anyway starts no second fill.
    QTreeWidgetItem *other = treeItem(*dialog.Tree(), systems);
    dialog.Tree()->setCurrentItem(other);
    emit dialog.Tree()->treeClicked();
    // Browse is put off until the fill has let go of the stores.
    dialog.chooser_answers.push_back(QString::fromStdString(sample_path("enron.pst")));
    dialog.OnBnClickedBrowse();
    EXPECT_EQ(dialog.chooser_calls, chooser_calls);

    dialog.State().gate.release();
    ASSERT_TRUE(waitUntil([&] { return !dialog.FillRunning(); }));
    EXPECT_EQ(dialog.chooser_calls, chooser_calls + 1);
    // Browse then emptied the list and the tree for the new file.
    EXPECT_EQ(dialog.ListModel()->rowCount(), 0);
    EXPECT_EQ(dialog.Tree()->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.Tree()->topLevelItem(0)->childCount(), 0);
    EXPECT_EQ(dialog.State().folders.count, 0u);
    EXPECT_TRUE(button(dialog, IDC_SCAN)->isEnabled());
}

TEST_F(WorkerOverlap, ScanPressedDuringAFillRunsWhenTheFillEnds)
{
    TestDialog dialog;
    dialog.show();
    browseAndScan(dialog, sample_path("enron.pst"));
    dialog.State().gate.hold();
    clickItem(*dialog.Tree(), treeItem(*dialog.Tree(), personal));
    ASSERT_TRUE(dialog.FillRunning());
    dialog.OnBnClickedScan();
    EXPECT_FALSE(dialog.ScanRunning());
    dialog.State().gate.release();
    ASSERT_TRUE(waitUntil([&] { return !dialog.FillRunning() && !dialog.ScanRunning(); }));
    EXPECT_EQ(dialog.texts(), (std::vector<QString>{QStringLiteral("Analysis completed"),
                                                    QStringLiteral("Analysis completed")}));
}

TEST_F(WorkerOverlap, DialogGoingAwayMidScanEndsTheWorkerSilently)
{
    auto dialog = std::make_unique<TestDialog>();
    dialog->show();
    dialog->chooser_answers.push_back(QString::fromStdString(sample_path("enron.pst")));
    click(*dialog, IDC_BROWSE);
    dialog->State().gate.hold();
    click(*dialog, IDC_SCAN);
    pumpFor(100);
    ASSERT_TRUE(dialog->ScanRunning());
    // Escape ends the dialog; the application then destroys it.
    keyClick(dialog->PathBox(), Qt::Key_Escape);
    EXPECT_FALSE(dialog->isVisible());
    dialog.reset();
    SUCCEED();
}

} // namespace
} // namespace korvel::app_testing
