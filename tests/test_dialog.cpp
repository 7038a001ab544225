// The main dialog against mapisim, driven as the user drives it: the tree
// of profiles and stores, the scan into the list, deletion, the commands
// and their keys, and stores built to hurt.
#include <doctest/doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <functional>

#include "Scenario.h"
#include "trace.h"
#include "utlis.h"

namespace {

std::string Store(const std::string& finder, const std::string& body, const std::string& profile = "P",
                  const std::string& storeAttributes = "")
{
    return "profile " + profile + " default\n  store S default" + storeAttributes + "\n    finder " + finder + "\n" + body;
}

const std::string kNested = Store("F",
                                  "      folder A search\n"
                                  "      folder G\n"
                                  "        folder B search\n"
                                  "        folder \"Q1/Q2 reports\"\n"
                                  "          folder C search\n"
                                  "      folder \"With class\" class=IPF.Note\n"
                                  "        folder D search\n"
                                  "      folder Hidden search class=IPF.Note\n"
                                  "      folder E search\n");

const std::string kStores =
    "profile Zulu\n  store \"Z store\" default\n    finder F\n      folder z1 search\n"
    "profile Mail default\n  store Mailbox default\n    finder Finder\n      folder \"Unread Mail\" search\n"
    "      folder Projects\n        folder \"From Boss\" search\n"
    "  store Archive\n    finder Finder\n      folder Old search\n"
    "profile Locked fail=Logon:0x80040111\n  store Hidden\n"
    "profile Empty\n"
    "profile Broken\n  store First\n  store Second missing=name\n  store Third\n";

std::vector<std::string> Paths(const Scenario& f)
{
    std::vector<std::string> paths;
    for (const ListRow& row : ListRows(f.ui->list)) paths.push_back(row.path);
    return paths;
}

std::vector<std::string> Texts(const std::vector<TreeItem>& items)
{
    std::vector<std::string> texts;
    for (const TreeItem& item : items) texts.push_back(item.text);
    return texts;
}

// The call log from line |from| on, without session numbers (they count for the whole process).
std::vector<std::string> CallsFrom(const MapiSim& sim, size_t from)
{
    std::vector<std::string> lines = sim.LogLines();
    lines.erase(lines.begin(), lines.begin() + std::min(from, lines.size()));
    for (std::string& line : lines)
        if (line.compare(0, 21, "OpenMsgStore session=") == 0) line.erase(13, line.find(' ', 13) - 12);
    return lines;
}

} // namespace

TEST_CASE("a scan lists search folders depth first, each with the path of the folder that holds it")
{
    Scenario f(kNested);
    CHECK(f.Scan() == S_OK);
    CHECK(f.Names() == std::vector<std::string>{"A", "B", "C", "D", "E"});
    CHECK(Paths(f) == std::vector<std::string>{"/F", "/F/G", "/F/G/Q1/Q2 reports", "/F/With class", "/F"});
}

