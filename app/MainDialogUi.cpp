#include "app/MainDialogUi.h"

#include <QAction>
#include <QDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>

#include "app/CFolderTreeCtrl1.h"
#include "app/DialogUnits.h"
#include "app/ItemListModel.h"
#include "app/resource_ids.h"
#include "preview/browser/CExplorer1.h"

// The icons and bitmaps live in this static library: register them before
// the first use (the linker keeps no unreferenced initialiser).
static void registerResources()
{
    Q_INIT_RESOURCE(korvel);
}

namespace korvel {

using namespace ids;

namespace {

// Item list columns: header widths in pixels (the first two carry data only).
constexpr int column_widths[ItemListModel::column_count] = {0,  0,  200, 250, 120,
                                                            80, 30, 30,  30,  30};

} // namespace

void MainDialogUi::setupUi(QDialog *dialog)
{
    registerResources();
    dialog->setObjectName(QStringLiteral("CMailvaneDlg"));
    dialog->setWindowTitle(QStringLiteral("Korvel PST Repair 7.2"));
    dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                           Qt::WindowCloseButtonHint);
    dialog->setFont(DialogUnits::dialogFont());
    setupMenu(dialog);
    setupControls(dialog);
    setupList(dialog);
}

void MainDialogUi::setupMenu(QDialog *dialog)
{
    menu_bar = new QMenuBar(dialog);
    QMenu *file = menu_bar->addMenu(QStringLiteral("File"));
    action_open = file->addAction(QStringLiteral("Open"));
    action_scan = file->addAction(QStringLiteral("Scan"));
    action_convert = file->addAction(QStringLiteral("Convert"));
    action_exit = file->addAction(QStringLiteral("Exit"));
    QMenu *help = menu_bar->addMenu(QStringLiteral("Help"));
    action_content = help->addAction(QStringLiteral("Content"));
    action_about = help->addAction(QStringLiteral("About Korvel PST Repair"));
    action_open->setData(ID_FILE_OPEN);
    action_scan->setData(ID_FILE_SCAN);
    action_convert->setData(ID_FILE_CONVERT);
    action_exit->setData(ID_FILE_EXIT);
    action_content->setData(ID_HELP_CONTENT);
    action_about->setData(ID_HELP_ABOUT);
}

void MainDialogUi::setupControls(QDialog *dialog)
{
    const DialogUnits units(dialog->font());
    const int menu_height = menu_bar->sizeHint().height();
    const QSize client_size = units.size(673, 401);
    dialog->setFixedSize(client_size.width(), client_size.height() + menu_height);
    menu_bar->setGeometry(0, 0, client_size.width(), menu_height);

    client = new QWidget(dialog);
    client->setGeometry(0, menu_height, client_size.width(), client_size.height());

    const auto place = [&](QWidget *widget, int id, int x, int y, int w, int h) {
        widget->setGeometry(units.rect(x, y, w, h));
        widget->setProperty("controlId", id);
    };

    // Template order; it is also the tab order.
    ok_button = new QPushButton(QStringLiteral("OK"), client);
    place(ok_button, IDOK, 561, 372, 6, 6);
    ok_button->setDefault(true);
    ok_button->hide();
    cancel_button = new QPushButton(QStringLiteral("Cancel"), client);
    place(cancel_button, IDCANCEL, 569, 372, 6, 6);
    cancel_button->hide();

    tree = new CFolderTreeCtrl1(client);
    place(tree, IDC_TREE1, 4, 81, 151, 289);

    path_box = new QLineEdit(client);
    place(path_box, IDC_EDIT1, 63, 60, 499, 17);
    // A file dropped on the box is chosen by the dialog, not typed into it.
    path_box->setAcceptDrops(false);

    browse_button = new QPushButton(QStringLiteral("Browse..."), client);
    place(browse_button, IDC_BROWSE, 565, 60, 89, 17);

    path_group = new QGroupBox(client);
    place(path_group, IDC_PATH_GROUP, 3, 54, 664, 25);

    list_model = new ItemListModel(dialog);
    list = new QTableView(client);
    place(list, IDC_LIST1, 158, 82, 509, 92);
    list->setModel(list_model);

    scan_button = new QPushButton(QStringLiteral("Scan"), client);
    place(scan_button, IDC_SCAN, 503, 377, 55, 19);
    save_button = new QPushButton(QStringLiteral("Save"), client);
    place(save_button, IDC_SAVE, 563, 377, 66, 19);
    stop_button = new QPushButton(QStringLiteral("Stop"), client);
    place(stop_button, IDC_STOP, 433, 377, 62, 19);

    banner = new QLabel(client);
    place(banner, 0, 0, 0, 603, 47);
    banner->setScaledContents(true);
    banner->setPixmap(QPixmap(QString::fromLatin1(resource_prefix) + QString::number(IDB_BANNER)));

    bottom_group = new QGroupBox(client);
    place(bottom_group, 0, 0, 370, 667, 29);

    progress = new QProgressBar(client);
    place(progress, IDC_PROGRESS1, 3, 379, 413, 14);
    progress->setRange(0, 100);
    progress->setValue(0);
    progress->setTextVisible(false);

    preview = new CExplorer1(client);
    place(preview, IDC_EXPLORER1, 158, 176, 509, 195);

    path_label = new QLabel(QStringLiteral("Select PST File"), client);
    place(path_label, 0, 11, 63, 53, 10);

    // Group boxes only frame: they sit below the controls and take no clicks.
    for (QGroupBox *group : {path_group, bottom_group}) {
        group->lower();
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        group->setFocusPolicy(Qt::NoFocus);
    }

    system_menu = new QMenu(dialog);
}

