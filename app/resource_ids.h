// Control ids, menu command ids and resource numbers of the window side, in
// one place. Dialogs bind their controls by these ids and their message maps
// are keyed by them.
#pragma once

namespace korvel::ids {

// Dialog templates.
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_MAILVANE_DIALOG = 102;
inline constexpr int IDD_LOADI_DIALOG = 155;

// String resource: the system-menu entry.
inline constexpr int IDS_ABOUTBOX = 101;
// The system-menu command of the About entry.
inline constexpr int IDM_ABOUTBOX = 0x0010;

// Icons and bitmaps.
inline constexpr int IDR_MAINFRAME = 128;
inline constexpr int IDB_BANNER = 153;
inline constexpr int IDB_ABOUT = 156;

// Main dialog controls (template 102).
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_TREE1 = 1000;
inline constexpr int IDC_EDIT1 = 1001;
inline constexpr int IDC_BROWSE = 1002;
inline constexpr int IDC_PATH_GROUP = 1004;
inline constexpr int IDC_LIST1 = 1005;
inline constexpr int IDC_SCAN = 1006;
inline constexpr int IDC_SAVE = 1007;
inline constexpr int IDC_STOP = 1008;
inline constexpr int IDC_PROGRESS1 = 1009;
inline constexpr int IDC_EXPLORER1 = 1012;

// About dialog (template 100).
inline constexpr int IDC_ABOUT_OK = 1006;

// Menu 152.
inline constexpr int IDR_MENU1 = 152;
inline constexpr int ID_FILE_OPEN = 32771;
inline constexpr int ID_FILE_SCAN = 32772;
inline constexpr int ID_FILE_CONVERT = 32773;
inline constexpr int ID_FILE_EXIT = 32774;
inline constexpr int ID_HELP_CONTENT = 32775;
inline constexpr int ID_HELP_ABOUT = 32776;

// The folder images, in image-list order: icon resource numbers.
inline constexpr int folder_icon_resources[17] = {150, 151, 133, 143, 145, 134, 135, 136, 146,
                                                  137, 147, 138, 139, 148, 140, 142, 141};

// The image of the "Recovered Items" node and its children.
inline constexpr int recovered_icon_resource = 157;

// The Qt resource path of an icon or bitmap resource number.
inline constexpr const char *resource_prefix = ":/korvel/";

} // namespace korvel::ids