TEST_CASE("the MAPI calls of a scan and of a deletion, in order")
{
    Scenario f(Store("F batch=2", "      folder A search\n      folder G\n        folder B search\n"
                                  "      folder X search class=IPF.Note\n"));
    f.ui->Expand(f.ui->Find("P"));
    size_t mark = f.sim.LogLines().size();
    CHECK(f.Scan() == S_OK);
    CHECK(CallsFrom(f.sim, mark) == std::vector<std::string>{
        "OpenMsgStore store=\"P/S\" iid=null flags=0x00000084 -> 0x00000000",
        "GetProps object=\"P/S\" count=1 flags=0x00000000 -> 0x00000000",
        "OpenEntry on=\"P/S\" target=\"P/S/F\" iid=null flags=0x00000001 -> 0x00000000",
        "GetProps object=\"P/S/F\" count=4 flags=0x00000000 -> 0x00040380",
        "GetHierarchyTable object=\"P/S/F\" flags=0x00000000 -> 0x00000000",
        "SetColumns table=\"P/S/F\" count=7 flags=0x00000000 -> 0x00000000",
        "QueryRows table=\"P/S/F\" rows=20 flags=0x00000000 returned=2 -> 0x00000000",
        "OpenEntry on=\"P/S/F\" target=\"P/S/F/A\" iid=null flags=0x00000001 -> 0x00000000",
        "GetProps object=\"P/S/F/A\" count=4 flags=0x00000000 -> 0x00040380",
        "GetHierarchyTable object=\"P/S/F/A\" flags=0x00000000 -> 0x80040102",
        "OpenEntry on=\"P/S/F\" target=\"P/S/F/G\" iid=null flags=0x00000001 -> 0x00000000",
        "GetProps object=\"P/S/F/G\" count=4 flags=0x00000000 -> 0x00040380",
        "GetHierarchyTable object=\"P/S/F/G\" flags=0x00000000 -> 0x00000000",
        "SetColumns table=\"P/S/F/G\" count=7 flags=0x00000000 -> 0x00000000",
        "QueryRows table=\"P/S/F/G\" rows=20 flags=0x00000000 returned=1 -> 0x00000000",
        "OpenEntry on=\"P/S/F/G\" target=\"P/S/F/G/B\" iid=null flags=0x00000001 -> 0x00000000",
        "GetProps object=\"P/S/F/G/B\" count=4 flags=0x00000000 -> 0x00040380",
        "GetHierarchyTable object=\"P/S/F/G/B\" flags=0x00000000 -> 0x80040102",
        "QueryRows table=\"P/S/F/G\" rows=20 flags=0x00000000 returned=0 -> 0x00000000",
        "QueryRows table=\"P/S/F\" rows=20 flags=0x00000000 returned=1 -> 0x00000000",
        "OpenEntry on=\"P/S/F\" target=\"P/S/F/X\" iid=null flags=0x00000001 -> 0x00000000",
        "GetProps object=\"P/S/F/X\" count=4 flags=0x00000000 -> 0x00000000",
        "GetHierarchyTable object=\"P/S/F/X\" flags=0x00000000 -> 0x80040102",
        "QueryRows table=\"P/S/F\" rows=20 flags=0x00000000 returned=0 -> 0x00000000",
    });
    // Each folder is opened from the store, and deleted from the parent it names.
    mark = f.sim.LogLines().size();
    CHECK(f.Delete({0, 1}) == S_OK);
    CHECK(CallsFrom(f.sim, mark) == std::vector<std::string>{
        "OpenMsgStore store=\"P/S\" iid=null flags=0x00000084 -> 0x00000000",
        "OpenEntry on=\"P/S\" target=\"P/S/F/A\" iid=null flags=0x00000001 -> 0x00000000",
        "GetProps object=\"P/S/F/A\" count=1 flags=0x00000000 -> 0x00000000",
        "OpenEntry on=\"P/S\" target=\"P/S/F\" iid=null flags=0x00000001 -> 0x00000000",
        "DeleteFolder on=\"P/S/F\" target=\"P/S/F/A\" ui=nonnull progress=null flags=0x00000006 -> 0x00000000",
        "OpenEntry on=\"P/S\" target=\"P/S/F/G/B\" iid=null flags=0x00000001 -> 0x00000000",
        "GetProps object=\"P/S/F/G/B\" count=1 flags=0x00000000 -> 0x00000000",
        "OpenEntry on=\"P/S\" target=\"P/S/F/G\" iid=null flags=0x00000001 -> 0x00000000",
        "DeleteFolder on=\"P/S/F/G\" target=\"P/S/F/G/B\" ui=nonnull progress=null flags=0x00000006 -> 0x00000000",
    });
    CHECK(f.Names().empty());
    CHECK(f.StoreNames() == std::vector<std::string>{"G", "X"});
}

