// The main dialog's template (102) and menu (152): the controls at the
// template's rectangles in dialog units, in template order (also the tab
// order), the item list's ten columns, the menu bar and the stand-in for the
// system menu. The dialog sets them up once and keeps all the behaviour; this
// class builds them and finds them by id.
#pragma once

#include <utility>
#include <vector>

#include "scan/views.h"

class QAction;
class QIcon;
class QDialog;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QProgressBar;
class QString;
class QPushButton;
class QTableView;
class QWidget;

namespace korvel {

class CExplorer1;
class CFolderTreeCtrl1;
class ItemListModel;

class MainDialogUi
{
public:
    // The window's caption, frame and font, then its controls and menu.
    void setupUi(QDialog *dialog);
    // An icon of the program's resources, by number.
    static QIcon resourceIcon(int number);

    // A control by id (nullptr for an id the template does not have).
    QWidget *control(int id) const;
    // A menu command by id (nullptr for an id the menu does not have).
    QAction *menuCommand(int id) const;
    std::vector<QAction *> menuCommands() const;
    // The push buttons, with the command id each sends.
    std::vector<std::pair<QPushButton *, int>> commandButtons() const;
    // The button or menu command the engine turns on and off.
    void setCommandEnabled(view_command command, bool enabled) const;
    // The controls' states as the dialog's commands leave them. At start:
    // nothing to scan, stop or save.
    void showStart() const;
    // A file taken: the path shown, Scan on, Save off until a scan completes.
    void showMailboxTaken(const QString &path) const;
    // A scan runs: Stop on; Browse, File > Open and Scan off, the tree too.
    void showScanStarted() const;
    // A stopped scan cleaned up: Browse and File > Open back, Stop off.
    void showStopCleanedUp() const;
    // The save reads the mailbox: Browse, Save, the tree, the list and
    // File > Convert are off meanwhile (all were on: a completed scan);
    // Stop stays on for the save's own Stop.
    void showSaveRunning(bool running) const;
    // The lowest-numbered selected row of the item list, or -1.
    int firstSelectedRow() const;

    QMenuBar *menu_bar = nullptr;
    QWidget *client = nullptr;
    QPushButton *ok_button = nullptr;
    QPushButton *cancel_button = nullptr;
    CFolderTreeCtrl1 *tree = nullptr;
    QLineEdit *path_box = nullptr;
    QPushButton *browse_button = nullptr;
    QGroupBox *path_group = nullptr;
    QTableView *list = nullptr;
    ItemListModel *list_model = nullptr;
    QPushButton *scan_button = nullptr;
    QPushButton *save_button = nullptr;
    QPushButton *stop_button = nullptr;
    QLabel *banner = nullptr;
    QGroupBox *bottom_group = nullptr;
    QProgressBar *progress = nullptr;
    // The preview pane (control 1012); blank until the first preview.
    CExplorer1 *preview = nullptr;
    QLabel *path_label = nullptr;
    QAction *action_open = nullptr;
    QAction *action_scan = nullptr;
    QAction *action_convert = nullptr;
    QAction *action_exit = nullptr;
    QAction *action_content = nullptr;
    QAction *action_about = nullptr;
    // Stands in for the window's system menu.
    QMenu *system_menu = nullptr;

private:
    void setupMenu(QDialog *dialog);
    void setupControls(QDialog *dialog);
    void setupList(QDialog *dialog);
};

} // namespace korvel
