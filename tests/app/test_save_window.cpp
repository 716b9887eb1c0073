// Save and File > Convert through the real window on a copy of the sample
// mailbox: the save dialog's checks, the worker with Stop, and what the new
// file holds, read back through libpff.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTableView>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "tests/app/dialog_fixture.h"
#include "tests/support/pst_builder.h"
#include "tests/support/pst_damage.h"

namespace korvel::app_testing {
namespace {

using namespace ids;
using testing::sample_path;
namespace fs = std::filesystem;

using SaveWindow = DialogTest;

const QString caption = QStringLiteral("Korvel PST Repair");
const QString stop_question = QStringLiteral("Do you want to stop scan process ?");
const QString mlokay = QStringLiteral("Top of Personal Folders/lokay-m/MLOKAY (Non-Privileged)");
const QString personal = mlokay + QStringLiteral("/Personal");

// The sample mailbox copied into a fresh directory, so the default target
// beside it lands there.
std::string sourceCopy(const std::string &test)
{
    const fs::path dir = testing::scratch_directory("save-window-" + test);
    const fs::path copy = dir / "enron.pst";
    fs::copy_file(sample_path("enron.pst"), copy);
    return copy.string();
}

std::string fileBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> directoryEntries(const fs::path &dir)
{
    std::set<std::string> names;
    for (const fs::directory_entry &entry : fs::directory_iterator(dir)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Messages per folder path ("/Top of Personal Folders/Inbox"), as libpff
// reads the file; empty when libpff cannot open it.
std::map<std::string, int> messageCounts(const std::string &path)
{
    std::map<std::string, int> counts;
    libpff_file_t *file = nullptr;
    if (libpff_file_initialize(&file, nullptr) != 1) {
        return counts;
    }
    libpff_item_t *root = nullptr;
    if (libpff_file_open(file, path.c_str(), LIBPFF_OPEN_READ, nullptr) == 1 &&
        libpff_file_get_root_folder(file, &root, nullptr) == 1) {
        std::function<void(libpff_item_t *, const std::string &)> visit =
            [&](libpff_item_t *folder, const std::string &folder_path) {
                int messages = 0;
                EXPECT_EQ(libpff_folder_get_number_of_sub_messages(folder, &messages, nullptr), 1);
                counts[folder_path] += messages;
                int folders = 0;
                EXPECT_EQ(libpff_folder_get_number_of_sub_folders(folder, &folders, nullptr), 1);
                for (int i = 0; i < folders; ++i) {
                    libpff_item_t *sub = nullptr;
                    if (libpff_folder_get_sub_folder(folder, i, &sub, nullptr) != 1) {
                        ADD_FAILURE() << "sub-folder " << i << " of " << folder_path;
                        continue;
                    }
                    std::size_t size = 0;
                    std::string name;
                    if (libpff_folder_get_utf8_name_size(sub, &size, nullptr) == 1 && size > 0) {
                        name.resize(size);
                        libpff_folder_get_utf8_name(sub, reinterpret_cast<uint8_t *>(name.data()),
                                                    size, nullptr);
                        name.resize(size - 1);
                    }
                    visit(sub, folder_path + "/" + name);
                    libpff_item_free(&sub, nullptr);
                }
            };
        visit(root, "");
        libpff_item_free(&root, nullptr);
    }
    libpff_file_close(file, nullptr);
    libpff_file_free(&file, nullptr);
    return counts;
}

// The counts with the folders of recovered items taken out: returns how many
// messages those held.
int takeRecovered(std::map<std::string, int> &counts)
{
    int recovered = 0;
    for (auto it = counts.begin(); it != counts.end();) {
        if (it->first.find("/Recovered Items") != std::string::npos) {
            recovered += it->second;
            it = counts.erase(it);
        } else {
            ++it;
        }
    }
    return recovered;
}

int total(const std::map<std::string, int> &counts)
{
    int sum = 0;
    for (const auto &[path, messages] : counts) {
        sum += messages;
    }
    return sum;
}

// A number from the end-of-save box ("Items saved: 123").
int reported(const QString &text, const QString &label)
{
    const QRegularExpression pattern(QRegularExpression::escape(label) +
                                     QStringLiteral(": (\\d+)"));
    const QRegularExpressionMatch match = pattern.match(text);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

// Presses OK on the save dialog as it opened (or after adjust).
std::function<void(CSaveDlg &)> pressOk(std::function<void(CSaveDlg &)> adjust = {})
{
    return [adjust](CSaveDlg &save) {
        if (adjust) {
            adjust(save);
        }
        mouseClick(save.OkButton());
    };
}

TEST_F(SaveWindow, SaveWritesACopyWithEveryMessageAndReportsItInOneBox)
{
    TestDialog dialog;
    dialog.show();
    const std::string source = sourceCopy("flow");
    const std::string source_bytes = fileBytes(source);

    // Before a scan File > Convert has nothing to save: it says so.
    dialog.MenuCommand(ID_FILE_CONVERT)->setEnabled(true);
    dialog.MenuCommand(ID_FILE_CONVERT)->trigger();
    EXPECT_EQ(dialog.save_dialogs, 0);
    ASSERT_EQ(dialog.boxes.size(), 1u);
    dialog.boxes.clear();

    browseAndScan(dialog, source);
    dialog.boxes.clear();
    const std::string target = (fs::path(source).parent_path() / "enron-repaired.pst").string();
    bool defaults_seen = false;
    dialog.on_save_dialog = pressOk([&](CSaveDlg &save) {
        // PST first and chosen, the target beside the source, recovered on.
        EXPECT_EQ(save.FormatBox()->currentText(), QStringLiteral("PST"));
        EXPECT_EQ(save.FormatBox()->count(), static_cast<int>(SaveFormats().size()));
        EXPECT_EQ(save.TargetBox()->text().toStdString(), target);
        EXPECT_TRUE(save.RecoveredBox()->isChecked());
        defaults_seen = true;
    });
    int highest_progress = 0;
    QObject::connect(dialog.Progress(), &QProgressBar::valueChanged,
                     [&](int value) { highest_progress = std::max(highest_progress, value); });
    click(dialog, IDC_SAVE);
    EXPECT_TRUE(defaults_seen);
    ASSERT_TRUE(dialog.SaveRunning());
    ASSERT_TRUE(waitUntil([&] { return !dialog.SaveRunning(); }, 120000));

    ASSERT_EQ(dialog.boxes.size(), 1u) << dialog.boxes[0].text.toStdString();
    const AskedBox &box = dialog.boxes[0];
    EXPECT_EQ(box.caption, caption);
    EXPECT_NE(box.icon, QMessageBox::Critical) << box.text.toStdString();
    EXPECT_GT(highest_progress, 0);
    EXPECT_EQ(dialog.Progress()->value(), 0);

    // Nothing but the copy is left beside the source, which is untouched.
    EXPECT_EQ(directoryEntries(fs::path(source).parent_path()),
              (std::set<std::string>{"enron.pst", "enron-repaired.pst"}));
    EXPECT_EQ(fileBytes(source), source_bytes);

    std::map<std::string, int> expected = messageCounts(source);
    std::map<std::string, int> copy = messageCounts(target);
    ASSERT_FALSE(copy.empty()) << "libpff cannot open the copy";
    const int recovered = takeRecovered(copy);
    takeRecovered(expected);
    EXPECT_EQ(copy, expected);
    EXPECT_EQ(reported(box.text, QStringLiteral("Items recovered")), recovered);
    EXPECT_GE(reported(box.text, QStringLiteral("Items saved")), total(expected));
    const int unreadable = reported(box.text, QStringLiteral("Items that could not be read"));
    EXPECT_EQ(unreadable == 0, box.details.isEmpty());

    // The window is as the scan left it; File > Convert opens the same flow.
    EXPECT_TRUE(button(dialog, IDC_SAVE)->isEnabled());
    EXPECT_TRUE(button(dialog, IDC_BROWSE)->isEnabled());
    EXPECT_TRUE(dialog.Tree()->isEnabled());
    EXPECT_TRUE(dialog.List()->isEnabled());
    EXPECT_TRUE(dialog.MenuCommand(ID_FILE_CONVERT)->isEnabled());
    dialog.on_save_dialog = nullptr;
    dialog.MenuCommand(ID_FILE_CONVERT)->trigger();
    EXPECT_EQ(dialog.save_dialogs, 2);
    EXPECT_FALSE(dialog.SaveRunning()) << "a cancelled dialog starts nothing";
}

TEST_F(SaveWindow, StopDuringASaveAsksTheScansQuestionAndYesLeavesNoFile)
{
    TestDialog dialog;
    dialog.show();
    const std::string source = sourceCopy("stop");
    browseAndScan(dialog, source);
    fillFolder(dialog, personal);
    const int rows = dialog.ListModel()->rowCount();
    const std::size_t tree_items = shownTree(*dialog.Tree()).size();
    dialog.boxes.clear();

    // The walk waits at its first check until Stop has asked.
    dialog.State().gate.hold();
    dialog.on_save_dialog = pressOk();
    click(dialog, IDC_SAVE);
    ASSERT_TRUE(dialog.SaveRunning());
    pumpFor(100);

    // Nothing else reads the mailbox meanwhile: no fill, no Browse, no Save.
    EXPECT_FALSE(dialog.Tree()->isEnabled());
    EXPECT_FALSE(dialog.List()->isEnabled());
    EXPECT_FALSE(button(dialog, IDC_SAVE)->isEnabled());
    EXPECT_FALSE(button(dialog, IDC_BROWSE)->isEnabled());
    EXPECT_FALSE(dialog.MenuCommand(ID_FILE_CONVERT)->isEnabled());
    EXPECT_TRUE(button(dialog, IDC_STOP)->isEnabled());
    emit dialog.Tree()->treeClicked();
    EXPECT_FALSE(dialog.FillRunning());
    dialog.OnBnClickedSave();
    EXPECT_EQ(dialog.save_dialogs, 1);

    // No: the save goes on to its report.
    dialog.answers.push_back(QMessageBox::No);
    click(dialog, IDC_STOP);
    ASSERT_FALSE(dialog.texts().empty());
    EXPECT_EQ(dialog.texts()[0], stop_question);
    EXPECT_EQ(dialog.boxes[0].icon, QMessageBox::Question);
    EXPECT_EQ(dialog.boxes[0].caption, caption);
    EXPECT_TRUE(dialog.boxes[0].owned);
    ASSERT_TRUE(waitUntil([&] { return !dialog.SaveRunning(); }, 120000));
    ASSERT_EQ(dialog.boxes.size(), 2u);
    EXPECT_TRUE(dialog.boxes[1].text.contains(QStringLiteral("Items saved")));
    const fs::path target = fs::path(source).parent_path() / "enron-repaired.pst";
    ASSERT_TRUE(fs::remove(target));

    // Yes: the save ends without a word.
    dialog.boxes.clear();
    dialog.State().gate.hold();
    click(dialog, IDC_SAVE);
    ASSERT_TRUE(dialog.SaveRunning());
    dialog.answers.push_back(QMessageBox::Yes);
    click(dialog, IDC_STOP);
    ASSERT_TRUE(waitUntil([&] { return !dialog.SaveRunning(); }, 120000));

    // Nothing more is shown and nothing is left beside the source.
    EXPECT_EQ(dialog.texts(), std::vector<QString>{stop_question});
    EXPECT_EQ(directoryEntries(fs::path(source).parent_path()), std::set<std::string>{"enron.pst"});
    // The scan's results stay; the next fill and save work.
    EXPECT_EQ(shownTree(*dialog.Tree()).size(), tree_items);
    EXPECT_EQ(dialog.ListModel()->rowCount(), rows);
    EXPECT_TRUE(dialog.Tree()->isEnabled());
    EXPECT_TRUE(button(dialog, IDC_SAVE)->isEnabled());
    EXPECT_FALSE(dialog.State().stop_requested);
    fillFolder(dialog, personal);
    EXPECT_EQ(dialog.ListModel()->rowCount(), rows);
}

TEST_F(SaveWindow, YesToAStopQuestionThatOutlivedTheSaveStopsNothing)
{
    TestDialog dialog;
    dialog.show();
    const std::string source = sourceCopy("late-stop");
    browseAndScan(dialog, source);
    dialog.boxes.clear();
    dialog.State().gate.hold();
    dialog.on_save_dialog = pressOk();
    click(dialog, IDC_SAVE);
    ASSERT_TRUE(dialog.SaveRunning());
    // The save runs to its end while the question is still open.
    dialog.on_question = [&] {
        dialog.State().gate.release();
        ASSERT_TRUE(waitUntil([&] { return !dialog.SaveRunning(); }, 120000));
    };
    dialog.answers.push_back(QMessageBox::Yes);
    click(dialog, IDC_STOP);
    EXPECT_FALSE(dialog.State().stop_requested);
    EXPECT_TRUE(fs::exists(fs::path(source).parent_path() / "enron-repaired.pst"));
    // The next fill lists its folder in full.
    fillFolder(dialog, personal);
    EXPECT_GT(dialog.ListModel()->rowCount(), 0);
}

TEST_F(SaveWindow, BrowseDuringASaveWaitsForItsEnd)
{
    TestDialog dialog;
    dialog.show();
    const std::string source = sourceCopy("browse");
    browseAndScan(dialog, source);
    dialog.boxes.clear();
    dialog.State().gate.hold();
    dialog.on_save_dialog = pressOk();
    click(dialog, IDC_SAVE);
    ASSERT_TRUE(dialog.SaveRunning());
    const int chooser_calls = dialog.chooser_calls;
    dialog.OnBnClickedBrowse();
    dialog.OnBnClickedScan();
    EXPECT_EQ(dialog.chooser_calls, chooser_calls);
    EXPECT_FALSE(dialog.ScanRunning());

    dialog.State().gate.release();
    ASSERT_TRUE(waitUntil(
        [&] { return !dialog.SaveRunning() && !dialog.ScanRunning() && dialog.boxes.size() >= 2; },
        120000));
    // The report first, then the chooser and the scan the user asked for.
    ASSERT_EQ(dialog.boxes.size(), 2u);
    EXPECT_TRUE(dialog.boxes[0].text.contains(QStringLiteral("Items saved")));
    EXPECT_EQ(dialog.boxes[1].text, QStringLiteral("Analysis completed"));
    EXPECT_EQ(dialog.chooser_calls, chooser_calls + 1);
    EXPECT_TRUE(fs::exists(fs::path(source).parent_path() / "enron-repaired.pst"));
}

TEST_F(SaveWindow, SavePressedDuringAFillOpensWhenTheFillEnds)
{
    TestDialog dialog;
    dialog.show();
    const std::string source = sourceCopy("deferred");
    browseAndScan(dialog, source);
    dialog.State().gate.hold();
    clickItem(*dialog.Tree(), treeItem(*dialog.Tree(), personal));
    ASSERT_TRUE(dialog.FillRunning());
    dialog.on_save_dialog = pressOk();
    click(dialog, IDC_SAVE);
    EXPECT_EQ(dialog.save_dialogs, 0) << "the fill owns the mailbox";
    EXPECT_FALSE(dialog.SaveRunning());
    dialog.State().gate.release();
    ASSERT_TRUE(waitUntil([&] { return !dialog.FillRunning() && dialog.save_dialogs == 1; }));
    ASSERT_TRUE(waitUntil([&] { return !dialog.SaveRunning(); }, 120000));
    EXPECT_TRUE(fs::exists(fs::path(source).parent_path() / "enron-repaired.pst"));
    EXPECT_TRUE(dialog.Tree()->isEnabled());
}

TEST_F(SaveWindow, TargetChecksRefuseTheSourceAndAMissingFolderAndKeepTheDialogOpen)
{
    TestDialog dialog;
    dialog.show();
    const std::string source = sourceCopy("refuse");
    const std::string source_bytes = fileBytes(source);
    const fs::path dir = fs::path(source).parent_path();
    fs::create_symlink(source, dir / "link.pst");
    browseAndScan(dialog, source);
    dialog.boxes.clear();

    std::vector<bool> open_after_ok;
    dialog.on_save_dialog = [&](CSaveDlg &save) {
        // The chooser picks the source itself; then a link to it; then a name
        // in a folder that does not exist; then nothing (typed blank).
        dialog.chooser_answers.push_back(QString::fromStdString(source));
        mouseClick(save.ChooseButton());
        EXPECT_EQ(save.TargetBox()->text().toStdString(), source);
        mouseClick(save.OkButton());
        open_after_ok.push_back(save.isVisible());
        save.TargetBox()->setText(QString::fromStdString((dir / "link.pst").string()));
        mouseClick(save.OkButton());
        open_after_ok.push_back(save.isVisible());
        save.TargetBox()->setText(QString::fromStdString((dir / "missing" / "x.pst").string()));
        mouseClick(save.OkButton());
        open_after_ok.push_back(save.isVisible());
        save.TargetBox()->setText(QStringLiteral("  "));
        mouseClick(save.OkButton());
        open_after_ok.push_back(save.isVisible());
        // A cancelled chooser keeps what the box holds.
        mouseClick(save.ChooseButton());
        EXPECT_EQ(save.TargetBox()->text(), QStringLiteral("  "));
        mouseClick(save.CancelButton());
    };
    click(dialog, IDC_SAVE);

    EXPECT_EQ(open_after_ok, (std::vector<bool>{true, true, true, true}));
    ASSERT_EQ(dialog.boxes.size(), 4u);
    for (const AskedBox &box : dialog.boxes) {
        EXPECT_EQ(box.caption, caption);
        EXPECT_NE(box.icon, QMessageBox::Question) << box.text.toStdString();
        EXPECT_FALSE(box.buttons & QMessageBox::Yes) << "a refusal offers no way on";
    }
    EXPECT_TRUE(dialog.boxes[0].text.contains(QString::fromStdString(source)));
    EXPECT_TRUE(dialog.boxes[0].text.contains(QStringLiteral("never written")));
    EXPECT_TRUE(dialog.boxes[1].text.contains(QStringLiteral("never written")));
    EXPECT_TRUE(dialog.boxes[2].text.contains(QStringLiteral("does not exist")));
    ASSERT_EQ(dialog.target_chooser_calls.size(), 2u);
    EXPECT_FALSE(dialog.target_chooser_calls[0].first) << "a PST target is a file";
    EXPECT_FALSE(dialog.SaveRunning());
    EXPECT_EQ(fileBytes(source), source_bytes);
    EXPECT_EQ(directoryEntries(dir), (std::set<std::string>{"enron.pst", "link.pst"}));
}

TEST_F(SaveWindow, AnExistingTargetIsReplacedOnlyAfterYes)
{
    TestDialog dialog;
    dialog.show();
    const std::string source = sourceCopy("replace");
    const fs::path target = fs::path(source).parent_path() / "enron-repaired.pst";
    {
        std::ofstream out(target, std::ios::binary);
        out << "the user's own file\n";
    }
    const std::string kept = fileBytes(target.string());
    browseAndScan(dialog, source);
    dialog.boxes.clear();

    // No: the dialog stays for another name; Cancel then changes nothing.
    bool open_after_no = false;
    dialog.on_save_dialog = [&](CSaveDlg &save) {
        dialog.answers.push_back(QMessageBox::No);
        mouseClick(save.OkButton());
        open_after_no = save.isVisible();
        mouseClick(save.CancelButton());
    };
    click(dialog, IDC_SAVE);
    EXPECT_TRUE(open_after_no);
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].icon, QMessageBox::Question);
    EXPECT_TRUE(dialog.boxes[0].text.contains(QString::fromStdString(target.string())));
    EXPECT_FALSE(dialog.SaveRunning());
    pumpFor(100);
    EXPECT_EQ(fileBytes(target.string()), kept);

    // Yes: the save replaces it with the new mailbox.
    dialog.boxes.clear();
    dialog.answers.push_back(QMessageBox::Yes);
    dialog.on_save_dialog = pressOk();
    click(dialog, IDC_SAVE);
    ASSERT_TRUE(waitUntil([&] { return !dialog.SaveRunning(); }, 120000));
    ASSERT_EQ(dialog.boxes.size(), 2u);
    EXPECT_NE(dialog.boxes[1].icon, QMessageBox::Critical) << dialog.boxes[1].text.toStdString();
    EXPECT_NE(fileBytes(target.string()), kept);
    EXPECT_FALSE(messageCounts(target.string()).empty());
}

// The real question box, answered by a stray Enter: No, the file stays.
TEST_F(SaveWindow, EnterAtTheReplaceQuestionKeepsTheFile)
{
    TestDialog dialog;
    dialog.show();
    const std::string source = sourceCopy("replace-enter");
    const fs::path target = fs::path(source).parent_path() / "enron-repaired.pst";
    {
        std::ofstream out(target, std::ios::binary);
        out << "the user's own file\n";
    }
    const std::string kept = fileBytes(target.string());
    browseAndScan(dialog, source);
    dialog.boxes.clear();

    dialog.real_boxes = true;
    QString answered_box;
    dialog.on_box = [&](const AskedBox &) {
        // Runs once the box's own event loop has started.
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            answered_box = box->text();
            keyClick(box, Qt::Key_Return);
        });
    };
    bool open_after_enter = false;
    dialog.on_save_dialog = [&](CSaveDlg &save) {
        mouseClick(save.OkButton());
        open_after_enter = save.isVisible();
        mouseClick(save.CancelButton());
    };
    click(dialog, IDC_SAVE);
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_TRUE(answered_box.contains(QStringLiteral("replace")));
    EXPECT_TRUE(open_after_enter);
    EXPECT_FALSE(dialog.SaveRunning());
    pumpFor(100);
    EXPECT_EQ(fileBytes(target.string()), kept);
}

TEST_F(SaveWindow, CheckedFoldersLimitWhatIsSaved)
{
    TestDialog dialog;
    dialog.show();
    const std::string source = sourceCopy("checked");
    browseAndScan(dialog, source);
    dialog.boxes.clear();
    CFolderTreeCtrl1 &tree = *dialog.Tree();
    QTreeWidgetItem *parent = treeItem(tree, mlokay);
    ASSERT_NE(parent, nullptr);
    ASSERT_GT(parent->childCount(), 1);

    // Checking a folder checks its sub-folders: the save takes it once.
    clickCheckBox(tree, parent);
    ASSERT_TRUE(CFolderTreeCtrl1::IsChecked(parent->child(0)));
    EXPECT_EQ(CSaveDlg::CheckedFolders(tree, dialog.State().folders).size(), 1u);
    // The mailbox's own item checks everything: the whole mailbox.
    clickCheckBox(tree, tree.topLevelItem(0));
    EXPECT_TRUE(CSaveDlg::CheckedFolders(tree, dialog.State().folders).empty());
    clickCheckBox(tree, tree.topLevelItem(0));
    EXPECT_FALSE(CFolderTreeCtrl1::IsChecked(parent));

    // Two sibling folders: each with its own sub-folders, nothing else.
    const std::vector<QString> chosen = {mlokay + QStringLiteral("/Personal"),
                                         mlokay + QStringLiteral("/Systems")};
    for (const QString &path : chosen) {
        clickCheckBox(tree, treeItem(tree, path));
    }
    EXPECT_EQ(CSaveDlg::CheckedFolders(tree, dialog.State().folders).size(), 2u);
    const std::string target = (fs::path(source).parent_path() / "chosen.pst").string();
    QString scope;
    dialog.on_save_dialog = pressOk([&](CSaveDlg &save) {
        save.TargetBox()->setText(QStringLiteral("chosen.pst"));
        save.RecoveredBox()->setChecked(false);
        scope = save.findChild<QLabel *>(QStringLiteral("scope"))->text();
    });
    click(dialog, IDC_SAVE);
    ASSERT_TRUE(waitUntil([&] { return !dialog.SaveRunning(); }, 120000));
    // Named in the tree's order.
    EXPECT_EQ(scope.toStdString(), "Systems, Personal (with their sub-folders)");
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(reported(dialog.boxes[0].text, QStringLiteral("Items recovered")), 0);

    // Only the chosen folders and their sub-folders hold messages in the
    // copy, each as many as in the source.
    const auto under_chosen = [&](const std::string &path) {
        for (const QString &folder : chosen) {
            const std::string prefix = "/" + folder.toStdString();
            if (path == prefix || path.rfind(prefix + "/", 0) == 0) {
                return true;
            }
        }
        return false;
    };
    std::map<std::string, int> expected;
    for (const auto &[path, messages] : messageCounts(source)) {
        if (under_chosen(path)) {
            expected[path] = messages;
        }
    }
    ASSERT_GT(total(expected), 0);
    ASSERT_LT(total(expected), total(messageCounts(source))) << "the test wants a real choice";
    std::map<std::string, int> copy;
    for (const auto &[path, messages] : messageCounts(target)) {
        if (messages > 0 || under_chosen(path)) {
            copy[path] = messages;
        }
    }
    EXPECT_EQ(copy, expected);
    EXPECT_EQ(reported(dialog.boxes[0].text, QStringLiteral("Items saved")), total(expected));
}

// Breaks the heap-on-node signature of the block holding marker (our writer,
// without block encoding, leaves the text findable): libpff then cannot read
// that item's properties.
bool breakHeapHolding(const std::string &path, const std::string &marker)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    const std::string data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const std::size_t at = data.find(marker);
    if (at == std::string::npos) {
        return false;
    }
    for (std::size_t p = at / 64 * 64;; p -= 64) {
        if (static_cast<unsigned char>(data[p + 2]) == 0xEC &&
            static_cast<unsigned char>(data[p + 3]) == 0xBC) {
            file.clear();
            file.seekp(static_cast<std::streamoff>(p + 2));
            file.put('\0');
            return static_cast<bool>(file);
        }
        if (p == 0) {
            return false;
        }
    }
}

