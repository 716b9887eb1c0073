// A click on a listed item of the sample mailbox, through the real window:
// the pane shows the item; a click while a worker holds the mailbox is
// ignored without the window waiting for the worker.
#include <QAbstractItemView>
#include <QDir>
#include <QFileInfo>
#include <QTableView>
#include <atomic>
#include <mutex>
#include <thread>

#include "app/ItemListModel.h"
#if KORVEL_HAVE_WRITER
#include <QBuffer>
#include <QImage>
#include <QTcpServer>

#include "tests/support/pst_builder.h"
#include "tests/support/samples.h"
#endif
#include "tests/app/browser_fixture.h"

namespace korvel::app_testing {
namespace {

using namespace ids;
using testing::sample_path;

using PreviewWindow = DialogTest;

const QString personal =
    QStringLiteral("Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)/Personal");
// Row 47 of Personal: an e-mail with two attachments and a plain-text body.
const QString golf_outing = QStringLiteral("47");

int rowOf(const CMailvaneDlg &dialog, const QString &sequence)
{
    for (int row = 0; row < dialog.ListModel()->rowCount(); ++row) {
        if (dialog.ListModel()->cellText(row, 0) == sequence) {
            return row;
        }
    }
    return -1;
}

void clickRow(CMailvaneDlg &dialog, int row)
{
    QTableView &list = *dialog.List();
    const QModelIndex index = list.model()->index(row, 3);
    list.scrollTo(index);
    mouseClick(list.viewport(), list.visualRect(index).center());
}

QString framesetPath()
{
    return workingDirectory() + QStringLiteral("/temp.html");
}

TEST_F(PreviewWindow, ClickOnAnEmailRowShowsItInThePane)
{
    TestDialog dialog;
    dialog.show();
    CExplorer1 &pane = *dialog.Preview();
    EXPECT_EQ(dialog.GetDlgItem(IDC_EXPLORER1), &pane);
    EXPECT_TRUE(pane.url().isEmpty()) << "blank before the first preview";

    browseAndScan(dialog, sample_path("enron.pst"));
    fillFolder(dialog, personal);
    const int row = rowOf(dialog, golf_outing);
    ASSERT_GE(row, 0);
    ASSERT_TRUE(waitForLoad(pane, [&] { clickRow(dialog, row); }));

    EXPECT_EQ(pane.url(), CExplorer1::UrlFor(framesetPath()));
    // The header frame (UTF-16LE) and the plain-text body frame.
    EXPECT_EQ(matchesShown(pane, QStringLiteral("PPL EnergyPlus Golf Outing")), 1);
    EXPECT_EQ(matchesShown(pane, QStringLiteral("AreaHotels.doc;brooksidedirections.doc;")), 1);
    EXPECT_EQ(matchesShown(pane, QStringLiteral("To: Lokay Michelle")), 1);
    EXPECT_GE(matchesShown(pane, QStringLiteral("Brookside Country Club")), 1);
    EXPECT_EQ(pane.RefusedRequests(), 0);

    // Another row replaces the preview.
    const int other = rowOf(dialog, QStringLiteral("46"));
    ASSERT_GE(other, 0);
    ASSERT_TRUE(waitForLoad(pane, [&] { clickRow(dialog, other); }));
    EXPECT_EQ(matchesShown(pane, QStringLiteral("GOOD JOB!")), 1);
    EXPECT_EQ(matchesShown(pane, QStringLiteral("PPL EnergyPlus Golf Outing")), 0);
}

TEST_F(PreviewWindow, EveryListedItemOfTheSamplePreviewsInsideTheWorkingDirectory)
{
    TestDialog dialog;
    dialog.show();
    CExplorer1 &pane = *dialog.Preview();
    browseAndScan(dialog, sample_path("enron.pst"));
    const QString mlokay =
        QStringLiteral("Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)");
    const QString folders[] = {
        QStringLiteral("Top of Personal Folders/Deleted Items"),
        mlokay + QStringLiteral("/TW-Commercial Group"),
        mlokay + QStringLiteral("/Systems"),
        mlokay + QStringLiteral("/Sent Items"),
        personal,
    };
    const QString root = QFileInfo(workingDirectory()).canonicalFilePath() + QLatin1Char('/');
    int previewed = 0;
    for (const QString &folder : folders) {
        fillFolder(dialog, folder);
        for (int row = 0; row < dialog.ListModel()->rowCount(); ++row) {
            // One keyboard move after another, without waiting for the pane.
            dialog.List()->selectRow(row);
            pumpFor(20);
            ++previewed;
            // Where the pane was last sent (the load may still be on its way).
            const QUrl requested = pane.page()->requestedUrl();
            const QString shown = requested.path();
            EXPECT_TRUE(requested.scheme() == QLatin1String("korvel-preview") &&
                        QFileInfo(shown).canonicalFilePath().startsWith(root))
                << folder.toStdString() << " row " << row << ": " << shown.toStdString();
            for (const QFileInfo &file :
                 QDir(workingDirectory())
                     .entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden |
                                    QDir::System)) {
                EXPECT_TRUE(file.isFile() && !file.isSymLink()) << file.filePath().toStdString();
            }
        }
    }
    EXPECT_GT(previewed, 40);
    // The pane settles on the last one.
    ASSERT_TRUE(waitUntil([&] { return !pane.page()->isLoading(); }, 20000));
    EXPECT_EQ(pane.RefusedRequests(), 0);
}

#if KORVEL_HAVE_WRITER
TEST_F(PreviewWindow, HtmlMailShowsItsInlineImageAndFetchesNothing)
{
    // Remote URLs point here: a request would show as a connection.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    int connections = 0;
    QObject::connect(&server, &QTcpServer::newConnection, [&] {
        while (server.nextPendingConnection() != nullptr) {
            ++connections;
        }
    });
    const std::string remote = "http://127.0.0.1:" + std::to_string(server.serverPort());
    QImage red(80, 80, QImage::Format_RGB32);
    red.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly));
    ASSERT_TRUE(red.save(&buffer, "PNG"));

    testing::pst_builder builder;
    testing::pst_folder &inbox = *builder.top_of_personal_folders().find("Inbox");
    convert::message &mail = inbox.add_message("IPM.Note");
    mail.set_unicode(0x0037, "Inline picture");
    mail.set_html("<html><head><title>Mail</title><link rel='stylesheet' href='" + remote +
                  "/s.css'></head><body style='margin:0;background:#fff'>"
                  "<img src='cid:logo@example' width='80' height='80'>"
                  "<img src='" +
                  remote +
                  "/track.png' width='1' height='1'>"
                  "<p>After the picture</p></body></html>");
    mail.add_attachment("logo.png", convert::data_source::from_string(png.toStdString()))
        .set_unicode(0x3712, "<logo@example>");
    const std::string path = testing::scratch_directory("preview-html") + "/inline.pst";
    builder.write(path);

    TestDialog dialog;
    dialog.show();
    CExplorer1 &pane = *dialog.Preview();
    browseAndScan(dialog, path);
    fillFolder(dialog, QStringLiteral("Top of Personal Folders/Inbox"));
    ASSERT_EQ(dialog.ListModel()->rowCount(), 1);
    ASSERT_TRUE(waitForLoad(pane, [&] { clickRow(dialog, 0); }));
    pumpFor(500);

    EXPECT_EQ(matchesShown(pane, QStringLiteral("After the picture")), 1);
    EXPECT_EQ(matchesShown(pane, QStringLiteral("logo.png;")), 1);
    // The picture is drawn in the body frame, below the header frame.
    const QImage shown = pane.grab().toImage();
    int red_pixels = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            red_pixels += QColor(shown.pixel(x, y)) == QColor(Qt::red) ? 1 : 0;
        }
    }
    EXPECT_GE(red_pixels, 60 * 60);
    EXPECT_EQ(connections, 0);
    EXPECT_GE(pane.RefusedRequests(), 2);
}
#endif

