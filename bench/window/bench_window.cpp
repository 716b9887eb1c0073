// The window's share of listing a big folder and of showing a big tree.
//
//   bench_window [ITEMS [FOLDERS [ROUNDS]]]       (defaults 100000 20000 1)
//
// Writes two mailboxes with our PST writer (kept under the build tree for the
// next run): one folder of ITEMS messages, and FOLDERS folders (100 folders
// of FOLDERS/100 sub-folders each). Then, offscreen, through the real main
// dialog: a click on the big folder until every row is in the list, against
// a bare libpff loop doing the same reads with nothing kept; and Scan until
// the tree is shown, against a bare libpff walk reading the same names.
// Prints the best of ROUNDS for each and their ratios (target: at most 1.3),
// and the longest the window thread went without serving its timer during
// the fill (how responsive the window stays).
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTableView>
#include <QTimer>
#include <QTreeWidgetItem>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include <libpff.h>

#include "app/CFolderTreeCtrl1.h"
#include "app/CMailvaneDlg.h"
#include "app/ItemListModel.h"
#include "app/resource_ids.h"
#include "bench/bare_libpff.h"
#include "preview/browser/CExplorer1.h"
#include "scan/pff_values.h"
#include "tests/support/pst_builder.h"

namespace {

using namespace korvel;

double seconds_since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The main dialog with its chooser and boxes answered at once.
class BenchDialog : public CMailvaneDlg
{
public:
    QString path;
    std::vector<QString> texts;

protected:
    QString ChooseMailboxFile() override { return path; }
    QMessageBox::StandardButton AskUser(QMessageBox::Icon, const QString &, const QString &text,
                                        QMessageBox::StandardButtons, QWidget *,
                                        QMessageBox::StandardButton) override
    {
        texts.push_back(text);
        return QMessageBox::Ok;
    }
    void EndProcess(ProcessEnd) override { std::abort(); }
};

// Runs the window's event loop (sleeping while there is nothing to do, so the
// workers keep their core) until done() holds.
void serveUntil(const std::function<bool()> &done)
{
    QEventLoop loop;
    QTimer check;
    check.setInterval(2);
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    check.start();
    if (!done()) {
        loop.exec();
    }
    QCoreApplication::processEvents();
}

std::string data_path(const std::string &name)
{
    return std::string(KORVEL_BINARY_DIR) + "/bench-data-" + name;
}

void write_items_mailbox(const std::string &path, int items)
{
    testing::pst_builder builder;
    testing::pst_folder &big = builder.root().add_folder("Big");
    for (int i = 0; i < items; ++i) {
        convert::message &message = big.add_message("IPM.Note");
        message.set_unicode(0x0037, "Quarterly report number " + std::to_string(i));
        message.set_unicode(0x0C1A, "Sender " + std::to_string(i % 997));
        message.set_unicode(0x0C1F, "sender" + std::to_string(i % 997) + "@example.com");
        message.set_systime(0x0E06, convert::filetime_from_unix(1000000000 + i * 60LL));
        message.set_long(0x0E08, 1000 + i % 5000);
        message.set_long(0x0E07, 1);
        message.set_long(0x0017, 1);
        message.set_long(0x0026, 0);
        message.set_long(0x0036, 0);
    }
    builder.write(path);
}

void write_folders_mailbox(const std::string &path, int folders)
{
    testing::pst_builder builder;
    const int groups = 100;
    const int per_group = folders / groups - 1;
    for (int g = 0; g < groups; ++g) {
        testing::pst_folder &group = builder.root().add_folder("Group " + std::to_string(g));
        for (int f = 0; f < per_group; ++f) {
            group.add_folder("Folder " + std::to_string(g) + "." + std::to_string(f));
        }
    }
    builder.write(path);
}

const std::string &ensure(const std::string &path, const std::function<void()> &write)
{
    if (!QFileInfo::exists(QString::fromStdString(path))) {
        std::printf("writing %s\n", path.c_str());
        std::fflush(stdout);
        write();
    }
    return path;
}

// Every folder's name below folder, depth first.
void bare_walk(libpff_item_t *folder, std::size_t &names)
{
    int count = 0;
    if (libpff_folder_get_number_of_sub_folders(folder, &count, nullptr) != 1) {
        return;
    }
    std::vector<std::uint8_t> buffer;
    for (int i = 0; i < count; ++i) {
        libpff_item_t *sub_folder = nullptr;
        if (libpff_folder_get_sub_folder(folder, i, &sub_folder, nullptr) != 1) {
            return;
        }
        std::size_t size = 0;
        if (read_utf8_size(sub_folder, 0x3001, &size) == 1) {
            buffer.resize(size < 12 ? 12 : size);
            read_utf8(sub_folder, 0x3001, buffer.data(), buffer.size());
            ++names;
        }
        bare_walk(sub_folder, names);
        libpff_item_free(&sub_folder, nullptr);
    }
}

// Opens the file and walks its names; the time includes the open, as a scan's does.
double bare_tree(const std::string &path, std::size_t &names)
{
    const auto start = std::chrono::steady_clock::now();
    libpff_file_t *file = nullptr;
    libpff_file_initialize(&file, nullptr);
    libpff_file_set_ascii_codepage(file, LIBPFF_CODEPAGE_WINDOWS_1252, nullptr);
    if (libpff_file_open(file, path.c_str(), LIBPFF_OPEN_READ, nullptr) == 1) {
        libpff_item_t *root = nullptr;
        if (libpff_file_get_root_folder(file, &root, nullptr) == 1) {
            bare_walk(root, names);
            libpff_item_free(&root, nullptr);
        }
        libpff_file_close(file, nullptr);
    }
    libpff_file_free(&file, nullptr);
    return seconds_since(start);
}

int count_items(const QTreeWidgetItem *item)
{
    int count = 1;
    for (int i = 0; i < item->childCount(); ++i) {
        count += count_items(item->child(i));
    }
    return count;
}

double window_scan(BenchDialog &dialog, const std::string &path)
{
    dialog.path = QString::fromStdString(path);
    dialog.OnBnClickedBrowse();
    const auto start = std::chrono::steady_clock::now();
    dialog.OnBnClickedScan();
    serveUntil([&] { return !dialog.ScanRunning(); });
    return seconds_since(start);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int items = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int folders = argc > 2 ? std::atoi(argv[2]) : 20000;
    // libpff finds each message by a linear search, so one round of 100,000
    // items already takes minutes.
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 1;
    // The dialog's preview pane: its schemes before the application, and no
    // sandbox as root (the engine refuses to start one).
    if (::geteuid() == 0) {
        ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 1);
    }
    CExplorer1::RegisterSchemes();
    QApplication application(argc, argv);

