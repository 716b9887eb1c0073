#include "app/CMailvaneDlg.h"

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDropEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTableView>
#include <QUrl>
#include <unistd.h>

#include <cstdlib>

#include "app/CAboutDlg.h"
#include "app/CFolderTreeCtrl1.h"
#include "app/CSaveDlg.h"
#include "app/CommandLine.h"
#include "app/DialogUnits.h"
#include "app/ItemListModel.h"
#include "app/LoadIDialog.h"
#include "app/resource_ids.h"
#include "preview/browser/CExplorer1.h"
#include "preview/preview_builder.h"
#include "scan/files.h"

// The icons and bitmaps live in this static library: register them before
// the first use (the linker keeps no unreferenced initialiser).
static void registerResources()
{
    Q_INIT_RESOURCE(korvel);
}

namespace korvel {

using namespace ids;

namespace {

CMailvaneDlg *g_main_dialog = nullptr;

const QString caption_text = QStringLiteral("Korvel PST Repair");

QIcon resourceIcon(int number)
{
    return QIcon(QString::fromLatin1(resource_prefix) + QString::number(number));
}

// Item list columns: header widths in pixels (the first two carry data only).
constexpr int column_widths[ItemListModel::column_count] = {0,  0,  200, 250, 120,
                                                            80, 30, 30,  30,  30};

} // namespace

// The message map: control and menu command ids to their handlers.
const CMailvaneDlg::CommandEntry CMailvaneDlg::command_map[] = {
    {IDOK, &CMailvaneDlg::OnOK},
    {IDCANCEL, &CMailvaneDlg::OnCancel},
    {ID_FILE_EXIT, &CMailvaneDlg::OnFileExit},
    {IDC_BROWSE, &CMailvaneDlg::OnBnClickedBrowse},
    {ID_FILE_OPEN, &CMailvaneDlg::OnBnClickedBrowse},
    {IDC_SCAN, &CMailvaneDlg::OnBnClickedScan},
    {ID_FILE_SCAN, &CMailvaneDlg::OnBnClickedScan},
    {IDC_STOP, &CMailvaneDlg::OnBnClickedStop},
    {IDC_SAVE, &CMailvaneDlg::OnBnClickedSave},
    {ID_FILE_CONVERT, &CMailvaneDlg::OnFileConvert},
    {ID_HELP_CONTENT, &CMailvaneDlg::OnHelpContent},
    {ID_HELP_ABOUT, &CMailvaneDlg::OnHelpAbout},
};

// ... and control notifications to theirs.
const CMailvaneDlg::NotifyEntry CMailvaneDlg::notify_map[] = {
    {IDC_TREE1, Notify::click, &CMailvaneDlg::OnNMClickTree},
    {IDC_TREE1, Notify::key_down, &CMailvaneDlg::OnTvnKeydownTree},
    {IDC_LIST1, Notify::click, &CMailvaneDlg::OnNMClickList},
    {IDC_LIST1, Notify::item_changed, &CMailvaneDlg::OnLvnItemchangedList},
};

CMailvaneDlg::CMailvaneDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CMailvaneDlg"));
    registerResources();
    m_icon = resourceIcon(IDR_MAINFRAME);
    setWindowTitle(QStringLiteral("Korvel PST Repair 7.2"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFont(DialogUnits::dialogFont());

    CreateMenu();
    CreateControls();
    WireMessageMap();
    qApp->installEventFilter(this);
    m_controller = std::make_unique<MailboxController>(*m_tree, *m_list_model, *m_progress);
    WireController();
    OnInitDialog();
    // A mailbox file dropped anywhere on the window is taken as Browse's.
    setAcceptDrops(true);
}

CMailvaneDlg::~CMailvaneDlg()
{
    m_controller->ShutDown();
    qApp->removeEventFilter(this);
}

CMailvaneDlg *CMailvaneDlg::Instance()
{
    return g_main_dialog;
}

QSize CMailvaneDlg::ClientSizeInPixels()
{
    return DialogUnits(DialogUnits::dialogFont()).size(673, 401);
}

void CMailvaneDlg::CreateMenu()
{
    m_menu_bar = new QMenuBar(this);
    QMenu *file = m_menu_bar->addMenu(QStringLiteral("File"));
    m_action_open = file->addAction(QStringLiteral("Open"));
    m_action_scan = file->addAction(QStringLiteral("Scan"));
    m_action_convert = file->addAction(QStringLiteral("Convert"));
    m_action_exit = file->addAction(QStringLiteral("Exit"));
    QMenu *help = m_menu_bar->addMenu(QStringLiteral("Help"));
    m_action_content = help->addAction(QStringLiteral("Content"));
    m_action_about = help->addAction(QStringLiteral("About Korvel PST Repair"));
    m_action_open->setData(ID_FILE_OPEN);
    m_action_scan->setData(ID_FILE_SCAN);
    m_action_convert->setData(ID_FILE_CONVERT);
    m_action_exit->setData(ID_FILE_EXIT);
    m_action_content->setData(ID_HELP_CONTENT);
    m_action_about->setData(ID_HELP_ABOUT);
}

void CMailvaneDlg::CreateControls()
{
    const DialogUnits units(font());
    const int menu_height = m_menu_bar->sizeHint().height();
    const QSize client_size = units.size(673, 401);
    setFixedSize(client_size.width(), client_size.height() + menu_height);
    m_menu_bar->setGeometry(0, 0, client_size.width(), menu_height);

    m_client = new QWidget(this);
    m_client->setGeometry(0, menu_height, client_size.width(), client_size.height());

    const auto place = [&](QWidget *widget, int id, int x, int y, int w, int h) {
        widget->setGeometry(units.rect(x, y, w, h));
        widget->setProperty("controlId", id);
    };

    // Template order; it is also the tab order.
    m_ok_button = new QPushButton(QStringLiteral("OK"), m_client);
    place(m_ok_button, IDOK, 561, 372, 6, 6);
    m_ok_button->setDefault(true);
    m_ok_button->hide();
    m_cancel_button = new QPushButton(QStringLiteral("Cancel"), m_client);
    place(m_cancel_button, IDCANCEL, 569, 372, 6, 6);
    m_cancel_button->hide();

    m_tree = new CFolderTreeCtrl1(m_client);
    place(m_tree, IDC_TREE1, 4, 81, 151, 289);

    m_path_box = new QLineEdit(m_client);
    place(m_path_box, IDC_EDIT1, 63, 60, 499, 17);
    // A file dropped on the box is chosen by the dialog, not typed into it.
    m_path_box->setAcceptDrops(false);

    m_browse_button = new QPushButton(QStringLiteral("Browse..."), m_client);
    place(m_browse_button, IDC_BROWSE, 565, 60, 89, 17);

    m_path_group = new QGroupBox(m_client);
    place(m_path_group, IDC_PATH_GROUP, 3, 54, 664, 25);

    m_list_model = new ItemListModel(this);
    m_list = new QTableView(m_client);
    place(m_list, IDC_LIST1, 158, 82, 509, 92);
    m_list->setModel(m_list_model);

    m_scan_button = new QPushButton(QStringLiteral("Scan"), m_client);
    place(m_scan_button, IDC_SCAN, 503, 377, 55, 19);
    m_save_button = new QPushButton(QStringLiteral("Save"), m_client);
    place(m_save_button, IDC_SAVE, 563, 377, 66, 19);
    m_stop_button = new QPushButton(QStringLiteral("Stop"), m_client);
    place(m_stop_button, IDC_STOP, 433, 377, 62, 19);

    m_banner = new QLabel(m_client);
    place(m_banner, 0, 0, 0, 603, 47);
    m_banner->setScaledContents(true);
    m_banner->setPixmap(
        QPixmap(QString::fromLatin1(resource_prefix) + QString::number(IDB_BANNER)));

    m_bottom_group = new QGroupBox(m_client);
    place(m_bottom_group, 0, 0, 370, 667, 29);

    m_progress = new QProgressBar(m_client);
    place(m_progress, IDC_PROGRESS1, 3, 379, 413, 14);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);

    // Blank until the first preview.
    m_preview = new CExplorer1(m_client);
    place(m_preview, IDC_EXPLORER1, 158, 176, 509, 195);

    m_path_label = new QLabel(QStringLiteral("Select PST File"), m_client);
    place(m_path_label, 0, 11, 63, 53, 10);

    // Group boxes only frame: they sit below the controls and take no clicks.
    for (QGroupBox *group : {m_path_group, m_bottom_group}) {
        group->lower();
        group->setAttribute(Qt::WA_TransparentForMouseEvents);
        group->setFocusPolicy(Qt::NoFocus);
    }

    m_system_menu = new QMenu(this);
}

void CMailvaneDlg::WireMessageMap()
{
    const std::pair<QPushButton *, int> buttons[] = {
        {m_ok_button, IDOK},       {m_cancel_button, IDCANCEL}, {m_browse_button, IDC_BROWSE},
        {m_scan_button, IDC_SCAN}, {m_save_button, IDC_SAVE},   {m_stop_button, IDC_STOP},
    };
    for (const auto &[button, id] : buttons) {
        const int command = id;
        connect(button, &QPushButton::clicked, this, [this, command] { OnCommand(command); });
    }
    for (QAction *action : {m_action_open, m_action_scan, m_action_convert, m_action_exit,
                            m_action_content, m_action_about}) {
        const int command = action->data().toInt();
        connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
    }
    connect(m_tree, &CFolderTreeCtrl1::treeClicked, this,
            [this] { OnNotify(IDC_TREE1, Notify::click, {}); });
    connect(m_tree, &CFolderTreeCtrl1::treeKeyDown, this,
            [this](int key) { OnNotify(IDC_TREE1, Notify::key_down, {key}); });
    connect(m_list, &QTableView::clicked, this, [this] { OnNotify(IDC_LIST1, Notify::click, {}); });
    connect(m_list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { OnNotify(IDC_LIST1, Notify::item_changed, {}); });
}

void CMailvaneDlg::OnInitDialog()
{
    g_main_dialog = this;

    // The system-menu entry (string 101).
    const QString about_entry = QStringLiteral("&About Korvel PST Repair");
    if (!about_entry.isEmpty()) {
        m_system_menu->addSeparator();
        QAction *about = m_system_menu->addAction(about_entry);
        connect(about, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });
    }

