#include "UiHelpers.h"

#include <commctrl.h>

#include "AppContext.h"
#include "resource.h"

void PumpMessages(MessageFilter* filter)
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;
        if (filter && filter->FilterMessage(&msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

std::vector<ListRow> ListRows(HWND list)
{
    std::vector<ListRow> rows;
    int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        char name[4096] = "", path[4096] = "";
        LVITEMA item = {};
        item.mask = LVIF_TEXT | LVIF_PARAM | LVIF_STATE;
        item.iItem = i;
        item.stateMask = LVIS_SELECTED;
        item.pszText = name;
        item.cchTextMax = sizeof(name);
        SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
        LVITEMA sub = {};
        sub.mask = LVIF_TEXT;
        sub.iItem = i;
        sub.iSubItem = 1;
        sub.pszText = path;
        sub.cchTextMax = sizeof(path);
        SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&sub));
        rows.push_back({name, path, (item.state & LVIS_SELECTED) != 0, item.lParam});
    }
    return rows;
}

int ColumnCount(HWND list)
{
    HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
    return static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
}

MainDialogFixture::MainDialogFixture()
{
    g_app.AddMessageLoop(&loop);
    window = dialog.Create(nullptr, IDD_MAINDLG);
    tree = GetDlgItem(window, IDC_STORES_TREE);
    list = GetDlgItem(window, IDC_SEARCH_LIST);
}

MainDialogFixture::~MainDialogFixture()
{
    Destroy();
}

void MainDialogFixture::Destroy()
{
    if (window && IsWindow(window)) DestroyWindow(window);
    window = nullptr;
    if (g_app.GetMessageLoop() == &loop) g_app.RemoveMessageLoop();
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message != WM_QUIT) DispatchMessageA(&msg);
    }
}

std::vector<HTREEITEM> TreeChildren(HWND tree, HTREEITEM parent)
{
    std::vector<HTREEITEM> items;
    HTREEITEM item = reinterpret_cast<HTREEITEM>(
        SendMessageA(tree, TVM_GETNEXTITEM, parent == TVI_ROOT ? TVGN_ROOT : TVGN_CHILD, reinterpret_cast<LPARAM>(parent == TVI_ROOT ? nullptr : parent)));
    while (item) {
        items.push_back(item);
        item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
    }
    return items;
}

namespace {
TVITEMA QueryItem(HWND tree, HTREEITEM item, UINT mask, char* text, int size)
{
    TVITEMA query = {};
    query.mask = mask;
    query.hItem = item;
    query.pszText = text;
    query.cchTextMax = size;
    SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query));
    return query;
}
}

std::string TreeItemText(HWND tree, HTREEITEM item)
{
    char text[1024] = "";
    QueryItem(tree, item, TVIF_TEXT, text, sizeof(text));
    return text;
}

int TreeItemImage(HWND tree, HTREEITEM item)
{
    return QueryItem(tree, item, TVIF_IMAGE, nullptr, 0).iImage;
}

int TreeItemChildren(HWND tree, HTREEITEM item)
{
    return QueryItem(tree, item, TVIF_CHILDREN, nullptr, 0).cChildren;
}

LPARAM TreeItemData(HWND tree, HTREEITEM item)
{
    return QueryItem(tree, item, TVIF_PARAM, nullptr, 0).lParam;
}

HTREEITEM FindTreeItem(HWND tree, HTREEITEM parent, const std::string& text)
{
    for (HTREEITEM item : TreeChildren(tree, parent))
        if (TreeItemText(tree, item) == text) return item;
    return nullptr;
}
