// Resource identifiers, shared by the code and Korvane.rc.
#pragma once

#define IDD_ABOUTBOX        100
#define IDR_MAINFRAME       128
#define IDD_MAINDLG         129
#define IDS_FOLDER_COLUMN   200
#define IDS_PATH_COLUMN     201
#define IDB_STORES          201
#define IDB_SEARCHFOLDER    202
#define IDS_WEB_ADDRESS     250

#define IDC_STORES_TREE     1000
#define IDC_SEARCH_LIST     1001
#define IDC_DELETE          1002
#define IDC_RELOAD          1003
#define IDC_SELECT_ALL      1004
#define IDC_LINK            1005
#define ID_APP_ABOUT        57664