TEST_CASE("the finder itself is listed only when it is a search folder without a container class")
{
    const struct {
        const char* finder;
        std::vector<std::string> names;
    } cases[] = {
        {"\"Root Finder\" search", {"Root Finder"}},  // its visit ends quietly: a search folder has no hierarchy
        {"F search class=IPF.Note", {}},
        {"F", {}},
    };
    for (const auto& c : cases) {
        CAPTURE(c.finder);
        Scenario f(Store(c.finder, "      folder X\n        folder Y search class=IPF.Note\n"));
        CHECK(f.Scan() == S_OK);
        CHECK(f.Names() == c.names);
        if (!c.names.empty()) CHECK(Paths(f) == std::vector<std::string>{""});
    }
}

TEST_CASE("a failure ends the scan where it happened: the whole scan at the store and finder, one visit below")
{
    std::string many;
    for (int i = 0; i < 25; ++i) many += "      folder s" + std::to_string(i) + " search\n";
    const std::string two = "      folder G\n        folder a search\n", ok = "      folder ok search\n";
    const struct {
        const char* store;  // attributes of the store line
        const char* finder;
        std::string body;
        HRESULT result;
        const char* line;
        size_t listed;
    } cases[] = {
        {" fail=OpenMsgStore:0x80040115", "F", two, HRESULT(0x80040115), "OpenMsgStore() failed: hr=80040115", 0},
        {" fail=GetProps:0x8004010e", "F", two, HRESULT(0x8004010E), "GetFinder() failed: hr=8004010e", 0},
        {" missing=finder", "F", two, E_FAIL, "pStoreProps invalid, failed: hr=80004005", 0},
        {" fail=OpenEntry:0x8004010f", "F", two, HRESULT(0x8004010F), "OpenEntry() failed: hr=8004010f", 0},
        {"", "F fail=Open:0x80070005", two, HRESULT(0x80070005), "GetFinder() failed: hr=80070005", 0},
        {"", "F fail=GetProps:0x80040115", two, HRESULT(0x80040115), "BuildSearchList() failed: hr=80040115", 0},
        {"", "F missing=foldertype", two, E_FAIL, "cFinderProps not ok: hr=80004005", 0},
        {"", "F fail=GetHierarchyTable:0x8007000e", two, E_OUTOFMEMORY, "GetHierarchyTable() failed: hr=8007000e", 0},
        {"", "F fail=SetColumns:0x80040102", two, MAPI_E_NO_SUPPORT, "SetColumns() failed: hr=80040102", 0},
        {"", "F fail=QueryRows:0x80040115@2", many, HRESULT(0x80040115), "QueryRows() failed: hr=80040115", 20},
        // A folder that cannot be opened ends its parent's visit; the other failures end its own.
        {"", "F", "      folder Top\n        folder G fail=Open:0x8004010f\n        folder after search\n" + ok, S_OK,
         "OpenEntry() failed: hr=8004010f", 1},
        {"", "F", "      folder G fail=GetProps:0x80040115\n        folder x search\n" + ok, S_OK, "GetProps() failed: hr=80040115", 1},
        {"", "F", "      folder G missing=foldertype\n        folder x search\n      folder y search missing=foldertype\n" + ok,
         S_OK, "cFinderProps not ok: hr=80004005", 1},
        {"", "F", "      folder G fail=GetHierarchyTable:0x80040115\n        folder x search\n" + ok, S_OK,
         "GetHierarchyTable() failed: hr=80040115", 1},
        {"", "F", "      folder G fail=SetColumns:0x80040115\n        folder x search\n" + ok, S_OK, "SetColumns() failed: hr=80040115", 1},
        {"", "F", "      folder G fail=QueryRows:0x80040115\n        folder x search\n" + ok, S_OK, "QueryRows() failed: hr=80040115", 1},
        {"", "F", "      folder G\n        folder x search missing=entryid\n        folder y search\n" + ok, S_OK,
         "pRow->lpProps[0].ulPropTag not ok: hr=80004005", 1},
    };
    int n = 0;
    for (const auto& c : cases) {
        CAPTURE(c.line);
        // mapisim counts @N per object for the whole process: each case has a profile of its own.
        std::string profile = "Scan" + std::to_string(++n);
        Scenario f(Store(c.finder, c.body, profile, c.store));
        CHECK(f.Scan(profile) == c.result);
        CHECK(Contains(f.trace, std::string("] ") + c.line + "\n"));
        CHECK(f.Names().size() == c.listed);
    }
}

