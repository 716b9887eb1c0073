// The window after scanning the sample mailbox and clicking a folder, and
// with an e-mail previewed, rendered offscreen. The pictures go into the
// build tree; with KORVEL_UPDATE_SCREENSHOT set they also replace
// docs/main-window.png and docs/preview-window.png.
#include <QDir>
#include <QImage>
#include <QPixmap>
#include <QTableView>

#include "app/ItemListModel.h"
#include "tests/app/browser_fixture.h"
#include "tests/app/dialog_fixture.h"

namespace korvel::app_testing {
namespace {

using Screenshot = DialogTest;

// True when the picture is not one flat colour.
bool varied(const QImage &image)
{
    const QRgb middle = image.pixel(image.width() / 2, image.height() / 2);
    for (int y = 0; y < image.height(); y += 7) {
        for (int x = 0; x < image.width(); x += 7) {
            if (image.pixel(x, y) != middle) {
                return true;
            }
        }
    }
    return false;
}

void savePicture(const QImage &image, const QString &name)
{
    EXPECT_TRUE(image.save(QStringLiteral(KORVEL_BINARY_DIR "/") + name));
    if (qEnvironmentVariableIsSet("KORVEL_UPDATE_SCREENSHOT")) {
        QDir().mkpath(QStringLiteral(KORVEL_SOURCE_DIR "/docs"));
        EXPECT_TRUE(image.save(QStringLiteral(KORVEL_SOURCE_DIR "/docs/") + name));
    }
}

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
    EXPECT_TRUE(varied(image));
    savePicture(image, QStringLiteral("main-window.png"));
}

TEST_F(Screenshot, PreviewedEmailWithAttachments)
{
    TestDialog dialog;
    dialog.show();
    browseAndScan(dialog, testing::sample_path("enron.pst"));
    fillFolder(dialog,
               QStringLiteral("Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)/Personal"));
    // Sequence 47: an invitation with two attachments.
    int row = -1;
    for (int i = 0; i < dialog.ListModel()->rowCount() && row < 0; ++i) {
        if (dialog.ListModel()->cellText(i, 0) == QStringLiteral("47")) {
            row = i;
        }
    }
    ASSERT_GE(row, 0);
    ASSERT_TRUE(waitForLoad(*dialog.Preview(), [&] { dialog.List()->selectRow(row); }));
    pumpFor(500);

    const QImage image = dialog.grab().toImage();
    ASSERT_EQ(image.size(), dialog.size());
    // The pane shows the header page's light blue.
    const QRect pane = dialog.Preview()->geometry().translated(
        dialog.Preview()->parentWidget()->mapTo(&dialog, QPoint(0, 0)));
    EXPECT_EQ(QColor(image.pixel(pane.right() - 20, pane.top() + 10)), QColor(0xe2, 0xef, 0xfc));
    savePicture(image, QStringLiteral("preview-window.png"));
    EXPECT_EQ(matchesShown(*dialog.Preview(), QStringLiteral("Attachment:")), 1);
}

} // namespace
} // namespace korvel::app_testing
