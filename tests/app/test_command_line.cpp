// A mailbox file handed to the program from outside the file chooser: the
// command line (refused arguments end the real program before any window)
// and a file dropped on the window. Either leads to Browse's "a file was
// chosen" state, and a scan then reads that file.
#include <QAction>
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QProcess>
#include <QTableView>
#include <QUrl>
#include <memory>

#include "app/CommandLine.h"
#include "scan/files.h"
#include "tests/app/browser_fixture.h"
#include "tests/app/dialog_fixture.h"

namespace korvel::app_testing {
namespace {

using namespace ids;
using testing::sample_path;

using CommandLineTest = DialogTest;

QString scratch(const std::string &name)
{
    return QString::fromStdString(testing::scratch_directory(name));
}

void touch(const QString &path)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write("!BDN");
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

// The state table's "Browse: a file was chosen" row after the start state:
// the path in the box and as the only tree item, Scan and File > Scan on.
void expectFileChosen(const TestDialog &dialog, const QString &path)
{
    EXPECT_EQ(states(dialog), "11001110");
    EXPECT_EQ(dialog.PathBox()->text(), path);
    ASSERT_EQ(dialog.Tree()->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.Tree()->topLevelItem(0)->text(0), path);
    EXPECT_EQ(dialog.Tree()->topLevelItem(0)->childCount(), 0);
    EXPECT_EQ(dialog.Tree()->ImageOf(dialog.Tree()->topLevelItem(0)), 0);
    EXPECT_EQ(dialog.List()->selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(dialog.chooser_calls, 0) << "no file chooser for a file already named";
}

void expectNothingChosen(const TestDialog &dialog)
{
    EXPECT_EQ(states(dialog), "10001100");
    EXPECT_TRUE(dialog.PathBox()->text().isEmpty());
    EXPECT_EQ(dialog.Tree()->topLevelItemCount(), 0);
}

std::unique_ptr<QMimeData> dropOf(const QList<QUrl> &urls)
{
    auto data = std::make_unique<QMimeData>();
    data->setUrls(urls);
    return data;
}

// A drag over the widget and, when the drag was accepted, the drop, as the
// window system delivers them (the application passes them up to the first
// widget that takes drops). Returns whether the drag was accepted.
bool dragAndDrop(QWidget *widget, const QMimeData *data)
{
    const QPoint point = widget->rect().center();
    QDragEnterEvent enter(point, Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &enter);
    if (!enter.isAccepted()) {
        return false;
    }
    QDropEvent drop(QPointF(point), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &drop);
    return drop.isAccepted();
}

TEST_F(CommandLineTest, OneExistingFileIsTakenAsAnAbsolutePath)
{
    const QString dir = scratch("command-line-accepted");
    touch(dir + QStringLiteral("/Mäil box.pst"));
    touch(dir + QStringLiteral("/-dash.pst"));
    touch(dir + QStringLiteral("/archive.bak"));
    ASSERT_TRUE(QDir().mkpath(dir + QStringLiteral("/sub")));

    struct Case
    {
        QStringList arguments;
        QString file;
    } const cases[] = {
        {{}, {}},
        {{QStringLiteral("Mäil box.pst")}, dir + QStringLiteral("/Mäil box.pst")},
        {{dir + QStringLiteral("/Mäil box.pst")}, dir + QStringLiteral("/Mäil box.pst")},
        {{QStringLiteral("./sub/../archive.bak")}, dir + QStringLiteral("/archive.bak")},
        {{QUrl::fromLocalFile(dir + QStringLiteral("/Mäil box.pst")).toString()},
         dir + QStringLiteral("/Mäil box.pst")},
        {{QStringLiteral("--"), QStringLiteral("-dash.pst")}, dir + QStringLiteral("/-dash.pst")},
        {{QStringLiteral("--")}, {}},
    };
    for (const Case &c : cases) {
        const CommandLine line = ParseCommandLine(c.arguments, dir);
        EXPECT_EQ(line.error, QString()) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(line.file, c.file) << c.arguments.join(' ').toStdString();
    }
}

TEST_F(CommandLineTest, OptionsASecondFileAndUnusableNamesAreRefusedByName)
{
    const QString dir = scratch("command-line-refused");
    touch(dir + QStringLiteral("/a.pst"));
    touch(dir + QStringLiteral("/b.pst"));
    ASSERT_TRUE(QDir().mkpath(dir + QStringLiteral("/folder.pst")));

    struct Case
    {
        QStringList arguments;
        QString named;
        QString reason;
    } const cases[] = {
        {{QStringLiteral("--help")},
         QStringLiteral("--help"),
         QStringLiteral("options are not accepted")},
        {{QStringLiteral("a.pst"), QStringLiteral("-v")},
         QStringLiteral("-v"),
         QStringLiteral("options are not accepted")},
        {{QStringLiteral("-")}, QStringLiteral("-"), QStringLiteral("options are not accepted")},
        {{QStringLiteral("a.pst"), QStringLiteral("b.pst")},
         QStringLiteral("b.pst"),
         QStringLiteral("only one file at a time")},
        {{QStringLiteral("--"), QStringLiteral("a.pst"), QStringLiteral("--")},
         QStringLiteral("--"),
         QStringLiteral("only one file at a time")},
        {{QStringLiteral("missing.pst")},
         QStringLiteral("missing.pst"),
         QStringLiteral("no such file")},
        {{QString()}, QString(), QStringLiteral("no such file")},
        {{QStringLiteral("folder.pst")},
         QStringLiteral("folder.pst"),
         QStringLiteral("is a directory")},
        {{QStringLiteral("https://example.org/a.pst")},
         QStringLiteral("https://example.org/a.pst"),
         QStringLiteral("no such file")},
    };
    for (const Case &c : cases) {
        const CommandLine line = ParseCommandLine(c.arguments, dir);
        const std::string context = c.arguments.join(' ').toStdString();
        EXPECT_TRUE(line.file.isEmpty()) << context;
        EXPECT_TRUE(line.error.startsWith(QStringLiteral("korvel-pst-repair: \"") + c.named +
                                          QStringLiteral("\": ") + c.reason))
            << context << ": " << line.error.toStdString();
        EXPECT_FALSE(line.error.contains(QLatin1Char('\n'))) << context;
    }
}

TEST_F(CommandLineTest, TheChooserOpensBesideTheLastFileElseAwayFromTheGuide)
{
    const QString start = scratch("chooser-start");
    const QString guide = scratch("chooser-guide");
    const QString home = scratch("chooser-home");
    touch(guide + QStringLiteral("/KorvelHelp.chm"));
    touch(home + QStringLiteral("/box.pst"));

    EXPECT_EQ(ChooserDirectory(QString(), start, home), start);
    EXPECT_EQ(ChooserDirectory(QString(), guide, home), home) << "started from the menu";
    EXPECT_EQ(ChooserDirectory(home + QStringLiteral("/box.pst"), guide, start), home);
    EXPECT_EQ(ChooserDirectory(QStringLiteral("/nonexistent/box.pst"), start, home), start);
}

TEST_F(CommandLineTest, TheProgramRefusesBadArgumentsOnStandardErrorWithoutAWindow)
{
    const QString program = QStringLiteral(KORVEL_BINARY_DIR "/app/korvel-pst-repair");
    for (const QStringList &arguments :
         {QStringList{QStringLiteral("--version")},
          QStringList{QString::fromStdString(sample_path("enron.pst")), QStringLiteral("x.pst")},
          QStringList{QStringLiteral("/nonexistent/box.pst")}}) {
        QProcess process;
        // No display at all: a refused line must not need one.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        ASSERT_TRUE(process.waitForFinished(20000)) << arguments.join(' ').toStdString();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), command_line_refused);
        const QString error = QString::fromUtf8(process.readAllStandardError());
        EXPECT_TRUE(error.startsWith(QStringLiteral("korvel-pst-repair: "))) << error.toStdString();
        EXPECT_EQ(error.count(QLatin1Char('\n')), 1) << error.toStdString();
        EXPECT_TRUE(process.readAllStandardOutput().isEmpty());
    }
}

TEST_F(CommandLineTest, AFileNamedAtStartIsChosenAsByBrowseAndScans)
{
    const QString path = QString::fromStdString(sample_path("enron.pst"));
    const CommandLine line =
        ParseCommandLine({QStringLiteral("enron.pst")}, QString::fromStdString(sample_path("")));
    ASSERT_EQ(line.file, path);

    TestDialog dialog;
    dialog.show();
    const QString work = QString::fromStdString(working_directory());
    ASSERT_TRUE(QDir().mkpath(work + QStringLiteral("/old")));
    EXPECT_TRUE(dialog.OpenMailboxFile(line.file));
    expectFileChosen(dialog, path);
    EXPECT_FALSE(QFileInfo::exists(work)) << "the last preview's files are removed as by Browse";

    click(dialog, IDC_SCAN);
    ASSERT_TRUE(waitUntil([&] { return !dialog.ScanRunning(); }));
    EXPECT_EQ(dialog.texts(), std::vector<QString>{QStringLiteral("Analysis completed")});
    ASSERT_EQ(dialog.Tree()->topLevelItemCount(), 1);
    EXPECT_GT(dialog.Tree()->topLevelItem(0)->childCount(), 0) << "the walk found the root item";
}

TEST_F(CommandLineTest, ADroppedFileIsChosenAsByBrowseWhereverItLands)
{
    const QString path = QString::fromStdString(sample_path("enron.pst"));
    const auto data = dropOf({QUrl::fromLocalFile(path)});
    for (const int target : {0, IDC_EDIT1, IDC_TREE1, IDC_LIST1, IDC_EXPLORER1}) {
        TestDialog dialog;
        dialog.show();
        QWidget *widget = target == 0 ? &dialog : dialog.GetDlgItem(target);
        EXPECT_TRUE(dragAndDrop(widget, data.get())) << target;
        expectFileChosen(dialog, path);
    }
}

TEST_F(CommandLineTest, AFileDroppedOnAShownPreviewIsChosenNotOpenedInThePane)
{
    TestDialog dialog;
    dialog.show();
    auto *pane = qobject_cast<CExplorer1 *>(dialog.GetDlgItem(IDC_EXPLORER1));
    ASSERT_NE(pane, nullptr);
    const QString page = writeWorkFile(QStringLiteral("body.html"), "<p>shown</p>");
    ASSERT_TRUE(navigateAndWait(*pane, page));
    // A page shown, the engine's own widget inside the pane is what a drop
    // meets.
    QWidget *target = pane->focusProxy() != nullptr ? pane->focusProxy() : pane;
    const QList<QWidget *> inner = pane->findChildren<QWidget *>();
    if (!inner.isEmpty()) {
        target = inner.back();
    }

    const QString path = QString::fromStdString(sample_path("enron.pst"));
    const auto data = dropOf({QUrl::fromLocalFile(path)});
    EXPECT_TRUE(dragAndDrop(target, data.get())) << target->metaObject()->className();
    expectFileChosen(dialog, path);
    EXPECT_EQ(pane->url(), CExplorer1::UrlFor(page)) << "the pane did not open the dropped file";
}

TEST_F(CommandLineTest, DropsOfAnythingButOneLocalFileAreRefused)
{
    const QString dir = scratch("drop-refused");
    touch(dir + QStringLiteral("/a.pst"));
    touch(dir + QStringLiteral("/b.pst"));
    const QList<QList<QUrl>> refused = {
        {QUrl::fromLocalFile(dir + QStringLiteral("/a.pst")),
         QUrl::fromLocalFile(dir + QStringLiteral("/b.pst"))},
        {QUrl::fromLocalFile(dir)},
        {QUrl::fromLocalFile(dir + QStringLiteral("/missing.pst"))},
        {QUrl(QStringLiteral("https://example.org/a.pst"))},
        {},
    };
    TestDialog dialog;
    dialog.show();
    for (const QList<QUrl> &urls : refused) {
        const auto data = dropOf(urls);
        EXPECT_FALSE(dragAndDrop(&dialog, data.get())) << urls.size();
        expectNothingChosen(dialog);
    }
    QMimeData text;
    text.setText(dir + QStringLiteral("/a.pst"));
    EXPECT_FALSE(dragAndDrop(&dialog, &text));
    expectNothingChosen(dialog);
}

TEST_F(CommandLineTest, ADropIsRefusedWhileBrowseIsOffAndTakenAgainAfterAScan)
{
    TestDialog dialog;
    dialog.show();
    const QString path = QString::fromStdString(sample_path("enron.pst"));
    const auto data = dropOf({QUrl::fromLocalFile(path)});
    ASSERT_TRUE(dragAndDrop(&dialog, data.get()));

    dialog.answers.push_back(QMessageBox::No);
    dialog.on_question = [&] {
        // The scan is held at the stop question: Browse is off, no drop.
        EXPECT_FALSE(enabled(dialog, IDC_BROWSE));
        EXPECT_FALSE(dragAndDrop(&dialog, data.get()));
        EXPECT_FALSE(dialog.OpenMailboxFile(path));
    };
    click(dialog, IDC_SCAN);
    click(dialog, IDC_STOP);
    ASSERT_TRUE(waitUntil([&] { return !dialog.ScanRunning(); }));
    EXPECT_EQ(dialog.texts(),
              (std::vector<QString>{QStringLiteral("Do you want to stop scan process ?"),
                                    QStringLiteral("Analysis completed")}));
    ASSERT_GT(dialog.Tree()->topLevelItem(0)->childCount(), 0);

    // After the analysis Browse is on: a drop starts afresh, as Browse would.
    dialog.on_question = nullptr;
    ASSERT_TRUE(dragAndDrop(&dialog, data.get()));
    EXPECT_EQ(states(dialog).substr(0, 4), "1110") << "Scan on, Save off, Stop as it was";
    ASSERT_EQ(dialog.Tree()->topLevelItemCount(), 1);
    EXPECT_EQ(dialog.Tree()->topLevelItem(0)->childCount(), 0);
    EXPECT_EQ(dialog.ListModel()->rowCount(), 0);
}

} // namespace
} // namespace korvel::app_testing
