// The main dialog: path box, Browse, Scan, Stop, Save, the folder tree, the
// item list, the progress bar and the preview pane, with the menu bar. The
// scan and the folder fills run on worker threads and reach the controls
// through the dialog's DialogViews.
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <thread>

#include "app/DialogViews.h"
#include "convert/save/save.h"
#include "scan/scan_state.h"
#include "scan/views.h"

class QAction;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
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
    QWidget *GetDlgItem(int id) const;
    QAction *MenuCommand(int id) const;
    CFolderTreeCtrl1 *Tree() const { return m_tree; }
    QTableView *List() const { return m_list; }
    CExplorer1 *Preview() const { return m_preview; }
    ItemListModel *ListModel() const { return m_list_model; }
    QProgressBar *Progress() const { return m_progress; }
    QLineEdit *PathBox() const { return m_path_box; }
    QMenuBar *MenuBar() const { return m_menu_bar; }
    LoadIDialog *WaitDialog() const { return m_views.WaitDialog(); }
    // The engine's view of the window.
    scan_views &Views() { return m_views; }
    // The lowest-numbered selected row of the item list, or -1.
    int FirstSelectedRow() const;

    scan_state &State() { return m_state; }
    const QString &StartDirectory() const { return m_start_directory; }
    bool ScanRunning() const { return m_scan_running; }
    bool FillRunning() const { return m_fill_running; }
    bool SaveRunning() const { return m_save_running; }
    // A worker owns the mailbox and the record list.
    bool WorkerRunning() const { return m_scan_running || m_fill_running || m_save_running; }
    // Applies what the workers have queued so far (window thread).
    void DrainViews();

    // Dialog-unit geometry of the template, in pixels.
    static QSize ClientSizeInPixels();

protected:
    friend class DialogViews;

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
    bool eventFilter(QObject *watched, QEvent *event) override;

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

    void CreateControls();
    void CreateMenu();
    void OnInitDialog();
    void WireMessageMap();
    void OnNotify(int id, Notify code, const NotifyInfo &info);

    void OnNMClickTree(const NotifyInfo &info);
    void OnTvnKeydownTree(const NotifyInfo &info);
    void OnNMClickList(const NotifyInfo &info);
    void OnLvnItemchangedList(const NotifyInfo &info);

    void ScanThread();
    void FillThread(tree_item item);
    void ScanFinished();
    void FillFinished();
    // Save and File > Convert: the save dialog, then the save worker.
    void StartSave();
    void SaveThread(convert::save_request request);
    void SaveFinished();
    // How the tree's "Recovered Items" check box shapes the save: decided
    // (the dialog's option then shows it and cannot be changed) when some
    // folder or the node is checked and not the whole mailbox; only when the
    // node is checked and no folder. Adds the node's name to names when saved.
    struct RecoveredChoice
    {
        bool decided = false;
        bool saved = true;
        bool only = false;
    };
    RecoveredChoice RecoveredItemsChoice(bool folders_checked, QStringList &names) const;
    // The mailbox is in use by the save: the controls that would read it.
    void SetSaveControlsEnabled(bool enabled);
    void RunDeferredCommands();
    void StopCleanUp();
    void ShutDownWorkers();
    void RemoveWorkingDirectory();
    // Browse once a file is chosen: the views emptied, the file shown, Scan on.
    void TakeMailboxFile(const QString &path);
    bool CanTakeMailboxFile() const;
    void SetCommandEnabled(view_command command, bool enabled);

    // The one scan session of the process.
    scan_state m_state;
    // The workers' way to the controls.
    DialogViews m_views;

    // The application icon (resource 128).
    QIcon m_icon;
    QMenuBar *m_menu_bar = nullptr;
    QWidget *m_client = nullptr;
    QPushButton *m_ok_button = nullptr;
    QPushButton *m_cancel_button = nullptr;
    CFolderTreeCtrl1 *m_tree = nullptr;
    QLineEdit *m_path_box = nullptr;
    QPushButton *m_browse_button = nullptr;
    QGroupBox *m_path_group = nullptr;
    QTableView *m_list = nullptr;
    ItemListModel *m_list_model = nullptr;
    QPushButton *m_scan_button = nullptr;
    QPushButton *m_save_button = nullptr;
    QPushButton *m_stop_button = nullptr;
    QLabel *m_banner = nullptr;
    QGroupBox *m_bottom_group = nullptr;
    QProgressBar *m_progress = nullptr;
    // The preview pane (control 1012).
    CExplorer1 *m_preview = nullptr;
    QLabel *m_path_label = nullptr;
    QAction *m_action_open = nullptr;
    QAction *m_action_scan = nullptr;
    QAction *m_action_convert = nullptr;
    QAction *m_action_exit = nullptr;
    QAction *m_action_content = nullptr;
    QAction *m_action_about = nullptr;
    // Stands in for the window's system menu.
    QMenu *m_system_menu = nullptr;

    // The directory that was current at start: Help looks there.
    QString m_start_directory;

    std::thread m_scan_thread;
    std::thread m_fill_thread;
    std::thread m_save_thread;
    // Window-thread bookkeeping of the workers.
    bool m_scan_running = false;
    bool m_fill_running = false;
    bool m_save_running = false;
    // Stop was answered Yes during a fill's search of the free space.
    bool m_fill_stop_confirmed = false;
    // Stop was answered Yes during the save.
    bool m_save_stop_confirmed = false;
    // Save pressed during a fill: the dialog opens when the fill ends.
    bool m_save_deferred = false;
    // The running save's target, and its outcome (written by the worker,
    // read after it has been joined).
    QString m_save_target;
    int m_save_result = 0;
    convert::save_report m_save_report;
    // Stop was answered Yes: the clean-up waits for the scan's end.
    bool m_stop_confirmed = false;
    // The scan asked for Browse after a failure.
    bool m_browse_after_scan = false;
    // Browse or Scan pressed while a worker ran: run when it ends.
    bool m_browse_deferred = false;
    bool m_scan_deferred = false;
    // The dialog is going away: workers are being ended.
    bool m_shutting_down = false;
};

} // namespace korvel