TEST_CASE("a folder whose record cannot be copied is listed without one, and a deletion stops at it")
{
    // A 37-byte identifier gives this record's allocation a size of its own.
    Scenario f(Store("F", "      folder first search\n      folder odd search id=" + std::string(74, 'A') +
                          "\n      folder last search\n"));
    FailAllocationsOfSize(sizeof(SBinary) + 37, 1);
    CHECK(f.Scan() == S_OK);
    FailAllocationsOfSize(0, 0);
    CHECK(Contains(f.trace, "] malloc() failed: hr=8007000e\n"));
    std::vector<ListRow> rows = ListRows(f.ui->list);
    REQUIRE(rows.size() == 3);
    CHECK(rows[1].data == 0);
    CHECK(f.Delete({0, 1, 2}) == E_FAIL);
    CHECK(Contains(f.trace, "] GetItemData() failed: hr=80004005\n"));
    CHECK(f.Names() == std::vector<std::string>{"odd", "last"});
    CHECK(f.StoreNames() == std::vector<std::string>{"odd", "last"});
}

TEST_CASE("a sub-folder path that cannot be allocated ends the scan with E_OUTOFMEMORY")
{
    const std::string finder = "Finder-31-characters-long-name!";
    Scenario f(Store(finder, "      folder x search\n"));
    FailAllocationsOfSize(finder.size() + 2, 1);  // "/" + the name + the terminator
    CHECK(f.Scan() == E_OUTOFMEMORY);
    FailAllocationsOfSize(0, 0);
    CHECK(f.Names().empty());
}

TEST_CASE("deletion goes top row first and stops at the first failure, which keeps its row and the rest")
{
    const std::string xy = "      folder x search\n      folder y search\n";
    const struct {
        const char* store;
        const char* finder;
        std::string body;
        std::vector<int> selected;
        HRESULT result;
        const char* line;
        std::vector<std::string> rowsLeft, storeLeft;
    } cases[] = {
        {"", "F", "      folder keep search\n      folder one search\n      folder two search fail=DeleteFolder:0x80070005\n"
                  "      folder three search\n",
         {1, 2, 3}, HRESULT(0x80070005), "DeleteFolder() failed: hr=80070005", {"keep", "two", "three"}, {"keep", "two", "three"}},
        {"", "F", "      folder x search fail=GetProps:0x80040115@2\n      folder y search\n", {0, 1}, HRESULT(0x80040115),
         "GetParentFolder() failed: hr=80040115", {"x", "y"}, {"x", "y"}},
        {"", "F", "      folder x search missing=parent\n      folder y search\n", {0, 1}, E_FAIL,
         "pPropArray invalid, failed: hr=80004005", {"x", "y"}, {"x", "y"}},
        {"", "F fail=Open:0x8004010f@2", xy, {0, 1}, MAPI_E_NOT_FOUND, "GetParentFolder() failed: hr=8004010f", {"x", "y"}, {"x", "y"}},
        // As when another client deleted the folder after the scan.
        {"", "F", "      folder x search fail=Open:0x8004010f@2\n      folder y search\n", {0, 1}, MAPI_E_NOT_FOUND,
         "OpenEntry() failed: hr=8004010f", {"x", "y"}, {"x", "y"}},
        {" fail=OpenMsgStore:0x80040115@2", "F", xy, {0, 1}, HRESULT(0x80040115), "OpenMsgStore() failed: hr=80040115",
         {"x", "y"}, {"x", "y"}},
        {"", "F", xy, {}, S_OK, "<--DeleteSelection(), ret = 0", {"x", "y"}, {"x", "y"}},
    };
    int n = 0;
    for (const auto& c : cases) {
        CAPTURE(c.line);
        std::string profile = "Delete" + std::to_string(++n);
        std::string text = Store(c.finder, c.body, profile, c.store);
        Scenario f(text);
        REQUIRE(f.Scan(profile) == S_OK);
        CHECK(f.Delete(c.selected) == c.result);
        CHECK(Contains(f.trace, c.line));
        CHECK(f.Names() == c.rowsLeft);
        CHECK(f.StoreNames() == c.storeLeft);
        // What is left of the selection stays selected, and Delete stays enabled for it.
        std::vector<ListRow> rows = ListRows(f.ui->list);
        for (const ListRow& row : rows) CHECK(row.selected == (!c.selected.empty() && row.name != "keep"));
        CHECK(IsWindowEnabled(f.ui->deleteButton) == !c.selected.empty());
        if (c.selected.empty()) CHECK(f.sim.StoreText() == text);  // not even written again
    }
}