TEST_F(SaveWindow, WhatCouldNotBeReadIsCountedAndNamedInTheBoxDetails)
{
    TestDialog dialog;
    dialog.show();
    const fs::path dir = testing::scratch_directory("save-window-unreadable");
    const std::string source = (dir / "broken.pst").string();
    convert::writer_options plain;
    plain.permute = false;
    testing::pst_builder builder(plain);
    auto &mail = builder.root().add_folder(u8"Mail");
    for (int i = 1; i <= 4; ++i) {
        auto &message = mail.add_message("IPM.Note");
        message.set_unicode(0x0037, "Message " + std::to_string(i));
        message.set_unicode(0x1000, i == 3 ? "BODYMARK" : "fine");
    }
    builder.write(source);
    ASSERT_TRUE(breakHeapHolding(source, std::string("B\0O\0D\0Y\0M\0A\0R\0K\0", 16)));

    browseAndScan(dialog, source);
    ASSERT_TRUE(button(dialog, IDC_SAVE)->isEnabled()) << "the scan did not complete";
    dialog.boxes.clear();
    dialog.on_save_dialog = pressOk();
    click(dialog, IDC_SAVE);
    ASSERT_TRUE(waitUntil([&] { return !dialog.SaveRunning(); }, 120000));

    ASSERT_EQ(dialog.boxes.size(), 1u);
    const AskedBox &box = dialog.boxes[0];
    EXPECT_EQ(box.icon, QMessageBox::Warning) << box.text.toStdString();
    EXPECT_EQ(reported(box.text, QStringLiteral("Items saved")), 3);
    const int unreadable = reported(box.text, QStringLiteral("Items that could not be read"));
    EXPECT_EQ(unreadable, 1);
    // One line a lost item: its folder path and position.
    EXPECT_EQ(box.details.split(QLatin1Char('\n')).size(), unreadable);
    EXPECT_TRUE(box.details.contains(QStringLiteral("Mail, item 3"))) << box.details.toStdString();
    const std::map<std::string, int> copy = messageCounts((dir / "broken-repaired.pst").string());
    EXPECT_EQ(total(copy), 3);
}

