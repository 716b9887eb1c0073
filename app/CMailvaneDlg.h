// The main dialog: path box, Browse, Scan, Stop, Save, the folder tree, the
// item list, the progress bar and the preview pane, with the menu bar. It is
// also the engine's view of the window: the scan and the folder fills run on
// worker threads and reach the controls only through the scan_views calls
// below, which hand their work to the window thread (in order, batched where
// a folder's rows would otherwise cost a round trip each).
#pragma once

#include <QDialog>
#include <QMessageBox>
#include <QTimer>
#include <atomic>
#include <memory>
#include <thread>

#include "app/ViewQueue.h"
#include "scan/scan_state.h"
#include "scan/views.h"

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QTableView;

namespace korvel {

class CFolderTreeCtrl1;
class ItemListModel;
class LoadIDialog;

class CMailvaneDlg : public QDialog, public scan_views
{
    Q_OBJECT

public:
    explicit CMailvaneDlg(QWidget *parent = nullptr);
    ~CMailvaneDlg() override;
    CMailvaneDlg(const CMailvaneDlg &) = delete;
    CMailvaneDlg &operator=(const CMailvaneDlg &) = delete;

    // The one main dialog of the process (set at initialisation).
    static CMailvaneDlg *Instance();

    // scan_views: callable from any thread.
    tree_item tree_root_item() override;
    tree_item tree_insert_item(tree_item parent, const std::u16string &text) override;
    void tree_set_bold(tree_item item) override;
    void tree_set_enabled(bool enabled) override;
    void list_delete_all_rows() override;
    int list_insert_row(const std::u16string &column0) override;
    void list_set_cell(int row, int column, const std::u16string *text) override;
    void list_rename_column(int column, const std::u16string &title) override;
    void progress_set(int position) override;
    void command_set_enabled(view_command command, bool enabled) override;
    void message_box(message_icon icon, const std::u16string &caption,
                     const std::u16string &text) override;
    void wait_dialog_show() override;
    void wait_dialog_close() override;
    void run_browse() override;
    void memory_exhausted(const std::u16string &caption, const std::u16string &text) override;

    // Commands and notifications (window thread), reached through the
    // message map.
    void OnCommand(int id);
    void OnBnClickedBrowse();
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
    ItemListModel *ListModel() const { return m_list_model; }
    QProgressBar *Progress() const { return m_progress; }
    QLineEdit *PathBox() const { return m_path_box; }
    QMenuBar *MenuBar() const { return m_menu_bar; }
    LoadIDialog *WaitDialog() const { return m_wait_dialog.get(); }
    // The lowest-numbered selected row of the item list, or -1.
    int FirstSelectedRow() const;

    scan_state &State() { return m_state; }
    const QString &StartDirectory() const { return m_start_directory; }
    bool ScanRunning() const { return m_scan_running; }
    bool FillRunning() const { return m_fill_running; }
    // Applies what the workers have queued so far (window thread).
    void DrainViews();

    // Dialog-unit geometry of the template, in pixels.
    static QSize ClientSizeInPixels();

protected:
    // How the process ends: at once, or through the C runtime's exit.
    enum class ProcessEnd
    {
        immediate,
        runtime_exit,
    };

    // Seams for the file chooser, every message box, the shell and the end of
    // the process; tests answer them.
    virtual QString ChooseMailboxFile();
    virtual QMessageBox::StandardButton AskUser(QMessageBox::Icon icon, const QString &caption,
                                                const QString &text,
                                                QMessageBox::StandardButtons buttons,
                                                QWidget *owner);
    virtual void OpenDocument(const QString &path);
    virtual void EndProcess(ProcessEnd how);

    void closeEvent(QCloseEvent *event) override;
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
    void RunDeferredCommands();
    void StopCleanUp();
    void ShutDownWorkers();
    void RemoveWorkingDirectory();
    void SetCommandEnabled(view_command command, bool enabled);

    bool OnWindowThread() const;
    void AfterPush(bool was_empty);
    void RequestDrain();
    template <typename Function> void RunOnWindowThread(Function &&function);

    // The one scan session of the process.
    scan_state m_state;
    // Worker calls waiting for the window thread.
    ViewQueue m_queue;
    // Starts a drain shortly after the first queued call, so rows arrive in
    // batches.
    QTimer m_drain_timer;

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
    QFrame *m_preview = nullptr;
    QLabel *m_path_label = nullptr;
    QAction *m_action_open = nullptr;
    QAction *m_action_scan = nullptr;
    QAction *m_action_convert = nullptr;
    QAction *m_action_exit = nullptr;
    QAction *m_action_content = nullptr;
    QAction *m_action_about = nullptr;
    // Stands in for the window's system menu.
    QMenu *m_system_menu = nullptr;
    std::unique_ptr<LoadIDialog> m_wait_dialog;

    // The directory that was current at start: Help looks there.
    QString m_start_directory;
    // The root item Browse inserted (0: none); read by the scan worker.
    std::atomic<tree_item> m_root_item{0};
    // Tree item handles are handed out here, so a worker gets its handle
    // without waiting for the window thread.
    std::atomic<tree_item> m_next_tree_item{1};

    std::thread m_scan_thread;
    std::thread m_fill_thread;
    // Window-thread bookkeeping of the workers.
    bool m_scan_running = false;
    bool m_fill_running = false;
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
