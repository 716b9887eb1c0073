// The window after scanning the sample mailbox and clicking a folder,
// rendered offscreen. The picture goes into the build tree; with
// KORVEL_UPDATE_SCREENSHOT set it also replaces docs/main-window.png.
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTableView>

#include "app/ItemListModel.h"
#include "tests/app/dialog_fixture.h"

namespace korvel::app_testing {
namespace {

using Screenshot = DialogTest;

TEST_F(Screenshot, MainWindowAfterScanAndFolderClick)
{
    TestDialog dialog;
    dialog.show();
    browseAndScan(dialog, testing::sample_path("enron.pst"));
    fillFolder(dialog,
               QStringLiteral("Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)/Personal"));
    ASSERT_GT(dialog.ListModel()->rowCount(), 0);
    dialog.List()->selectRow(0);
    pumpFor(50);

    const QImage image = dialog.grab().toImage();
    ASSERT_EQ(image.size(), dialog.size());
    // Something was drawn: the picture is not one flat colour.
    const QRgb corner = image.pixel(image.width() / 2, image.height() / 2);
    bool varied = false;
    for (int y = 0; y < image.height() && !varied; y += 7) {
        for (int x = 0; x < image.width() && !varied; x += 7) {
            varied = image.pixel(x, y) != corner;
        }
    }
    EXPECT_TRUE(varied);

    EXPECT_TRUE(image.save(QStringLiteral(KORVEL_BINARY_DIR "/main-window.png")));
    if (qEnvironmentVariableIsSet("KORVEL_UPDATE_SCREENSHOT")) {
        QDir().mkpath(QStringLiteral(KORVEL_SOURCE_DIR "/docs"));
        EXPECT_TRUE(image.save(QStringLiteral(KORVEL_SOURCE_DIR "/docs/main-window.png")));
    }
}

} // namespace
} // namespace korvel::app_testing