TEST_CASE("start: profiles sorted, the default one marked, nothing logged on, the list empty and Delete disabled")
{
    Scenario f(kStores);
    std::vector<TreeItem> profiles = TreeChildren(f.ui->tree);
    CHECK(Texts(profiles) == std::vector<std::string>{"Broken", "Empty", "Locked", "Mail", "Zulu"});
    for (const TreeItem& profile : profiles) {
        CAPTURE(profile.text);
        CHECK(profile.image == (profile.text == "Mail" ? 1 : 0));
        CHECK(profile.children == 1);
        CHECK(TreeChildren(f.ui->tree, profile.item).empty());
    }
    char texts[2][32] = {};
    for (int column = 0; column < 2; ++column) {
        LVCOLUMNA query = {LVCF_TEXT};
        query.pszText = texts[column];
        query.cchTextMax = sizeof(texts[column]);
        SendMessageA(f.ui->list, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&query));
    }
    CHECK(std::string(texts[0]) + "|" + texts[1] == "Folder|Path");
    CHECK(ListRows(f.ui->list).empty());
    CHECK_FALSE(IsWindowEnabled(f.ui->deleteButton));
    CHECK(f.sim.Calls("MAPILogonEx").empty());
}

TEST_CASE("expanding logs on with a session of its own each time; collapsing logs off and removes the stores")
{
    Scenario f(kStores);
    HTREEITEM mail = f.ui->Find("Mail");
    for (int round = 0; round < 2; ++round) {
        f.ui->Expand(mail);
        std::vector<TreeItem> stores = TreeChildren(f.ui->tree, mail);
        CHECK(Texts(stores) == std::vector<std::string>{"Archive", "Mailbox"});
        CHECK(stores[0].image == 2);
        CHECK(stores[1].image == 3);
        CHECK(Contains(f.sim.Calls("MAPILogonEx").back(), "MAPILogonEx profile=\"Mail\" ui=0x00000000 password=null flags=0x00108022 "));
        CHECK(f.sim.Calls("OpenMsgStore").empty());  // listing the stores opens none of them
        f.ui->Collapse(mail);
        CHECK(TreeChildren(f.ui->tree, mail).empty());
        CHECK(TreeChildren(f.ui->tree).at(3).children == 1);
    }
    CHECK(f.sim.Calls("Logoff").size() == 2);
    std::vector<std::string> logons = f.sim.Calls("MAPILogonEx");
    CHECK(logons.at(0).substr(logons[0].find("session=")) != logons.at(1).substr(logons[1].find("session=")));
}

TEST_CASE("a failed logon, a profile without stores, and a store row without a name")
{
    Scenario f(kStores);
    for (const char* name : {"Locked", "Empty", "Broken"}) f.ui->Expand(f.ui->Find(name));
    std::vector<TreeItem> profiles = TreeChildren(f.ui->tree);
    CHECK(profiles[2].children == 0);  // Locked: no session, nothing to show
    CHECK(profiles[2].data == 0);
    CHECK(profiles[1].children == 0);  // Empty keeps its session to the end
    CHECK(profiles[1].data != 0);
    // Broken: the listing stops at the bad row, and without a whole listing no session is kept.
    CHECK(Texts(TreeChildren(f.ui->tree, profiles[0].item)) == std::vector<std::string>{"First"});
    CHECK(profiles[0].data == 0);
    CHECK(f.sim.Calls("Logoff").size() == 1);
    // So its store cannot be scanned.
    f.ui->Select(f.ui->Find("Broken/First"));
    CHECK(f.sim.Calls("OpenMsgStore").empty());
}