TEST_F(SaveWindow, AFailedSaveNamesItsCauseAndLeavesNothing)
{
    TestDialog dialog;
    dialog.show();
    const std::string source = sourceCopy("failure");
    const fs::path out = fs::path(source).parent_path() / "out";
    fs::create_directory(out);
    browseAndScan(dialog, source);
    dialog.boxes.clear();

    // The target's folder goes away while the save is held at its start.
    dialog.State().gate.hold();
    dialog.on_save_dialog =
        pressOk([](CSaveDlg &save) { save.TargetBox()->setText(QStringLiteral("out/new.pst")); });
    click(dialog, IDC_SAVE);
    ASSERT_TRUE(dialog.SaveRunning());
    pumpFor(100);
    fs::remove_all(out);
    dialog.State().gate.release();
    ASSERT_TRUE(waitUntil([&] { return !dialog.SaveRunning(); }, 120000));

    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(dialog.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(dialog.boxes[0].caption, caption);
    EXPECT_TRUE(dialog.boxes[0].text.startsWith(QStringLiteral("The mailbox could not be saved.")));
    EXPECT_TRUE(dialog.boxes[0].text.contains(QStringLiteral("new.pst")))
        << dialog.boxes[0].text.toStdString();
    EXPECT_EQ(directoryEntries(fs::path(source).parent_path()), std::set<std::string>{"enron.pst"});
    EXPECT_TRUE(button(dialog, IDC_SAVE)->isEnabled());
}

TEST_F(SaveWindow, ExitDuringASaveEndsTheSaveFirstAndLeavesNoFile)
{
    TestDialog dialog;
    dialog.show();
    const std::string source = sourceCopy("exit");
    browseAndScan(dialog, source);
    dialog.boxes.clear();
    dialog.State().gate.hold();
    dialog.on_save_dialog = pressOk();
    click(dialog, IDC_SAVE);
    ASSERT_TRUE(dialog.SaveRunning());

    dialog.answers.push_back(QMessageBox::Yes);
    dialog.MenuCommand(ID_FILE_EXIT)->trigger();
    EXPECT_EQ(dialog.immediate_ends, 1);
    EXPECT_FALSE(dialog.SaveRunning()) << "the process ends after the save has";
    pumpFor(50);
    EXPECT_EQ(dialog.texts(), std::vector<QString>{QStringLiteral("Do you want to Exit ?       ")});
    EXPECT_EQ(directoryEntries(fs::path(source).parent_path()), std::set<std::string>{"enron.pst"});
}

TEST_F(SaveWindow, TheFormatListOffersDirectoriesForTheMailFormats)
{
    TestDialog dialog;
    dialog.show();
    const std::string source = sourceCopy("formats");
    browseAndScan(dialog, source);
    dialog.boxes.clear();
    std::vector<QString> targets;
    dialog.on_save_dialog = [&](CSaveDlg &save) {
        for (const SaveFormat &format : SaveFormats()) {
            save.SelectFormat(format.format);
            EXPECT_EQ(save.FormatBox()->currentText(), QString::fromLatin1(format.label));
            targets.push_back(save.TargetBox()->text());
            mouseClick(save.ChooseButton());
        }
        // A target the user typed stays when the format changes.
        save.TargetBox()->setText(QStringLiteral("mine"));
        save.SelectFormat(convert::output_format::pst);
        EXPECT_EQ(save.TargetBox()->text(), QStringLiteral("mine"));
    };
    click(dialog, IDC_SAVE);
    ASSERT_EQ(targets.size(), SaveFormats().size());
    ASSERT_EQ(dialog.target_chooser_calls.size(), SaveFormats().size());
    for (std::size_t i = 0; i < targets.size(); ++i) {
        const SaveFormat &format = SaveFormats()[i];
        EXPECT_EQ(targets[i].toStdString(), convert::default_save_target(source, format.format));
        EXPECT_EQ(dialog.target_chooser_calls[i].first, format.directory);
        EXPECT_EQ(dialog.target_chooser_calls[i].second, targets[i]);
    }
    EXPECT_EQ(SaveFormats()[0].format, convert::output_format::pst);
    EXPECT_TRUE(dialog.boxes.empty());
}

} // namespace
} // namespace korvel::app_testing