#if KORVEL_HAVE_WRITER
// The frameset names the body file by its full path: a temporary directory
// whose name holds "#", "?", "%" and a blank must not cut that path short.
TEST_F(PreviewWindow, EveryKindPreviewsFromATemporaryDirectoryWithUrlCharacters)
{
    const std::string odd = testing::scratch_directory("preview-odd") + "/a #b?c%41 d'e";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(odd)));
    // Read once per process: this test's own process must not have chosen it yet.
    ::setenv("TMPDIR", odd.c_str(), 1);
    if (!workingDirectory().contains(QStringLiteral("#b?c%41 d'e"))) {
        GTEST_SKIP() << "the working directory was chosen before: run this test alone";
    }

    testing::pst_builder builder;
    testing::pst_folder &top = builder.top_of_personal_folders();
    const std::pair<const char *, const char *> kinds[] = {
        {"Inbox", "IPM.Note"},      {"Contacts", "IPM.Contact"}, {"Calendar", "IPM.Appointment"},
        {"Tasks", "IPM.Task"},      {"Notes", "IPM.StickyNote"},
    };
    for (const auto &[folder, message_class] : kinds) {
        convert::message &m = top.find(std::string_view(folder))->add_message(message_class);
        m.set_unicode(0x0037, std::string("Item in ") + folder);
        m.set_body(std::string("Body text of ") + folder);
    }
    const std::string path = testing::scratch_directory("preview-odd-box") + "/kinds.pst";
    builder.write(path);

    TestDialog dialog;
    dialog.show();
    CExplorer1 &pane = *dialog.Preview();
    browseAndScan(dialog, path);
    for (const auto &[folder, message_class] : kinds) {
        fillFolder(dialog, QStringLiteral("Top of Personal Folders/") + QLatin1String(folder));
        ASSERT_EQ(dialog.ListModel()->rowCount(), 1) << folder;
        ASSERT_TRUE(waitForLoad(pane, [&] { clickRow(dialog, 0); })) << folder;
        pumpFor(300);
        EXPECT_EQ(matchesShown(pane, QStringLiteral("Body text of ") + QLatin1String(folder)), 1)
            << message_class;
    }
    EXPECT_EQ(pane.RefusedRequests(), 0);
}
#endif

