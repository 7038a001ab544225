// Helpers for tests of the real dialogs and controls.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "MessageLoop.h"
#include "maindlg.h"

// Dispatches what is queued for this thread (through the dialog's filter, as the loop does).
void PumpMessages(MessageFilter* filter = nullptr);

struct ListRow {
    std::string name;
    std::string path;
    bool selected;
    LPARAM data;
};
std::vector<ListRow> ListRows(HWND list);
int ColumnCount(HWND list);

// The real main dialog from template 129, created hidden with its message
// loop registered, as Run creates it; destroyed (with its items) at the end.
class MainDialogFixture {
public:
    MainDialogFixture();
    ~MainDialogFixture();
    void Destroy();
    MainDlg dialog;
    MessageLoop loop;
    HWND window = nullptr;
    HWND tree = nullptr, list = nullptr;
};

// Tree helpers.
std::vector<HTREEITEM> TreeChildren(HWND tree, HTREEITEM parent);  // TVI_ROOT for the profiles
std::string TreeItemText(HWND tree, HTREEITEM item);
int TreeItemImage(HWND tree, HTREEITEM item);
int TreeItemChildren(HWND tree, HTREEITEM item);  // the children indicator
LPARAM TreeItemData(HWND tree, HTREEITEM item);
HTREEITEM FindTreeItem(HWND tree, HTREEITEM parent, const std::string& text);