namespace korvel::app_testing {
namespace {

// What lies outside the folders shows as "Recovered Items" at the end of the
// tree; its rows are what its check box, checked alone, saves.
TEST_F(SaveWindow, RecoveredItemsNodeListsWhatItsCheckBoxAloneSaves)
{
    TestDialog dialog;
    dialog.show();
    const fs::path dir = testing::scratch_directory("save-window-recovered");
    const std::string intact = (dir / "intact.pst").string();
    testing::pst_builder builder;
    builder.root().add_folder(u8"Mail").add_message("IPM.Note").set_unicode(0x0037, "kept");
    builder.write(intact);
    browseAndScan(dialog, intact);
    for (const ShownItem &shown : shownTree(*dialog.Tree())) {
        EXPECT_NE(shown.image, CFolderTreeCtrl1::recovered_image) << shown.text.toStdString();
    }

    const std::string source = (dir / "damaged.pst").string();
    ASSERT_TRUE(testing::write_mailbox_with_recovered_items(source));
    browseAndScan(dialog, source);
    QTreeWidgetItem *root = dialog.Tree()->topLevelItem(0);
    ASSERT_NE(root, nullptr);
    QTreeWidgetItem *node = root->child(root->childCount() - 1);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->text(0), QStringLiteral("Recovered Items"));
    EXPECT_EQ(dialog.Tree()->ImageOf(node), CFolderTreeCtrl1::recovered_image);
    ASSERT_EQ(node->childCount(), 2);
    EXPECT_EQ(node->child(0)->text(0), QStringLiteral("Outside any folder (2)"));
    EXPECT_EQ(node->child(1)->text(0), QStringLiteral("Deleted, found in free space (1)"));

