// The main dialog under test: one QApplication for the program, a dialog
// whose file chooser, message boxes, shell and process end are answered by
// the test, and helpers that wait for the workers while the window thread
// keeps serving them.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPushButton>
#include <QThread>
#include <QTreeWidgetItem>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/CFolderTreeCtrl1.h"
#include "app/CMailvaneDlg.h"
#include "app/CSaveDlg.h"
#include "app/ItemListModel.h"
#include "app/resource_ids.h"
#include "preview/browser/CExplorer1.h"
#include "tests/support/samples.h"

namespace korvel::app_testing {

// The application object, made once and ended after the last test (the
// browser engine must shut down with it, before the process's own exit).
inline QApplication *&applicationSlot()
{
    static QApplication *app = nullptr;
    return app;
}

// The working directory goes below the build tree, one per test process.
inline QApplication &application()
{
    QApplication *&app = applicationSlot();
    if (app == nullptr) {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        const std::string tmp =
            korvel::testing::scratch_directory("app-tmp-" + std::to_string(::getpid()));
        ::setenv("TMPDIR", tmp.c_str(), 1);
        // The preview pane's engine offscreen: no GPU, and no sandbox (it
        // refuses to start one as root).
        if (!qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS")) {
            qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu --no-sandbox");
        }
        if (::geteuid() == 0) {
            ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
        }
        CExplorer1::RegisterSchemes();
        static int argc = 1;
        static char name[] = "test_app";
        static char *argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
    }
    return *app;
}

class ApplicationEnvironment : public ::testing::Environment
{
public:
    void TearDown() override
    {
        delete applicationSlot();
        applicationSlot() = nullptr;
    }
};

inline ::testing::Environment *const application_environment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

struct AskedBox
{
    QMessageBox::Icon icon;
    QString caption;
    QString text;
    QMessageBox::StandardButtons buttons;
    bool owned;
    // The box's details ("" when it has none).
    QString details;
    // What Enter answers (NoButton: the box's own choice).
    QMessageBox::StandardButton default_button = QMessageBox::NoButton;
};

class TestDialog : public CMailvaneDlg
{
public:
    // Paths the choosers (Browse's and the save target's) return in turn; an
    // empty queue cancels.
    std::deque<QString> chooser_answers;
    int chooser_calls = 0;
    // The save target chooser: directory or file, and the path it started at.
    std::vector<std::pair<bool, QString>> target_chooser_calls;
    // Fills in the save dialog while it is shown (it is Cancelled unless this
    // presses OK); without it every save dialog is cancelled.
    std::function<void(CSaveDlg &)> on_save_dialog;
    int save_dialogs = 0;
    // Every box asked, in order.
    std::vector<AskedBox> boxes;
    // Answers to questions in turn (No when none is left).
    std::deque<QMessageBox::StandardButton> answers;
    // Runs when a question is asked, before it is answered.
    std::function<void()> on_question;
    // Runs for every box, when it is asked.
    std::function<void(const AskedBox &)> on_box;
    // Shows the window's real boxes (after on_box) instead of answering them.
    bool real_boxes = false;
    std::vector<QString> opened_documents;
    int immediate_ends = 0;
    int runtime_ends = 0;

    std::vector<QString> texts() const
    {
        std::vector<QString> result;
        for (const AskedBox &box : boxes) {
            result.push_back(box.text);
        }
        return result;
    }

protected:
    QString ChooseMailboxFile() override
    {
        ++chooser_calls;
        if (chooser_answers.empty()) {
            return {};
        }
        QString path = chooser_answers.front();
        chooser_answers.pop_front();
        return path;
    }

    QMessageBox::StandardButton AskUser(QMessageBox::Icon icon, const QString &caption,
                                        const QString &text, QMessageBox::StandardButtons buttons,
                                        QWidget *owner,
                                        QMessageBox::StandardButton defaultButton) override
    {
        EXPECT_EQ(QThread::currentThread(), thread()) << "a box away from the window thread";
        boxes.push_back(
            {icon, caption, text, buttons, owner != nullptr, QString(), defaultButton});
        if (on_box) {
            on_box(boxes.back());
        }
        if (real_boxes) {
            return CMailvaneDlg::AskUser(icon, caption, text, buttons, owner, defaultButton);
        }
        if (!(buttons & QMessageBox::Yes)) {
            return QMessageBox::Ok;
        }
        if (on_question) {
            on_question();
        }
        if (answers.empty()) {
            return QMessageBox::No;
        }
        const QMessageBox::StandardButton answer = answers.front();
        answers.pop_front();
        return answer;
    }

    int RunSaveDialog(CSaveDlg &dialog) override
    {
        ++save_dialogs;
        dialog.show();
        if (on_save_dialog) {
            on_save_dialog(dialog);
        }
        if (dialog.isVisible()) {
            dialog.reject();
        }
        return dialog.result();
    }

