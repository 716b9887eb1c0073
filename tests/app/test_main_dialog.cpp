// The main dialog before any scan: its template, menu, start state, the
// exit question, Escape, Enter, Help and About.
#include <QAction>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QTableView>
#include <QTimer>

#include "app/DialogUnits.h"
#include "app/ItemListModel.h"
#include "tests/app/dialog_fixture.h"

namespace korvel::app_testing {
namespace {

using namespace ids;

using MainDialog = DialogTest;

TEST_F(MainDialog, ControlsSitAtTheTemplateRectanglesOfAFixedSizeWindow)
{
    TestDialog dialog;
    dialog.show();
    EXPECT_TRUE(dialog.windowTitle().contains(QStringLiteral("Korvel PST Repair")));
    EXPECT_TRUE(dialog.windowTitle().contains(QStringLiteral("7.2")));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_FALSE(dialog.windowFlags() & Qt::WindowMaximizeButtonHint);

    const DialogUnits units(DialogUnits::dialogFont());
    struct Expected
    {
        int id, x, y, w, h;
    };
    const Expected expected[] = {
        {IDC_TREE1, 4, 81, 151, 289},        {IDC_EDIT1, 63, 60, 499, 17},
        {IDC_BROWSE, 565, 60, 89, 17},       {IDC_LIST1, 158, 82, 509, 92},
        {IDC_SCAN, 503, 377, 55, 19},        {IDC_SAVE, 563, 377, 66, 19},
        {IDC_STOP, 433, 377, 62, 19},        {IDC_PROGRESS1, 3, 379, 413, 14},
        {IDC_EXPLORER1, 158, 176, 509, 195},
    };
    for (const Expected &control : expected) {
        QWidget *widget = dialog.GetDlgItem(control.id);
        ASSERT_NE(widget, nullptr) << control.id;
        EXPECT_EQ(widget->geometry(), units.rect(control.x, control.y, control.w, control.h))
            << control.id;
        EXPECT_TRUE(widget->isVisible()) << control.id;
    }
    // The hidden OK and Cancel buttons exist but are never seen.
    EXPECT_FALSE(dialog.GetDlgItem(IDOK)->isVisible());
    EXPECT_FALSE(dialog.GetDlgItem(IDCANCEL)->isVisible());
    // The client area is 673 by 401 units below the menu bar.
    EXPECT_EQ(dialog.height() - dialog.MenuBar()->height(), units.y(401));
    EXPECT_EQ(dialog.width(), units.x(673));
    // The path row's label is not covered by its group box.
    QWidget *at_label = dialog.childAt(
        dialog.GetDlgItem(IDC_EDIT1)->mapTo(&dialog, QPoint(-units.x(20), units.y(5))));
    ASSERT_NE(at_label, nullptr);
    EXPECT_EQ(qobject_cast<QLabel *>(at_label) != nullptr, true);
}

TEST_F(MainDialog, ListHasTenColumnsWithGridLinesAndTheStartStateTable)
{
    TestDialog dialog;
    const QStringList headers = {"NO",   "Items", "From",     "E-mail Subject", "Date/time",
                                 "Flag", "Size",  "Priority", "Sensitivity",    "Importance"};
    const int widths[] = {0, 0, 200, 250, 120, 80, 30, 30, 30, 30};
    ASSERT_EQ(dialog.ListModel()->columnCount(), 10);
    for (int column = 0; column < 10; ++column) {
        EXPECT_EQ(dialog.ListModel()->headerData(column, Qt::Horizontal).toString(),
                  headers[column]);
        EXPECT_EQ(dialog.List()->horizontalHeader()->sectionSize(column), widths[column]);
    }
    EXPECT_TRUE(dialog.List()->showGrid());
    EXPECT_EQ(dialog.List()->selectionBehavior(), QAbstractItemView::SelectItems);

    EXPECT_TRUE(button(dialog, IDC_BROWSE)->isEnabled());
    EXPECT_FALSE(button(dialog, IDC_SCAN)->isEnabled());
    EXPECT_FALSE(button(dialog, IDC_STOP)->isEnabled());
    EXPECT_FALSE(button(dialog, IDC_SAVE)->isEnabled());
    EXPECT_TRUE(dialog.Tree()->isEnabled());
    EXPECT_TRUE(dialog.MenuCommand(ID_FILE_OPEN)->isEnabled());
    EXPECT_FALSE(dialog.MenuCommand(ID_FILE_SCAN)->isEnabled());
    EXPECT_FALSE(dialog.MenuCommand(ID_FILE_CONVERT)->isEnabled());
    EXPECT_EQ(dialog.Progress()->value(), 0);
    EXPECT_EQ(CMailvaneDlg::Instance(), &dialog);

    const QStringList menu = {"Open", "Scan",    "Convert",
                              "Exit", "Content", "About Korvel PST Repair"};
    const int commands[] = {ID_FILE_OPEN, ID_FILE_SCAN,    ID_FILE_CONVERT,
                            ID_FILE_EXIT, ID_HELP_CONTENT, ID_HELP_ABOUT};
    for (int i = 0; i < 6; ++i) {
        ASSERT_NE(dialog.MenuCommand(commands[i]), nullptr);
        EXPECT_EQ(dialog.MenuCommand(commands[i])->text(), menu[i]);
    }
}

TEST_F(MainDialog, ExitQuestionOnCloseAndFileExitEndsAtOnceOnlyOnYes)
{
    TestDialog dialog;
    dialog.show();
    dialog.close();
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].text, QStringLiteral("Do you want to Exit ?       "));
    EXPECT_EQ(dialog.boxes[0].caption, QStringLiteral("Korvel PST Repair"));
    EXPECT_EQ(dialog.boxes[0].icon, QMessageBox::Question);
    EXPECT_EQ(dialog.boxes[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_TRUE(dialog.boxes[0].owned);
    EXPECT_EQ(dialog.immediate_ends, 0);
    EXPECT_TRUE(dialog.isVisible());

    dialog.answers.push_back(QMessageBox::Yes);
    dialog.MenuCommand(ID_FILE_EXIT)->trigger();
    EXPECT_EQ(dialog.boxes.size(), 2u);
    EXPECT_EQ(dialog.immediate_ends, 1);
    EXPECT_EQ(dialog.runtime_ends, 0);
}

TEST_F(MainDialog, EscapeEndsTheDialogWithoutTheQuestion)
{
    TestDialog dialog;
    dialog.show();
    dialog.activateWindow();
    keyClick(dialog.GetDlgItem(IDC_EDIT1), Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_TRUE(dialog.boxes.empty());
}

TEST_F(MainDialog, EnterMovesTheFocusLikeTabAndNeverPressesAButton)
{
    TestDialog dialog;
    dialog.show();
    QApplication::setActiveWindow(&dialog);
    QWidget *browse = dialog.GetDlgItem(IDC_BROWSE);
    browse->setFocus();
    ASSERT_TRUE(waitUntil([&] { return browse->hasFocus(); }, 2000));
    keyClick(browse, Qt::Key_Return);
    EXPECT_EQ(dialog.chooser_calls, 0);
    EXPECT_FALSE(browse->hasFocus());
    EXPECT_TRUE(dialog.isVisible());

    // From the path box, Enter goes on to Browse without pressing it.
    dialog.PathBox()->setFocus();
    keyClick(dialog.PathBox(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_TRUE(browse->hasFocus());
    EXPECT_EQ(dialog.chooser_calls, 0);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
}

TEST_F(MainDialog, HelpOpensTheHelpFileOfTheStartDirectory)
{
    const QString before = QDir::currentPath();
    const std::string start = testing::scratch_directory("app-help-start");
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(start)));
    TestDialog dialog;
    // A later change of directory does not move the help file.
    ASSERT_TRUE(QDir::setCurrent(before));
    dialog.MenuCommand(ID_HELP_CONTENT)->trigger();
    ASSERT_EQ(dialog.opened_documents.size(), 1u);
    EXPECT_EQ(dialog.opened_documents[0],
              QDir(QString::fromStdString(start)).absolutePath() + "/KorvelHelp.chm");
    // Missing or not, nothing of ours is shown.
    EXPECT_TRUE(dialog.boxes.empty());
}

TEST_F(MainDialog, AboutFromTheMenuAndFromTheSystemMenuEntry)
{
    TestDialog dialog;
    dialog.show();
    int shown = 0;
    const auto close_about = [&] {
        if (auto *about = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
            if (about->objectName() == QStringLiteral("CAboutDlg")) {
                ++shown;
                mouseClick(about->findChild<QPushButton *>(QStringLiteral("ok")));
            }
        }
    };
    QTimer::singleShot(50, close_about);
    dialog.MenuCommand(ID_HELP_ABOUT)->trigger();
    QTimer::singleShot(50, close_about);
    dialog.OnSysCommand(IDM_ABOUTBOX | 0x0003);
    EXPECT_EQ(shown, 2);
    // Other system commands are not ours.
    dialog.OnSysCommand(0xF060);
    EXPECT_EQ(shown, 2);
}

TEST_F(MainDialog, TextTypedIntoThePathBoxIsNotWhatScanOpens)
{
    TestDialog dialog;
    dialog.show();
    const std::string path = testing::sample_path("enron.pst");
    dialog.chooser_answers.push_back(QString::fromStdString(path));
    click(dialog, IDC_BROWSE);
    keyClicks(dialog.PathBox(), QStringLiteral("/nowhere.pst"));
    click(dialog, IDC_SCAN);
    ASSERT_TRUE(waitUntil([&] { return !dialog.ScanRunning(); }));
    EXPECT_EQ(dialog.texts(), std::vector<QString>{QStringLiteral("Analysis completed")});
}

} // namespace
} // namespace korvel::app_testing