TEST_CASE("selecting a store lists it, selecting a profile empties the list; Delete follows the selected rows")
{
    Scenario f(kStores);
    CHECK(f.Scan("Mail", "Mailbox") == S_OK);
    CHECK(f.Names() == std::vector<std::string>{"Unread Mail", "From Boss"});
    CHECK_FALSE(IsWindowEnabled(f.ui->deleteButton));
    f.ui->SelectRows({1});
    CHECK(IsWindowEnabled(f.ui->deleteButton));
    f.ui->Select(f.ui->Find("Mail"));
    CHECK(f.Names().empty());
    CHECK_FALSE(IsWindowEnabled(f.ui->deleteButton));
    CHECK(f.Scan("Mail", "Archive") == S_OK);
    CHECK(f.Names() == std::vector<std::string>{"Old"});
}

TEST_CASE("Reload, Ctrl+R and F5 scan the selected store again, and nothing else")
{
    Scenario f(kStores);
    ShowWindow(f.ui->window, SW_SHOW);
    const struct {
        const char* how;
        WORD key;
        bool control;
    } ways[] = {{"button", 0, false}, {"Ctrl+R", 'R', true}, {"F5", VK_F5, false}};
    auto reload = [&](const auto& way) {
        if (way.key) f.ui->Press(way.key, way.control);
        else SendMessageA(GetDlgItem(f.ui->window, IDC_RELOAD), BM_CLICK, 0, 0);
    };
    for (const auto& way : ways) {
        CAPTURE(way.how);
        SendMessageA(f.ui->tree, TVM_SELECTITEM, TVGN_CARET, 0);
        reload(way);
        f.ui->Select(f.ui->Find("Mail"));
        reload(way);
        CHECK(f.sim.Calls("OpenMsgStore").empty());
    }
    CHECK(f.Scan("Mail", "Mailbox") == S_OK);
    for (const auto& way : ways) {
        CAPTURE(way.how);
        SendMessageA(f.ui->list, LVM_DELETEALLITEMS, 0, 0);
        reload(way);
        CHECK(f.Names() == std::vector<std::string>{"Unread Mail", "From Boss"});
    }
}

TEST_CASE("Ctrl+A selects every row and moves the focus to the list; the Delete key deletes from any control")
{
    Scenario f(kStores);
    ShowWindow(f.ui->window, SW_SHOW);
    SetFocus(f.ui->tree);
    f.ui->Press('A', true);
    CHECK(GetFocus() == f.ui->list);
    CHECK_FALSE(IsWindowEnabled(f.ui->deleteButton));
    f.ui->Select(f.ui->Find("Mail"));
    f.ui->Press(VK_DELETE);  // a profile: the store is not even opened
    f.Scan("Mail", "Mailbox");
    SetFocus(f.ui->tree);
    f.ui->Press(VK_DELETE);  // no row selected: nothing deleted
    CHECK(f.sim.Calls("OpenMsgStore").size() == 2);
    CHECK(f.Names().size() == 2);
    f.ui->Press('A', true);
    CHECK(GetFocus() == f.ui->list);
    for (const ListRow& row : ListRows(f.ui->list)) CHECK(row.selected);
    CHECK(IsWindowEnabled(f.ui->deleteButton));
    SetFocus(f.ui->tree);
    f.ui->Press(VK_DELETE);
    CHECK(f.Names().empty());
    CHECK_FALSE(IsWindowEnabled(f.ui->deleteButton));
    CHECK(FolderNames(f.sim.StoreText()) == std::vector<std::string>{"z1", "Projects", "Old"});
}

namespace {
std::vector<UINT> g_reflected;
WNDPROC g_spyNext = nullptr;

LRESULT CALLBACK ReflectionSpy(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == 0x2000 + WM_NOTIFY) g_reflected.push_back(reinterpret_cast<NMHDR*>(lParam)->code);
    return CallWindowProcA(g_spyNext, hwnd, msg, wParam, lParam);
}

