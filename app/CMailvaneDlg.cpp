#include "app/CMailvaneDlg.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTableView>

#include "app/CAboutDlg.h"
#include "app/CFolderTreeCtrl1.h"
#include "app/CSaveDlg.h"
#include "app/CommandLine.h"
#include "app/DesktopDialogs.h"
#include "app/EnterMovesFocus.h"
#include "app/ItemListModel.h"
#include "app/resource_ids.h"
#include "preview/browser/CExplorer1.h"
#include "preview/preview_builder.h"

namespace korvel {

using namespace ids;

namespace {

CMailvaneDlg *g_main_dialog = nullptr;

const QString caption_text = QStringLiteral("Korvel PST Repair");

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
    m_ui.setupUi(this);
    m_icon = MainDialogUi::resourceIcon(IDR_MAINFRAME);
    WireMessageMap();
    new EnterMovesFocus(this);
    m_controller =
        std::make_unique<MailboxController>(*m_ui.tree, *m_ui.list_model, *m_ui.progress);
    WireController();
    OnInitDialog();
    // A mailbox file dropped anywhere on the window is taken as Browse's.
    setAcceptDrops(true);
}

CMailvaneDlg::~CMailvaneDlg()
{
    m_controller->ShutDown();
}

CMailvaneDlg *CMailvaneDlg::Instance()
{
    return g_main_dialog;
}

void CMailvaneDlg::WireMessageMap()
{
    for (const auto &[button, id] : m_ui.commandButtons()) {
        const int command = id;
        connect(button, &QPushButton::clicked, this, [this, command] { OnCommand(command); });
    }
    for (QAction *action : m_ui.menuCommands()) {
        const int command = action->data().toInt();
        connect(action, &QAction::triggered, this, [this, command] { OnCommand(command); });
    }
    connect(m_ui.tree, &CFolderTreeCtrl1::treeClicked, this,
            [this] { OnNotify(IDC_TREE1, Notify::click, {}); });
    connect(m_ui.tree, &CFolderTreeCtrl1::treeKeyDown, this,
            [this](int key) { OnNotify(IDC_TREE1, Notify::key_down, {key}); });
    connect(m_ui.list, &QTableView::clicked, this,
            [this] { OnNotify(IDC_LIST1, Notify::click, {}); });
    connect(m_ui.list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { OnNotify(IDC_LIST1, Notify::item_changed, {}); });
}

void CMailvaneDlg::OnInitDialog()
{
    g_main_dialog = this;

    // The system-menu entry (string 101).
    m_ui.system_menu->addSeparator();
    QAction *about = m_ui.system_menu->addAction(QStringLiteral("&About Korvel PST Repair"));
    connect(about, &QAction::triggered, this, [this] { OnSysCommand(IDM_ABOUTBOX); });

    setWindowIcon(m_icon);

    m_ui.tree->BuildImageList();

    m_ui.showStart();

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

// ---------------------------------------------------------------------------
// The controller

void CMailvaneDlg::WireController()
{
    MailboxController *controller = m_controller.get();
    connect(controller, &MailboxController::commandReady, this, &CMailvaneDlg::OnCommandReady);
    connect(controller, &MailboxController::stopCleanedUp, this,
            [this] { m_ui.showStopCleanedUp(); });
    connect(controller, &MailboxController::saveEnded, this, &CMailvaneDlg::OnSaveEnded);
    connect(
        controller, &MailboxController::commandEnabled, this,
        [this](view_command command, bool enabled) { m_ui.setCommandEnabled(command, enabled); });
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
    // A put-off command runs as if its button had been pressed now.
    using Command = MailboxController::Command;
    const std::pair<Command, int> buttons[] = {
        {Command::browse, IDC_BROWSE}, {Command::scan, IDC_SCAN}, {Command::save, IDC_SAVE}};
    for (const auto &[ready, id] : buttons) {
        if (ready == command) {
            OnCommand(id);
        }
    }
}

void CMailvaneDlg::OnSaveEnded(int result, const convert::save_report &report,
                               const QString &target)
{
    m_ui.showSaveRunning(false);
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
    TakeMailboxFile(path);
    return true;
}

bool CMailvaneDlg::CanTakeMailboxFile() const
{
    return m_ui.browse_button->isEnabled() && !ScanRunning() && !FillRunning();
}

void CMailvaneDlg::TakeMailboxFile(const QString &path)
{
    m_controller->TakeMailbox(path);
    m_ui.showMailboxTaken(path);
}

void CMailvaneDlg::OnBnClickedScan()
{
    if (!m_controller->Admit(MailboxController::Command::scan)) {
        return;
    }
    m_ui.showScanStarted();
    m_controller->StartScan();
}

void CMailvaneDlg::OnBnClickedStop()
{
    switch (m_controller->BeginStop()) {
    case MailboxController::StopStep::nothing:
        return;
    case MailboxController::StopStep::enable_browse:
        m_ui.browse_button->setEnabled(true);
        return;
    case MailboxController::StopStep::ask:
        break;
    }
    const QMessageBox::StandardButton answer = AskUser(
        QMessageBox::Question, caption_text, QStringLiteral("Do you want to stop scan process ?"),
        QMessageBox::Yes | QMessageBox::No, this);
    if (m_controller->AnswerStop(answer == QMessageBox::Yes)) {
        m_ui.browse_button->setEnabled(true);
    }
}

void CMailvaneDlg::OnFileConvert()
{
    OnBnClickedSave();
}

void CMailvaneDlg::OnBnClickedSave()
{
    if (!m_controller->Admit(MailboxController::Command::save)) {
        return;
    }
    // Save is on exactly while a completed scan's folders are in the stores.
    if (!m_ui.save_button->isEnabled()) {
        AskUser(QMessageBox::Information, caption_text,
                QStringLiteral("Scan a mailbox first: the save writes what the scan found."),
                QMessageBox::Ok, this);
        return;
    }
    const scan_state &state = m_controller->Mailbox();
    CSaveDlg dialog(
        QString::fromStdU16String(state.mailbox_path), CSaveDlg::ChoiceFromTree(*m_ui.tree, state),
        [this](const SaveFormat &format, const QString &current) {
            return ChooseSaveTarget(format.directory, current);
        },
        [this, &dialog](QMessageBox::Icon icon, const QString &text,
                        QMessageBox::StandardButtons buttons,
                        QMessageBox::StandardButton defaultButton) {
            return AskUser(icon, caption_text, text, buttons, &dialog, defaultButton);
        },
        this);
    if (RunSaveDialog(dialog) != QDialog::Accepted) {
        return;
    }
    m_ui.showSaveRunning(true);
    m_controller->StartSave(dialog.Request());
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
    const int row = m_ui.firstSelectedRow();
    if (row < 0) {
        return;
    }
    preview_outcome outcome;
    if (!m_controller->PreviewItem(m_ui.list_model->cellText(row, 0).toStdU16String(),
                                   m_ui.list_model->cellText(row, 1).toStdU16String(), outcome)) {
        return;
    }
    if (outcome.navigate) {
        m_ui.preview->Navigate(QString::fromStdU16String(outcome.path),
                               std::move(outcome.content_ids));
    }
}

// ---------------------------------------------------------------------------
// Notifications

void CMailvaneDlg::OnNMClickTree(const NotifyInfo &)
{
    if (!m_controller->Admit(MailboxController::Command::fill)) {
        return;
    }
    m_controller->StartFill(m_ui.tree->HandleOf(m_ui.tree->currentItem()));
}

void CMailvaneDlg::OnTvnKeydownTree(const NotifyInfo &info)
{
    if (info.key != Qt::Key_Space) {
        return;
    }
    QTreeWidgetItem *item = m_ui.tree->currentItem();
    if (item == nullptr) {
        return;
    }
    // The folder list is only written by a scan, which keeps the tree disabled.
    const bool folder_item = !ScanRunning() && folder_list_knows(&m_controller->Mailbox().folders,
                                                                 m_ui.tree->HandleOf(item));
    if (folder_item) {
        if (!CFolderTreeCtrl1::IsChecked(item)) {
            // The control toggles twice: a folder item stays unchecked.
            QCoreApplication::postEvent(m_ui.tree,
                                        new QKeyEvent(QEvent::KeyPress, Qt::Key_Space,
                                                      Qt::NoModifier, QStringLiteral(" ")));
        }
        return;
    }
    CFolderTreeCtrl1::SpreadBeforeKeyToggle(item);
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
// Seams

QString CMailvaneDlg::ChooseMailboxFile()
{
    return DesktopDialogs::ChooseMailboxFile(
        this, ChooserDirectory(QString::fromStdU16String(State().mailbox_path), m_start_directory,
                               QDir::homePath()));
}

QMessageBox::StandardButton CMailvaneDlg::AskUser(QMessageBox::Icon icon, const QString &caption,
                                                  const QString &text,
                                                  QMessageBox::StandardButtons buttons,
                                                  QWidget *owner,
                                                  QMessageBox::StandardButton defaultButton)
{
    return DesktopDialogs::Ask(icon, caption, text, buttons, owner, defaultButton);
}

int CMailvaneDlg::RunSaveDialog(CSaveDlg &dialog)
{
    return dialog.exec();
}

QString CMailvaneDlg::ChooseSaveTarget(bool directory, const QString &current)
{
    return DesktopDialogs::ChooseSaveTarget(this, directory, current);
}

void CMailvaneDlg::ShowReport(QMessageBox::Icon icon, const QString &caption, const QString &text,
                              const QString &details)
{
    DesktopDialogs::ShowReport(this, icon, caption, text, details);
}

void CMailvaneDlg::OpenDocument(const QString &path)
{
    DesktopDialogs::OpenDocument(path);
}

void CMailvaneDlg::EndProcess(ProcessEnd how)
{
    DesktopDialogs::EndProcess(how == ProcessEnd::immediate);
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
    m_ui.system_menu->popup(event->globalPos());
    event->accept();
}

} // namespace korvel