TEST_F(PreviewWindow, ClickWhileAWorkerHoldsTheMailboxIsIgnoredNotWaitedFor)
{
    TestDialog dialog;
    dialog.show();
    CExplorer1 &pane = *dialog.Preview();
    browseAndScan(dialog, sample_path("enron.pst"));
    fillFolder(dialog, personal);
    const int row = rowOf(dialog, golf_outing);
    ASSERT_GE(row, 0);

    // A worker holds the mailbox until the click has returned: were the
    // window to wait for the lock, the click would never return.
    std::atomic<bool> held{false};
    std::atomic<bool> clicked{false};
    std::thread worker([&] {
        const std::lock_guard<std::recursive_mutex> lock(dialog.State().mailbox_mutex);
        held = true;
        while (!clicked) {
            std::this_thread::yield();
        }
    });
    while (!held) {
        std::this_thread::yield();
    }
    clickRow(dialog, row);
    clicked = true;
    worker.join();
    pumpFor(300);
    EXPECT_TRUE(pane.url().isEmpty());
    EXPECT_FALSE(QFile::exists(framesetPath()));

    // A running fill (held at its first message) owns the records: a row
    // selected meanwhile is not previewed either.
    dialog.State().gate.hold();
    clickItem(*dialog.Tree(), treeItem(*dialog.Tree(), personal));
    ASSERT_TRUE(dialog.FillRunning());
    pumpFor(100);
    ItemListModel::Row cells;
    cells[0] = golf_outing;
    cells[1] = QStringLiteral("email");
    dialog.ListModel()->insertAtTop({cells});
    dialog.List()->selectRow(0);
    pumpFor(300);
    EXPECT_TRUE(pane.url().isEmpty());
    EXPECT_FALSE(QFile::exists(framesetPath()));
    dialog.State().gate.release();
    ASSERT_TRUE(waitUntil([&] { return !dialog.FillRunning(); }));

    // Once the worker has let go, the same click previews.
    const int again = rowOf(dialog, golf_outing);
    ASSERT_GE(again, 0);
    dialog.List()->clearSelection();
    ASSERT_TRUE(waitForLoad(pane, [&] { clickRow(dialog, again); }));
    EXPECT_EQ(pane.url(), CExplorer1::UrlFor(framesetPath()));
    EXPECT_EQ(matchesShown(pane, QStringLiteral("PPL EnergyPlus Golf Outing")), 1);
}

} // namespace
} // namespace korvel::app_testing