    setWindowIcon(m_icon);

    // The ten columns and grid lines.
    QHeaderView *header = m_list->horizontalHeader();
    header->setMinimumSectionSize(0);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionsClickable(false);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    for (int column = 0; column < ItemListModel::column_count; ++column) {
        header->resizeSection(column, column_widths[column]);
    }
    m_list->verticalHeader()->hide();
    m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_list->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    m_list->setShowGrid(true);
    m_list->setSortingEnabled(false);
    m_list->setWordWrap(false);
    m_list->setTabKeyNavigation(false);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectItems);
    m_list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);

    m_tree->BuildImageList();

    m_stop_button->setEnabled(false);
    m_scan_button->setEnabled(false);
    m_save_button->setEnabled(false);
    m_action_scan->setEnabled(false);
    m_action_convert->setEnabled(false);

    m_start_directory = QDir::currentPath();
}

// ---------------------------------------------------------------------------
// Dispatch

void CMailvaneDlg::OnCommand(int id)
{
    for (const CommandEntry &entry : command_map) {
        if (entry.id == id) {
            (this->*entry.handler)();
            return;
        }
    }
}

void CMailvaneDlg::OnNotify(int id, Notify code, const NotifyInfo &info)
{
    for (const NotifyEntry &entry : notify_map) {
        if (entry.id == id && entry.code == code) {
            (this->*entry.handler)(info);
            return;
        }
    }
}