std::vector<UINT> Reflected(HWND control, const std::function<void()>& action)
{
    g_reflected.clear();
    g_spyNext = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ReflectionSpy)));
    action();
    SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_spyNext));
    std::vector<UINT> seen;
    seen.swap(g_reflected);  // no block stays behind in the global
    return seen;
}
}

TEST_CASE("the controls get their own notifications back, reflected, in order; not those the dialog handles")
{
    Scenario f(kStores);
    HTREEITEM mail = f.ui->Find("Mail");
    CHECK(Reflected(f.ui->tree, [&] {
              f.ui->Expand(mail);
              f.ui->Select(f.ui->Find("Mail/Mailbox"));
              f.ui->Collapse(mail);
          }) == std::vector<UINT>{TVN_SELCHANGINGA, TVN_KEYDOWN, TVN_ITEMEXPANDINGA, TVN_ITEMEXPANDEDA, TVN_SELCHANGINGA,
                                  TVN_SELCHANGINGA, TVN_KEYDOWN, TVN_ITEMEXPANDINGA, TVN_ITEMEXPANDEDA, TVN_DELETEITEMA,
                                  TVN_DELETEITEMA});
    f.Scan("Mail", "Mailbox");
    CHECK(Reflected(f.ui->list, [&] {
              f.ui->SelectRows({0});
              SendMessageA(f.ui->list, LVM_DELETEITEM, 0, 0);
          }) == std::vector<UINT>{LVN_ITEMCHANGING, LVN_ITEMCHANGING, LVN_DELETEITEM});
}

namespace {
// Refuses one message to a control, as a control that cannot insert or keep an item does.
UINT g_refused;
WNDPROC g_refusedNext = nullptr;

LRESULT CALLBACK RefusingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == g_refused) {
        if (msg == LVM_INSERTITEMA && !strcmp(reinterpret_cast<LVITEMA*>(lParam)->pszText, "refused")) return -1;
        if (msg == TVM_INSERTITEMA && !strcmp(reinterpret_cast<TVINSERTSTRUCTA*>(lParam)->item.pszText, "refused")) return 0;
        const TVITEMA* item = reinterpret_cast<TVITEMA*>(lParam);
        if (msg == TVM_SETITEMA && item->mask == TVIF_PARAM && item->lParam &&
            !SendMessageA(hwnd, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item->hItem)))
            return FALSE;  // a profile's session
    }
    return CallWindowProcA(g_refusedNext, hwnd, msg, wParam, lParam);
}
}

TEST_CASE("an item the control refuses leaves nothing behind: a row's record, a store's identifier, a session")
{
    for (UINT refused : {UINT(LVM_INSERTITEMA), UINT(TVM_INSERTITEMA), UINT(TVM_SETITEMA)}) {
        CAPTURE(refused);
        Scenario f("profile P default\n  store refused\n  store S default\n    finder F\n"
                   "      folder refused search\n      folder kept search\n");
        HWND control = refused == LVM_INSERTITEMA ? f.ui->list : f.ui->tree;
        g_refused = refused;
        g_refusedNext = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RefusingProc)));
        f.Scan();
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_refusedNext));
    }
}

TEST_CASE("profiles whose names the ANSI code page cannot hold each log on to their own profile")
{
    Scenario f("profile \"\xE6\x97\xA5\xE6\x9C\xAC\" default\n  store Nihon\nprofile \"\xE4\xB8\xAD\xE5\x9B\xBD\"\n  store Zhongguo\n");
    std::vector<TreeItem> profiles = TreeChildren(f.ui->tree);
    REQUIRE_MESSAGE(profiles.at(0).text == profiles.at(1).text, "the ANSI code page of this test holds these names");
    std::vector<std::string> stores;
    for (const TreeItem& profile : profiles) {
        f.ui->Expand(profile.item);
        for (const TreeItem& store : TreeChildren(f.ui->tree, profile.item)) stores.push_back(store.text);
    }
    std::sort(stores.begin(), stores.end());
    CHECK(stores == std::vector<std::string>{"Nihon", "Zhongguo"});
    for (const std::string& logon : f.sim.Calls("MAPILogonEx")) CHECK(Contains(logon, " flags=0x80108022 "));
}