    const std::string items_path =
        ensure(data_path("items-" + std::to_string(items) + ".pst"), [&] {
            write_items_mailbox(data_path("items-" + std::to_string(items) + ".pst"), items);
        });
    const std::string folders_path =
        ensure(data_path("folders-" + std::to_string(folders) + ".pst"), [&] {
            write_folders_mailbox(data_path("folders-" + std::to_string(folders) + ".pst"),
                                  folders);
        });

    BenchDialog dialog;
    dialog.show();

    // The big folder.
    window_scan(dialog, items_path);
    QTreeWidgetItem *big = nullptr;
    QTreeWidgetItem *root = dialog.Tree()->topLevelItem(0);
    for (int i = 0; root != nullptr && i < root->childCount(); ++i) {
        if (root->child(i)->text(0) == QStringLiteral("Big")) {
            big = root->child(i);
        }
    }
    const folder_node *node = dialog.State().folders.head;
    while (node != nullptr && node->name != u"Big") {
        node = node->next;
    }
    if (big == nullptr || node == nullptr) {
        std::fprintf(stderr, "no folder Big in %s\n", items_path.c_str());
        return 1;
    }
    double best_bare = 1e30;
    double best_window = 1e30;
    qint64 worst_stall_ms = 0;
    std::size_t messages = 0;
    for (int round = 0; round < rounds; ++round) {
        messages = 0;
        auto start = std::chrono::steady_clock::now();
        korvel::bench::bare_list(node->folder_item, messages);
        const double bare = seconds_since(start);
        best_bare = bare < best_bare ? bare : best_bare;

        dialog.List()->scrollToTop();
        QElapsedTimer since_tick;
        qint64 stall = 0;
        QTimer ticker;
        ticker.setInterval(5);
        QObject::connect(&ticker, &QTimer::timeout,
                         [&] { stall = std::max(stall, since_tick.restart()); });
        since_tick.start();
        ticker.start();
        start = std::chrono::steady_clock::now();
        dialog.Tree()->setCurrentItem(big);
        emit dialog.Tree()->treeClicked();
        serveUntil([&] { return !dialog.FillRunning(); });
        const double window = seconds_since(start);
        ticker.stop();
        best_window = window < best_window ? window : best_window;
        worst_stall_ms = std::max(worst_stall_ms, stall);
        if (static_cast<std::size_t>(dialog.ListModel()->rowCount()) != messages) {
            std::fprintf(stderr, "listed %d rows of %zu messages\n", dialog.ListModel()->rowCount(),
                         messages);
            return 1;
        }
        std::printf("round %d: bare %.3f s, window %.3f s\n", round + 1, bare, window);
        std::fflush(stdout);
    }
    std::printf("folder of %zu items: bare libpff loop %.3f s, window fill %.3f s, ratio %.3f "
                "(target <= 1.3); longest window-thread stall %lld ms\n",
                messages, best_bare, best_window, best_window / best_bare,
                static_cast<long long>(worst_stall_ms));

    // The big tree.
    double best_walk = 1e30;
    double best_scan = 1e30;
    std::size_t names = 0;
    int shown = 0;
    for (int round = 0; round < rounds; ++round) {
        names = 0;
        const double walk = bare_tree(folders_path, names);
        best_walk = walk < best_walk ? walk : best_walk;
        const double scan = window_scan(dialog, folders_path);
        best_scan = scan < best_scan ? scan : best_scan;
        shown = count_items(dialog.Tree()->topLevelItem(0)) - 1;
        std::printf("round %d: walk %.3f s, scan %.3f s\n", round + 1, walk, scan);
        std::fflush(stdout);
    }
    std::printf("tree of %zu folders (%d shown): bare libpff walk %.3f s, window scan %.3f s, "
                "ratio %.3f (target <= 1.3)\n",
                names, shown, best_walk, best_scan, best_scan / best_walk);
    return 0;
}