void MainDialogUi::setupList(QDialog *dialog)
{
    // The ten columns and grid lines.
    QHeaderView *header = list->horizontalHeader();
    header->setMinimumSectionSize(0);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    for (int column = 0; column < ItemListModel::column_count; ++column) {
        header->resizeSection(column, column_widths[column]);
    }
    list->verticalHeader()->hide();
    list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    list->verticalHeader()->setDefaultSectionSize(dialog->fontMetrics().height() + 4);
    list->setShowGrid(true);
    list->setSortingEnabled(false);
    list->setWordWrap(false);
    list->setTabKeyNavigation(false);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectItems);
    list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

QIcon MainDialogUi::resourceIcon(int number)
{
    return QIcon(QString::fromLatin1(resource_prefix) + QString::number(number));
}

QWidget *MainDialogUi::control(int id) const
{
    const std::pair<int, QWidget *> controls[] = {
        {IDOK, ok_button},       {IDCANCEL, cancel_button},   {IDC_TREE1, tree},
        {IDC_EDIT1, path_box},   {IDC_BROWSE, browse_button}, {IDC_PATH_GROUP, path_group},
        {IDC_LIST1, list},       {IDC_SCAN, scan_button},     {IDC_SAVE, save_button},
        {IDC_STOP, stop_button}, {IDC_PROGRESS1, progress},   {IDC_EXPLORER1, preview},
    };
    for (const auto &[control_id, widget] : controls) {
        if (control_id == id) {
            return widget;
        }
    }
    return nullptr;
}

std::vector<QAction *> MainDialogUi::menuCommands() const
{
    return {action_open, action_scan, action_convert, action_exit, action_content, action_about};
}

QAction *MainDialogUi::menuCommand(int id) const
{
    for (QAction *action : menuCommands()) {
        if (action->data().toInt() == id) {
            return action;
        }
    }
    return nullptr;
}

std::vector<std::pair<QPushButton *, int>> MainDialogUi::commandButtons() const
{
    return {{ok_button, IDOK},       {cancel_button, IDCANCEL}, {browse_button, IDC_BROWSE},
            {scan_button, IDC_SCAN}, {save_button, IDC_SAVE},   {stop_button, IDC_STOP}};
}

void MainDialogUi::setCommandEnabled(view_command command, bool enabled) const
{
    switch (command) {
    case view_command::scan:
        scan_button->setEnabled(enabled);
        break;
    case view_command::save:
        save_button->setEnabled(enabled);
        break;
    case view_command::browse:
        browse_button->setEnabled(enabled);
        break;
    case view_command::convert:
        action_convert->setEnabled(enabled);
        break;
    }
}

void MainDialogUi::showStart() const
{
    stop_button->setEnabled(false);
    scan_button->setEnabled(false);
    save_button->setEnabled(false);
    action_scan->setEnabled(false);
    action_convert->setEnabled(false);
}

void MainDialogUi::showMailboxTaken(const QString &path) const
{
    save_button->setEnabled(false);
    path_box->setText(path);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setShowGrid(true);
    scan_button->setEnabled(true);
    action_scan->setEnabled(true);
}

void MainDialogUi::showScanStarted() const
{
    stop_button->setEnabled(true);
    browse_button->setEnabled(false);
    tree->setEnabled(false);
    action_open->setEnabled(false);
    action_scan->setEnabled(false);
}

void MainDialogUi::showStopCleanedUp() const
{
    stop_button->setEnabled(false);
    // The stores are empty now, even when the scan had completed before the
    // answer: a save would write nothing.
    save_button->setEnabled(false);
    browse_button->setEnabled(true);
    action_open->setEnabled(true);
}

void MainDialogUi::showSaveRunning(bool running) const
{
    for (QWidget *control :
         std::initializer_list<QWidget *>{browse_button, save_button, tree, list}) {
        control->setEnabled(!running);
    }
    action_convert->setEnabled(!running);
    stop_button->setEnabled(true);
}

int MainDialogUi::firstSelectedRow() const
{
    const QModelIndexList rows = list->selectionModel()->selectedIndexes();
    int first = -1;
    for (const QModelIndex &index : rows) {
        if (first < 0 || index.row() < first) {
            first = index.row();
        }
    }
    return first;
}

} // namespace korvel