TEST_CASE("the handlers' entry lines carry the source lines that the log format fixes")
{
    TraceSince since;
    Scenario f(kStores);
    f.Scan("Mail", "Mailbox");
    f.ui->Command(IDC_SELECT_ALL);
    f.ui->Command(IDC_RELOAD);
    f.ui->Command(IDC_DELETE);
    for (const char* line : {"maindlg.cpp:29] -->OnInitDialog()", "maindlg.cpp:83] -->OnDelete()", "maindlg.cpp:111] -->OnReload()",
                             "maindlg.cpp:124] -->OnSelectAll()", "maindlg.cpp:148] -->OnTreeSelChanged()",
                             "maindlg.cpp:184] -->OnListItemChanged()"})
        CHECK(Contains(since.Text(), std::string(" C[SV-") + line + "\n"));
}

TEST_CASE("hostile names and identifiers: 10,000 characters, formats, empty, 0 and 256 bytes; all listed and deleted")
{
    std::string id256;
    for (int i = 0; i < 256; ++i) id256 += "0123456789ABCDEF"[i / 16] + std::string(1, "0123456789ABCDEF"[i % 16]);
    const std::string finder(10000, 'F'), name(10000, 'n');
    Scenario f("profile \"%n%s%x\" default\n  store S default\n    finder " + finder + "\n      folder " + name + " search\n"
               "      folder \"%s%n%d%lx\" search id=\n      folder \"\" search id=" + id256 + "\n      folder \"100%\" search\n");
    CHECK(f.Scan("%n%s%x") == S_OK);
    std::vector<ListRow> rows = ListRows(f.ui->list);
    REQUIRE(rows.size() == 4);
    CHECK(rows[0].name == name);
    CHECK(rows[0].path == "/" + finder);
    CHECK(rows[1].name == "%s%n%d%lx");
    CHECK(rows[2].name == "");
    CHECK(f.Delete({0, 1, 2, 3}) == S_OK);
    CHECK(f.StoreNames().empty());
}

TEST_CASE("a profile name of 300 characters is cut to 255 for the logon")
{
    Scenario f("profile " + std::string(300, 'p') + " default\n  store S\n");
    f.ui->Expand(TreeChildren(f.ui->tree).at(0).item);
    CHECK(TreeChildren(f.ui->tree).at(0).children == 0);
    CHECK(Contains(f.sim.Calls("MAPILogonEx").at(0), "profile=\"" + std::string(255, 'p') + "\" "));
}

TEST_CASE("a finder 10,000 levels deep is listed to the bottom on the main thread's stack")
{
    const int depth = 10000;
    std::string store = "profile P default\n  store S default\n    finder F\n";
    store.reserve(static_cast<size_t>(depth) * (depth + 20) + store.size());
    for (int level = 0; level < depth; ++level)
        store += std::string(6 + 2 * level, ' ') + "folder d" + (level + 1 == depth ? " search" : "") + "\n";
    Scenario f(std::move(store), false);
    int level = TraceSetLevel(TRACE_ERROR);  // 20,000 call lines would cost more than the scan
    f.Scan();
    TraceSetLevel(level);
    std::string path = "/F";
    for (int level = 1; level < depth; ++level) path += "/d";
    CHECK(Paths(f) == std::vector<std::string>{path});
}

TEST_CASE("strings are loaded whole, however long; a missing one is empty")
{
    for (UINT id : {9001u, 9002u, 9003u, 9004u}) {
        std::string text = LoadStringWhole(GetModuleHandleA(nullptr), id);
        CHECK(text.size() == (id == 9001 ? 574u : 253u + (id - 9002)));
        CHECK(text.find_first_not_of("abcdefghijklmnopqrstuvwxyz") == std::string::npos);
    }
    CHECK(LoadStringWhole(GetModuleHandleA(nullptr), 9999).empty());
}