    fillFolder(dialog, QStringLiteral("Recovered Items"));
    std::multiset<std::string> listed;
    for (int row = 0; row < dialog.ListModel()->rowCount(); ++row) {
        EXPECT_EQ(dialog.ListModel()->cellText(row, 1), QStringLiteral("email"));
        listed.insert(dialog.ListModel()->cellText(row, 3).toStdString());
    }
    EXPECT_EQ(listed, (std::multiset<std::string>{"In lost", "Below lost", "Deleted"}));

    // Checked alone: the dialog's option shows the tree's choice and the
    // copy holds "Recovered Items" only, with the listed items.
    clickCheckBox(*dialog.Tree(), node);
    ASSERT_TRUE(CFolderTreeCtrl1::IsChecked(node));
    bool option_seen = false;
    dialog.on_save_dialog = pressOk([&](CSaveDlg &save) {
        EXPECT_TRUE(save.RecoveredBox()->isChecked());
        EXPECT_FALSE(save.RecoveredBox()->isEnabled());
        option_seen = true;
    });
    dialog.boxes.clear();
    click(dialog, IDC_SAVE);
    ASSERT_TRUE(waitUntil([&] { return !dialog.SaveRunning(); }, 60000));
    EXPECT_TRUE(option_seen);
    ASSERT_EQ(dialog.boxes.size(), 1u);
    EXPECT_EQ(reported(dialog.boxes[0].text, QStringLiteral("Items recovered")),
              static_cast<int>(listed.size()));
    const std::map<std::string, int> copy = messageCounts((dir / "damaged-repaired.pst").string());
    EXPECT_EQ(copy.count("/Mail"), 0u);
    ASSERT_EQ(copy.count("/Recovered Items"), 1u);
    EXPECT_EQ(copy.at("/Recovered Items"), static_cast<int>(listed.size()));
}

} // namespace
} // namespace korvel::app_testing