    QString ChooseSaveTarget(bool directory, const QString &current) override
    {
        target_chooser_calls.emplace_back(directory, current);
        return ChooseMailboxFile();
    }

    void ShowReport(QMessageBox::Icon icon, const QString &caption, const QString &text,
                    const QString &details) override
    {
        EXPECT_EQ(QThread::currentThread(), thread()) << "a box away from the window thread";
        boxes.push_back({icon, caption, text, QMessageBox::Ok, true, details, QMessageBox::NoButton});
        if (on_box) {
            on_box(boxes.back());
        }
    }

    void OpenDocument(const QString &path) override { opened_documents.push_back(path); }

    void EndProcess(ProcessEnd how) override
    {
        if (how == ProcessEnd::immediate) {
            ++immediate_ends;
        } else {
            ++runtime_ends;
        }
    }
};

// Serves the window thread until done() holds or the time is up.
inline bool waitUntil(const std::function<bool()> &done, int milliseconds = 30000)
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    // Whatever the last worker queued is shown now.
    QCoreApplication::processEvents();
    return true;
}

inline void pumpFor(int milliseconds)
{
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

// Input as the window system delivers it to a widget (through the
// application, so its event filters see it).
inline void mouseClick(QWidget *widget, QPoint point = QPoint(-1, -1))
{
    if (point == QPoint(-1, -1)) {
        point = widget->rect().center();
    }
    const QPointF local(point);
    const QPointF global = widget->mapToGlobal(local);
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

inline void keyClick(QWidget *widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                     const QString &text = QString())
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(widget, &release);
}

inline void keyClicks(QWidget *widget, const QString &text)
{
    for (const QChar c : text) {
        keyClick(widget, 0, Qt::NoModifier, QString(c));
    }
}

inline QPushButton *button(const CMailvaneDlg &dialog, int id)
{
    return qobject_cast<QPushButton *>(dialog.GetDlgItem(id));
}

inline void click(const CMailvaneDlg &dialog, int id)
{
    mouseClick(button(dialog, id));
}

// Items of the folder tree in pre-order with their depth.
struct ShownItem
{
    int level;
    int image;
    bool bold;
    QString text;
};

inline std::vector<ShownItem> shownTree(const CFolderTreeCtrl1 &tree)
{
    std::vector<ShownItem> items;
    std::function<void(QTreeWidgetItem *, int)> visit = [&](QTreeWidgetItem *item, int level) {
        items.push_back({level, tree.ImageOf(item), CFolderTreeCtrl1::IsBold(item), item->text(0)});
        for (int i = 0; i < item->childCount(); ++i) {
            visit(item->child(i), level + 1);
        }
    };
    for (int i = 0; i < tree.topLevelItemCount(); ++i) {
        visit(tree.topLevelItem(i), 0);
    }
    return items;
}

// The item at a path of names below the root item ("A/B/C"), or nullptr.
inline QTreeWidgetItem *treeItem(const CFolderTreeCtrl1 &tree, const QString &path)
{
    QTreeWidgetItem *item = tree.topLevelItem(0);
    for (const QString &name : path.split(QLatin1Char('/'))) {
        QTreeWidgetItem *found = nullptr;
        for (int i = 0; item != nullptr && i < item->childCount() && found == nullptr; ++i) {
            if (item->child(i)->text(0) == name) {
                found = item->child(i);
            }
        }
        item = found;
    }
    return item;
}

// A left click on the item's label, as the user makes it.
inline void clickItem(CFolderTreeCtrl1 &tree, QTreeWidgetItem *item)
{
    tree.scrollToItem(item);
    const QRect rect = tree.visualItemRect(item);
    const QRect check = tree.CheckBoxRect(item);
    const QPoint point(check.right() + 24, rect.center().y());
    mouseClick(tree.viewport(), point);
}

inline void clickCheckBox(CFolderTreeCtrl1 &tree, QTreeWidgetItem *item)
{
    tree.scrollToItem(item);
    mouseClick(tree.viewport(), tree.CheckBoxRect(item).center());
}

class DialogTest : public ::testing::Test
{
protected:
    void SetUp() override { application(); }

    // Browse picks path, then Scan runs to its end.
    static void browseAndScan(TestDialog &dialog, const std::string &path)
    {
        dialog.chooser_answers.push_back(QString::fromStdString(path));
        click(dialog, ids::IDC_BROWSE);
        click(dialog, ids::IDC_SCAN);
        ASSERT_TRUE(waitUntil([&] { return !dialog.ScanRunning(); }));
    }

    static void fillFolder(TestDialog &dialog, const QString &path)
    {
        QTreeWidgetItem *item = treeItem(*dialog.Tree(), path);
        ASSERT_NE(item, nullptr) << path.toStdString();
        clickItem(*dialog.Tree(), item);
        ASSERT_TRUE(waitUntil([&] { return !dialog.FillRunning(); }));
    }
};

} // namespace korvel::app_testing
