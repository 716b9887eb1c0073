// Stop while libpff opens a big mailbox: building the item tree is where the
// scan of a big folder spends its first moments, inside one libpff call.
#include <mutex>

#include "tests/app/dialog_fixture.h"
#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"

namespace korvel::app_testing {
namespace {

using namespace ids;

using StopDuringOpen = DialogTest;

TEST_F(StopDuringOpen, StopWhileTheMailboxOpensEndsTheScanSilently)
{
    const std::string path = testing::scratch_directory("stop-open") + "/big.pst";
    testing::pst_builder builder;
    auto &folder = builder.root().add_folder("Big");
    for (int n = 0; n < 30000; ++n) {
        folder.add_message("IPM.Note").set_unicode(0x0037, "Message " + std::to_string(n));
    }
    builder.write(path);

    TestDialog dialog;
    dialog.show();
    dialog.chooser_answers.push_back(QString::fromStdString(path));
    click(dialog, IDC_BROWSE);
    click(dialog, IDC_SCAN);
    // Stop once the scan has made its file object, while the open runs.
    ASSERT_TRUE(waitUntil([&] {
        std::lock_guard<std::mutex> lock(dialog.State().file_mutex);
        return dialog.State().file != nullptr;
    }));
    dialog.answers.push_back(QMessageBox::Yes);
    click(dialog, IDC_STOP);
    // Ours ends the open at once; the system's libpff finishes it first, so
    // the bound is generous (the figures are bench_window's and bench_list's).
    ASSERT_TRUE(waitUntil([&] { return !dialog.ScanRunning(); }, 120000));

    // An ended open is no failed open: no box beyond the question.
    EXPECT_EQ(dialog.texts(),
              std::vector<QString>{QStringLiteral("Do you want to stop scan process ?")});
    EXPECT_EQ(dialog.Tree()->topLevelItemCount(), 0);
    EXPECT_EQ(dialog.State().folders.count, 0u);
    EXPECT_EQ(dialog.chooser_calls, 1) << "a stopped scan offers no Browse";

    // The signal does not outlive the scan it ended.
    browseAndScan(dialog, path);
    EXPECT_EQ(dialog.texts().back(), QStringLiteral("Analysis completed"));
    EXPECT_EQ(dialog.State().folders.count, 1u);
}

} // namespace
} // namespace korvel::app_testing