QWidget *CMailvaneDlg::GetDlgItem(int id) const
{
    const std::pair<int, QWidget *> controls[] = {
        {IDOK, m_ok_button},       {IDCANCEL, m_cancel_button},   {IDC_TREE1, m_tree},
        {IDC_EDIT1, m_path_box},   {IDC_BROWSE, m_browse_button}, {IDC_PATH_GROUP, m_path_group},
        {IDC_LIST1, m_list},       {IDC_SCAN, m_scan_button},     {IDC_SAVE, m_save_button},
        {IDC_STOP, m_stop_button}, {IDC_PROGRESS1, m_progress},   {IDC_EXPLORER1, m_preview},
    };
    for (const auto &[control_id, widget] : controls) {
        if (control_id == id) {
            return widget;
        }
    }
    return nullptr;
}

QAction *CMailvaneDlg::MenuCommand(int id) const
{
    for (QAction *action : {m_action_open, m_action_scan, m_action_convert, m_action_exit,
                            m_action_content, m_action_about}) {
        if (action->data().toInt() == id) {
            return action;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// The controller

void CMailvaneDlg::WireController()
{
    MailboxController *controller = m_controller.get();
    connect(controller, &MailboxController::commandReady, this, &CMailvaneDlg::OnCommandReady);
    connect(controller, &MailboxController::stopCleanedUp, this, &CMailvaneDlg::OnStopCleanedUp);
    connect(controller, &MailboxController::saveEnded, this, &CMailvaneDlg::OnSaveEnded);
    connect(controller, &MailboxController::searchingFreeSpace, this, [this] {
        m_progress->setFormat(QStringLiteral("Searching free space for deleted items"));
        m_progress->setTextVisible(true);
    });
    connect(controller, &MailboxController::commandEnabled, this,
            &CMailvaneDlg::SetCommandEnabled);
    connect(controller, &MailboxController::messageBox, this,
            [this](QMessageBox::Icon icon, const QString &caption, const QString &text) {
                AskUser(icon, caption, text, QMessageBox::Ok, nullptr);
            });
    connect(controller, &MailboxController::memoryExhausted, this,
            [this](const QString &caption, const QString &text) {
                AskUser(QMessageBox::Critical, caption, text, QMessageBox::Ok, nullptr);
                EndProcess(ProcessEnd::runtime_exit);
            });
}

void CMailvaneDlg::OnCommandReady(MailboxController::Command command)
{
    switch (command) {
    case MailboxController::Command::browse:
        OnBnClickedBrowse();
        break;
    case MailboxController::Command::scan:
        OnBnClickedScan();
        break;
    case MailboxController::Command::save:
        StartSave();
        break;
    case MailboxController::Command::fill:
    case MailboxController::Command::preview:
        break;
    }
}

void CMailvaneDlg::OnStopCleanedUp()
{
    m_tree->DeleteAllItems();
    m_list_model->deleteAllRows();
    m_progress->setValue(0);
    m_stop_button->setEnabled(false);
    m_browse_button->setEnabled(true);
    m_action_open->setEnabled(true);
}

void CMailvaneDlg::OnSaveEnded(int result, const convert::save_report &report,
                               const QString &target)
{
    m_progress->setValue(0);
    m_progress->setFormat(QStringLiteral("%p%"));
    m_progress->setTextVisible(false);
    SetSaveControlsEnabled(true);
    CSaveDlg::ReportBox box;
    if (CSaveDlg::ReportFor(result, report, target, box)) {
        ShowReport(box.icon, caption_text, box.text, box.details);
    }
}

// ---------------------------------------------------------------------------
// Commands

void CMailvaneDlg::OnBnClickedBrowse()
{
    if (!m_controller->Admit(MailboxController::Command::browse)) {
        return;
    }
    MailboxController::RemoveWorkingDirectory();
    const QString path = ChooseMailboxFile();
    if (path.isEmpty()) {
        return;
    }
    TakeMailboxFile(path);
}

bool CMailvaneDlg::OpenMailboxFile(const QString &path)
{
    if (!CanTakeMailboxFile()) {
        return false;
    }
    MailboxController::RemoveWorkingDirectory();
    TakeMailboxFile(path);
    return true;
}

bool CMailvaneDlg::CanTakeMailboxFile() const
{
    return m_browse_button->isEnabled() && !ScanRunning() && !FillRunning();
}

void CMailvaneDlg::TakeMailboxFile(const QString &path)
{
    MailboxController::RemoveWorkingDirectory();
    DrainViews();
    m_tree->DeleteAllItems();
    m_list_model->deleteAllRows();
    const tree_item root = m_controller->TakeMailbox(path);

    m_save_button->setEnabled(false);
    m_path_box->setText(path);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setShowGrid(true);
    m_tree->InsertFolderItem(nullptr, path, root);
    m_scan_button->setEnabled(true);
    m_action_scan->setEnabled(true);
}

void CMailvaneDlg::OnBnClickedScan()
{
    if (!m_controller->Admit(MailboxController::Command::scan)) {
        return;
    }
    m_stop_button->setEnabled(true);
    m_browse_button->setEnabled(false);
    m_tree->setEnabled(false);
    m_action_open->setEnabled(false);
    m_action_scan->setEnabled(false);
    m_controller->StartScan();
}

void CMailvaneDlg::OnBnClickedStop()
{
    switch (m_controller->BeginStop()) {
    case MailboxController::StopStep::nothing:
        return;
    case MailboxController::StopStep::enable_browse:
        m_browse_button->setEnabled(true);
        return;
    case MailboxController::StopStep::ask:
        break;
    }
    const QMessageBox::StandardButton answer =
        AskUser(QMessageBox::Question, caption_text,
                QStringLiteral("Do you want to stop scan process ?"),
                QMessageBox::Yes | QMessageBox::No, this);
    if (m_controller->AnswerStop(answer == QMessageBox::Yes)) {
        m_browse_button->setEnabled(true);
    }
}

void CMailvaneDlg::OnBnClickedSave()
{
    StartSave();
}

void CMailvaneDlg::OnFileConvert()
{
    StartSave();
}

void CMailvaneDlg::StartSave()
{
    if (!m_controller->Admit(MailboxController::Command::save)) {
        return;
    }
    // Save is on exactly while a completed scan's folders are in the stores.
    if (!m_save_button->isEnabled()) {
        AskUser(QMessageBox::Information, caption_text,
                QStringLiteral("Scan a mailbox first: the save writes what the scan found."),
                QMessageBox::Ok, this);
        return;
    }
    const scan_state &state = m_controller->Mailbox();
    QStringList names;
    std::vector<libpff_item_t *> folders = CSaveDlg::CheckedFolders(*m_tree, state.folders, &names);
    const CSaveDlg::RecoveredChoice recovered =
        CSaveDlg::RecoveredItemsChoice(*m_tree, state.recovered.node, !folders.empty(), names);
    CSaveDlg dialog(
        QString::fromStdU16String(state.mailbox_path), CSaveDlg::ScopeText(names),
        [this](const SaveFormat &format, const QString &current) {
            return ChooseSaveTarget(format.directory, current);
        },
        [this, &dialog](QMessageBox::Icon icon, const QString &text,
                        QMessageBox::StandardButtons buttons,
                        QMessageBox::StandardButton defaultButton) {
            return AskUser(icon, caption_text, text, buttons, &dialog, defaultButton);
        },
        this);
    if (recovered.decided) {
        // The tree's check box decides; the option shows what it decided.
        dialog.RecoveredBox()->setChecked(recovered.saved);
        dialog.RecoveredBox()->setEnabled(false);
    }
    if (RunSaveDialog(dialog) != QDialog::Accepted) {
        return;
    }
    convert::save_request request = dialog.Request();
    request.folders = std::move(folders);
    request.recovered_only = recovered.only;
    SetSaveControlsEnabled(false);
    m_controller->StartSave(std::move(request));
}

void CMailvaneDlg::SetSaveControlsEnabled(bool enabled)
{
    // Save is only pressed with Browse, the tree and File > Convert on (a
    // completed scan); Stop stays on for the save's own Stop.
    for (QWidget *control :
         std::initializer_list<QWidget *>{m_browse_button, m_save_button, m_tree, m_list}) {
        control->setEnabled(enabled);
    }
    m_action_convert->setEnabled(enabled);
    m_stop_button->setEnabled(true);
}

void CMailvaneDlg::OnFileExit()
{
    if (AskUser(QMessageBox::Question, caption_text, QStringLiteral("Do you want to Exit ?       "),
                QMessageBox::Yes | QMessageBox::No, this) == QMessageBox::Yes) {
        m_controller->EndSave();
        EndProcess(ProcessEnd::immediate);
    }
}

void CMailvaneDlg::OnHelpContent()
{
    OpenDocument(m_start_directory + QStringLiteral("/KorvelHelp.chm"));
}

void CMailvaneDlg::OnHelpAbout()
{
    CAboutDlg about(this);
    about.exec();
}

void CMailvaneDlg::OnSysCommand(int id)
{
    if ((id & 0xFFF0) == IDM_ABOUTBOX) {
        OnHelpAbout();
    }
}

void CMailvaneDlg::OnOK()
{
    accept();
}

void CMailvaneDlg::OnCancel()
{
    reject();
}

void CMailvaneDlg::PreviewSelectedItem()
{
    const int row = FirstSelectedRow();
    if (row < 0) {
        return;
    }
    preview_outcome outcome;
    if (!m_controller->PreviewItem(m_list_model->cellText(row, 0).toStdU16String(),
                                   m_list_model->cellText(row, 1).toStdU16String(), outcome)) {
        return;
    }
    if (outcome.navigate) {
        m_preview->Navigate(QString::fromStdU16String(outcome.path),
                            std::move(outcome.content_ids));
    }
}

int CMailvaneDlg::FirstSelectedRow() const
{
    const QModelIndexList rows = m_list->selectionModel()->selectedIndexes();
    int first = -1;
    for (const QModelIndex &index : rows) {
        if (first < 0 || index.row() < first) {
            first = index.row();
        }
    }
    return first;
}

// ---------------------------------------------------------------------------
// Notifications

void CMailvaneDlg::OnNMClickTree(const NotifyInfo &)
{
    if (!m_controller->Admit(MailboxController::Command::fill)) {
        return;
    }
    m_controller->StartFill(m_tree->HandleOf(m_tree->currentItem()));
}

void CMailvaneDlg::OnTvnKeydownTree(const NotifyInfo &info)
{
    if (info.key != Qt::Key_Space) {
        return;
    }
    QTreeWidgetItem *item = m_tree->currentItem();
    if (item == nullptr) {
        return;
    }
    // The folder list is only written by a scan, which keeps the tree disabled.
    const bool folder_item = !ScanRunning() && folder_list_knows(&m_controller->Mailbox().folders,
                                                                 m_tree->HandleOf(item));
    if (folder_item) {
        if (!CFolderTreeCtrl1::IsChecked(item)) {
            // The control toggles twice: a folder item stays unchecked.
            QCoreApplication::postEvent(m_tree, new QKeyEvent(QEvent::KeyPress, Qt::Key_Space,
                                                              Qt::NoModifier, QStringLiteral(" ")));
        }
        return;
    }
    if (CFolderTreeCtrl1::IsChecked(item)) {
        CFolderTreeCtrl1::SetBold(item, false);
        CFolderTreeCtrl1::SetDescendantsChecked(item, false);
    } else {
        CFolderTreeCtrl1::SetBold(item, true);
        CFolderTreeCtrl1::SetDescendantsChecked(item, true);
    }
    CFolderTreeCtrl1::UpdateAncestorChecks(item);
    CFolderTreeCtrl1::UpdateAncestorBold(item);
}

void CMailvaneDlg::OnNMClickList(const NotifyInfo &)
{
    PreviewSelectedItem();
}

void CMailvaneDlg::OnLvnItemchangedList(const NotifyInfo &)
{
    PreviewSelectedItem();
}

// ---------------------------------------------------------------------------
// Command states

void CMailvaneDlg::SetCommandEnabled(view_command command, bool enabled)
{
    switch (command) {
    case view_command::scan:
        m_scan_button->setEnabled(enabled);
        break;
    case view_command::save:
        m_save_button->setEnabled(enabled);
        break;
    case view_command::browse:
        m_browse_button->setEnabled(enabled);
        break;
    case view_command::convert:
        m_action_convert->setEnabled(enabled);
        break;
    }
}

// ---------------------------------------------------------------------------
// Seams

QString CMailvaneDlg::ChooseMailboxFile()
{
    const QString directory = ChooserDirectory(QString::fromStdU16String(State().mailbox_path),
                                               m_start_directory, QDir::homePath());
    QFileDialog chooser(this, QStringLiteral("Select File..."), directory,
                        QStringLiteral("Microsoft Outlook PST File (*pst) (*.pst)"));
    chooser.setAcceptMode(QFileDialog::AcceptOpen);
    chooser.setFileMode(QFileDialog::ExistingFile);
    chooser.setOption(QFileDialog::HideNameFilterDetails);
    if (chooser.exec() != QDialog::Accepted) {
        return {};
    }
    return chooser.selectedFiles().value(0);
}

QMessageBox::StandardButton CMailvaneDlg::AskUser(QMessageBox::Icon icon, const QString &caption,
                                                  const QString &text,
                                                  QMessageBox::StandardButtons buttons,
                                                  QWidget *owner,
                                                  QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, caption, text, buttons, owner);
    box.setWindowModality(Qt::ApplicationModal);
    if (defaultButton != QMessageBox::NoButton) {
        box.setDefaultButton(defaultButton);
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

int CMailvaneDlg::RunSaveDialog(CSaveDlg &dialog)
{
    return dialog.exec();
}

QString CMailvaneDlg::ChooseSaveTarget(bool directory, const QString &current)
{
    QFileDialog chooser(this,
                        directory ? QStringLiteral("Save Into Folder...")
                                  : QStringLiteral("Save Mailbox As..."),
                        current);
    chooser.setAcceptMode(QFileDialog::AcceptSave);
    // The save dialog asks before anything is replaced.
    chooser.setOption(QFileDialog::DontConfirmOverwrite);
    if (directory) {
        // A new directory's name: the save creates it.
        chooser.setFileMode(QFileDialog::AnyFile);
    } else {
        chooser.setNameFilter(QStringLiteral("Microsoft Outlook PST File (*.pst)"));
        chooser.setDefaultSuffix(QStringLiteral("pst"));
    }
    chooser.selectFile(current);
    if (chooser.exec() != QDialog::Accepted) {
        return {};
    }
    return chooser.selectedFiles().value(0);
}

void CMailvaneDlg::ShowReport(QMessageBox::Icon icon, const QString &caption, const QString &text,
                              const QString &details)
{
    QMessageBox box(icon, caption, text, QMessageBox::Ok, this);
    if (!details.isEmpty()) {
        box.setDetailedText(details);
    }
    box.exec();
}

void CMailvaneDlg::OpenDocument(const QString &path)
{
    // The shell's answer is not looked at: a missing help file shows nothing
    // of ours.
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

void CMailvaneDlg::EndProcess(ProcessEnd how)
{
    if (how == ProcessEnd::immediate) {
        ::_exit(0);
    }
    std::exit(0);
}

// ---------------------------------------------------------------------------
// Window events

void CMailvaneDlg::closeEvent(QCloseEvent *event)
{
    event->ignore();
    OnFileExit();
}

void CMailvaneDlg::dragEnterEvent(QDragEnterEvent *event)
{
    if (CanTakeMailboxFile() && !DroppedMailboxFile(event->mimeData()).isEmpty()) {
        event->acceptProposedAction();
    }
}

void CMailvaneDlg::dropEvent(QDropEvent *event)
{
    const QString path = DroppedMailboxFile(event->mimeData());
    if (!path.isEmpty() && OpenMailboxFile(path)) {
        event->acceptProposedAction();
    }
}

void CMailvaneDlg::paintEvent(QPaintEvent *event)
{
    if (!isMinimized()) {
        QDialog::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    const int icon_size = style()->pixelMetric(QStyle::PM_LargeIconSize);
    const int x = (width() - icon_size + 1) / 2;
    const int y = (height() - icon_size + 1) / 2;
    m_icon.paint(&painter, x, y, icon_size, icon_size);
}

void CMailvaneDlg::contextMenuEvent(QContextMenuEvent *event)
{
    // The window manager owns the real system menu; a right click on the
    // dialog's background shows ours.
    m_system_menu->popup(event->globalPos());
    event->accept();
}

bool CMailvaneDlg::eventFilter(QObject *watched, QEvent *event)
{
    // Enter moves the focus like Tab in this dialog; it never presses the
    // hidden default button.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        auto *key = static_cast<QKeyEvent *>(event);
        auto *widget = static_cast<QWidget *>(watched);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            widget->window() == this) {
            QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, key->modifiers() & ~Qt::KeypadModifier,
                          QStringLiteral("\t"));
            QCoreApplication::sendEvent(widget, &tab);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace korvel
