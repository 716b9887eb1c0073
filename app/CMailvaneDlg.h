// The main dialog: path box, Browse, Scan, Stop, Save, the folder tree, the
// item list, the progress bar and the preview pane, with the menu bar. The
// open mailbox and the worker that reads it belong to its MailboxController;
// the dialog asks it before a command reads the mailbox and hears back
// through its signals.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <memory>

#include "app/MailboxController.h"
#include "app/MainDialogUi.h"
#include "scan/scan_state.h"
#include "scan/views.h"

class QAction;
class QLineEdit;
class QMenuBar;
class QProgressBar;
class QTableView;

namespace korvel {

class CExplorer1;
class CFolderTreeCtrl1;
class CSaveDlg;
class ItemListModel;
class LoadIDialog;

class CMailvaneDlg : public QDialog
{
    Q_OBJECT

public:
    explicit CMailvaneDlg(QWidget *parent = nullptr);
    ~CMailvaneDlg() override;
    CMailvaneDlg(const CMailvaneDlg &) = delete;
    CMailvaneDlg &operator=(const CMailvaneDlg &) = delete;

    // The one main dialog of the process (set at initialisation).
    static CMailvaneDlg *Instance();

    // Commands and notifications (window thread), reached through the
    // message map.
    void OnCommand(int id);
    void OnBnClickedBrowse();
    // Takes a file named on the command line or dropped on the window as if
    // Browse had chosen it; false (nothing changes) while Browse is off or a
    // worker runs.
    bool OpenMailboxFile(const QString &path);
    void OnBnClickedScan();
    void OnBnClickedStop();
    void OnBnClickedSave();
    void OnFileConvert();
    void OnFileExit();
    void OnHelpContent();
    void OnHelpAbout();
    void OnSysCommand(int id);
    void OnOK();
    void OnCancel();
    void PreviewSelectedItem();

    // The controls, by id (nullptr for an id the dialog does not have).
    QWidget *GetDlgItem(int id) const { return m_ui.control(id); }
    QAction *MenuCommand(int id) const { return m_ui.menuCommand(id); }
    CFolderTreeCtrl1 *Tree() const { return m_ui.tree; }
    QTableView *List() const { return m_ui.list; }
    CExplorer1 *Preview() const { return m_ui.preview; }
    ItemListModel *ListModel() const { return m_ui.list_model; }
    QProgressBar *Progress() const { return m_ui.progress; }
    QLineEdit *PathBox() const { return m_ui.path_box; }
    QMenuBar *MenuBar() const { return m_ui.menu_bar; }
    LoadIDialog *WaitDialog() const { return m_controller->WaitDialog(); }
    // The engine's view of the window.
    scan_views &Views() { return m_controller->Views(); }

    scan_state &State() { return m_controller->Mailbox(); }
    const QString &StartDirectory() const { return m_start_directory; }
    bool ScanRunning() const { return m_controller->ScanRunning(); }
    bool FillRunning() const { return m_controller->FillRunning(); }
    bool SaveRunning() const { return m_controller->SaveRunning(); }
    // A worker owns the mailbox and the record list.
    bool WorkerRunning() const { return m_controller->WorkerRunning(); }
    // Applies what the workers have queued so far (window thread).
    void DrainViews() { m_controller->DrainViews(); }

protected:
    // How the process ends: at once, or through the C runtime's exit.
    enum class ProcessEnd
    {
        immediate,
        runtime_exit,
    };

    // Seams for the file chooser, every message box, the shell and the end of
    // the process; tests answer them. defaultButton: what Enter answers
    // (NoButton: the box's own choice).
    virtual QString ChooseMailboxFile();
    virtual QMessageBox::StandardButton
    AskUser(QMessageBox::Icon icon, const QString &caption, const QString &text,
            QMessageBox::StandardButtons buttons, QWidget *owner,
            QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
    virtual void OpenDocument(const QString &path);
    // The save flow: the save dialog run modally (its result), the chooser
    // of its target (a file, or a directory to create; empty: cancelled), and
    // the end-of-save box with its details.
    virtual int RunSaveDialog(CSaveDlg &dialog);
    virtual QString ChooseSaveTarget(bool directory, const QString &current);
    virtual void ShowReport(QMessageBox::Icon icon, const QString &caption, const QString &text,
                            const QString &details);
    virtual void EndProcess(ProcessEnd how);

    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    enum class Notify
    {
        click,
        key_down,
        item_changed,
    };
    struct NotifyInfo
    {
        int key = 0;
    };
    struct CommandEntry
    {
        int id;
        void (CMailvaneDlg::*handler)();
    };
    struct NotifyEntry
    {
        int id;
        Notify code;
        void (CMailvaneDlg::*handler)(const NotifyInfo &);
    };
    static const CommandEntry command_map[];
    static const NotifyEntry notify_map[];

    void OnInitDialog();
    void WireMessageMap();
    void OnNotify(int id, Notify code, const NotifyInfo &info);

    void OnNMClickTree(const NotifyInfo &info);
    void OnTvnKeydownTree(const NotifyInfo &info);
    void OnNMClickList(const NotifyInfo &info);
    void OnLvnItemchangedList(const NotifyInfo &info);

    // The controller's signals.
    void WireController();
    void OnCommandReady(MailboxController::Command command);
    void OnSaveEnded(int result, const convert::save_report &report, const QString &target);
    // Browse once a file is chosen: the views emptied, the file shown, Scan on.
    void TakeMailboxFile(const QString &path);
    bool CanTakeMailboxFile() const;

    // The application icon (resource 128).
    QIcon m_icon;
    // The controls of the dialog's template and its menu.
    MainDialogUi m_ui;

    // The directory that was current at start: Help looks there.
    QString m_start_directory;

    // The open mailbox and its worker (made once the views it fills exist).
    std::unique_ptr<MailboxController> m_controller;
};

} // namespace korvel
