// The main dialog against mapisim, driven as the user drives it: the tree of profiles and stores, the scan
// into the list, deletion, the commands, and stores built to hurt.
#include <doctest/doctest.h>

#include <windows.h>
#include <commctrl.h>
#include <mapix.h>

#include <algorithm>

#include "Scenario.h"
#include "trace.h"
#include "utlis.h"

namespace {

using Texts = std::vector<std::string>;

std::string Store(const std::string& finder, const std::string& body, const std::string& profile = "P", const std::string& storeAttributes = "")
{
    return "profile " + profile + " default\n  store S default" + storeAttributes + "\n    finder " + finder + "\n" + body;
}

const std::string kStores =
    "profile Zulu\n  store \"Z store\" default\n    finder F\n      folder z1 search\n"
    "profile Mail default\n  store Mailbox default\n    finder Finder\n      folder \"Unread Mail\" search\n"
    "      folder Projects\n        folder \"From Boss\" search\n  store Archive\n    finder Finder\n      folder Old search\n"
    "profile Locked fail=Logon:0x80040111\n  store Hidden\nprofile Empty\n"
    "profile Broken\n  store First\n  store Second missing=name\n  store Third\n";

Texts TextsOf(const std::vector<TreeItem>& items)
{
    Texts texts;
    for (const TreeItem& item : items) texts.push_back(item.text);
    return texts;
}

// Refuses one message to a control, as a control that cannot insert or keep an item does.
UINT g_refused;
WNDPROC g_next = nullptr;

LRESULT CALLBACK Refuse(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == g_refused && msg == LVM_INSERTITEMA && !strcmp(reinterpret_cast<LVITEMA*>(lParam)->pszText, "refused")) return -1;
    if (msg == g_refused && msg == TVM_INSERTITEMA && !strcmp(reinterpret_cast<TVINSERTSTRUCTA*>(lParam)->item.pszText, "refused")) return 0;
    const TVITEMA* item = reinterpret_cast<TVITEMA*>(lParam);  // a profile's session
    if (msg == g_refused && msg == TVM_SETITEMA && item->mask == TVIF_PARAM && item->lParam &&
        !SendMessageA(hwnd, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item->hItem)))
        return FALSE;
    return CallWindowProcA(g_next, hwnd, msg, wParam, lParam);
}

} // namespace

TEST_CASE("mapisim's report, which every scenario checks, names what a client leaves behind; without MAPI no profiles")
{
    MapiSim sim("profile P default\n");
    LPMAPISESSION session = nullptr;
    void* block = nullptr;
    MAPILogonEx(0, const_cast<LPSTR>("P"), nullptr, kLogonFlags, &session);
    MAPIAllocateBuffer(100, &block);
    CHECK_FALSE(sim.Finish());
    for (const char* line : {"live_objects=1\n", "live_allocations=1\n", "sessions_open=1\n", "leak allocation size=100"})
        CHECK(Contains(sim.ReportText(), line));
    MAPIInitialize(nullptr);  // to let go of them now
    session->Logoff(0, 0, 0);
    session->Release();
    MAPIFreeBuffer(block);
    MAPIUninitialize();
    TraceSince since;  // without MAPI the dialog still opens, with no profiles
    MainWindow ui;
    CHECK(TreeChildren(ui.tree).empty());
    CHECK(FAILED(ExitResult(since.Text(), "Init")));
}

TEST_CASE("the MAPI calls of a scan and of a deletion, in order")
{
    Scenario f(Store("F", "      folder A search\n      folder G\n        folder B search\n"));
    f.ui->Expand(f.ui->Find("P"));
    size_t mark = f.sim.LogLines().size();
    CHECK(f.Scan() == S_OK);
    CHECK(f.sim.LogFrom(mark) == Texts{
        "OpenMsgStore session=N store=\"P/S\" iid=null flags=0x00000084 -> 0x00000000",
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
        "QueryRows table=\"P/S/F\" rows=20 flags=0x00000000 returned=0 -> 0x00000000",
    });
    // Each folder is opened from the store, and deleted from the parent it names.
    mark = f.sim.LogLines().size();
    CHECK(f.Delete({0, 1}) == S_OK);
    CHECK(f.sim.LogFrom(mark) == Texts{
        "OpenMsgStore session=N store=\"P/S\" iid=null flags=0x00000084 -> 0x00000000",
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
    CHECK(f.StoreNames() == Texts{"G"});
}

TEST_CASE("search folders listed depth first, the finder too when it is one; a failure at the store or finder ends the scan, below it one visit")
{
    std::string many, g = "      folder Top\n        folder G", rest = "\n          folder x search\n        folder y search\n      folder z search\n";
    std::string nested = "      folder A search\n      folder G\n        folder B search\n        folder \"Q1/Q2 reports\"\n"
                         "          folder C search\n      folder \"With class\" class=IPF.Note\n        folder D search\n"
                         "      folder Hidden search class=IPF.Note\n      folder E search\n";
    Texts first20;
    for (int i = 0; i < 25; ++i) {
        many += "      folder s" + std::to_string(i) + " search\n";
        if (i < 20) first20.push_back("s" + std::to_string(i));
    }
    const struct { const char* store; std::string finder, body; HRESULT result; const char* line; Texts names; } cases[] = {
        {"", "F", nested, S_OK, "<--InitSearchList(), ret = 0", {"A", "B", "C", "D", "E"}},  // depth first, class folders looked into
        {"", "\"Root Finder\" search", many, S_OK, "<--InitSearchList(), ret = 0", {"Root Finder"}},  // no hierarchy: its visit ends quietly
        {"", "F search class=IPF.Note", many, S_OK, "<--InitSearchList(), ret = 0", {}},
        {" fail=OpenMsgStore:0x80040115", "F", many, HRESULT(0x80040115), "OpenMsgStore() failed: hr=80040115", {}},
        {" fail=GetProps:0x8004010e", "F", many, HRESULT(0x8004010E), "GetFinder() failed: hr=8004010e", {}},
        {" missing=finder", "F", many, E_FAIL, "pStoreProps invalid, failed: hr=80004005", {}},
        {" fail=OpenEntry:0x8004010f", "F", many, MAPI_E_NOT_FOUND, "OpenEntry() failed: hr=8004010f", {}},
        {"", "F fail=Open:0x80070005", many, E_ACCESSDENIED, "GetFinder() failed: hr=80070005", {}},
        {"", "F fail=GetProps:0x80040115", many, HRESULT(0x80040115), "BuildSearchList() failed: hr=80040115", {}},
        {"", "F missing=foldertype", many, E_FAIL, "cFinderProps not ok: hr=80004005", {}},
        {"", "F search missing=entryid", many, E_FAIL, "cFinderProps not ok: hr=80004005", {}},
        {"", "F fail=GetHierarchyTable:0x8007000e", many, E_OUTOFMEMORY, "GetHierarchyTable() failed: hr=8007000e", {}},
        {"", "F fail=SetColumns:0x80040102", many, MAPI_E_NO_SUPPORT, "SetColumns() failed: hr=80040102", {}},
        {"", "F fail=QueryRows:0x80040115@2", many, HRESULT(0x80040115), "QueryRows() failed: hr=80040115", first20},
        {"", "F", g + " fail=Open:0x8004010f" + rest, S_OK, "OpenEntry() failed: hr=8004010f", {"z"}},
        // A provider's success without the object it hands out fails all the same.
        {" fail=OpenMsgStore:0x0", "F", many, E_FAIL, "OpenMsgStore() failed: hr=80004005", {}},
        {"", "F fail=GetHierarchyTable:0x0", many, E_FAIL, "GetHierarchyTable() failed: hr=80004005", {}},
        {"", "F fail=QueryRows:0x0", many, E_FAIL, "QueryRows() failed: hr=80004005", {}},
        {"", "F", g + " fail=Open:0x0" + rest, S_OK, "OpenEntry() failed: hr=80004005", {"z"}},
        {"", "F", g + " fail=GetProps:0x80040115" + rest, S_OK, "GetProps() failed: hr=80040115", {"y", "z"}},
        {"", "F", g + " missing=foldertype" + rest, S_OK, "cFinderProps not ok: hr=80004005", {"y", "z"}},
        {"", "F", g + "\n          folder w search\n          folder v search missing=entryid" + rest, S_OK,
         "pRow->lpProps[0].ulPropTag not ok: hr=80004005", {"w", "y", "z"}},
    };
    int n = 0;
    for (const auto& c : cases) {
        CAPTURE(c.line);
        // mapisim counts @N per object for the whole process: each case has a profile of its own.
        std::string profile = "Scan" + std::to_string(++n);
        Scenario f(Store(c.finder, c.body, profile, c.store));
        CHECK(f.Scan(profile) == c.result);
        CHECK(Contains(f.trace, c.line + std::string("\n")));
        CHECK(f.Names() == c.names);
    }
}

TEST_CASE("allocation failures: a record that cannot be copied, a sub-folder path that cannot be built")
{
    {
        // A 37-byte identifier gives this record's allocation a size of its own; it is listed
        // without a record, and a deletion stops there.
        Scenario f(Store("F", "      folder first search\n      folder odd search id=" + std::string(74, 'A') + "\n      folder last search\n"));
        FailAllocationsOfSize(sizeof(SBinary) + 37, 1);
        CHECK(f.Scan() == S_OK);
        CHECK(Contains(f.trace, "] malloc() failed: hr=8007000e\n"));
        CHECK(ListRows(f.ui->list).at(1).data == 0);
        CHECK(f.Delete({0, 1, 2}) == E_FAIL);
        CHECK(Contains(f.trace, "] GetItemData() failed: hr=80004005\n"));
        CHECK(f.Names() == Texts{"odd", "last"});
        CHECK(f.StoreNames() == Texts{"odd", "last"});
    }
    const std::string finder = "Finder-31-characters-long-name!";
    Scenario f(Store(finder, "      folder x search\n"));
    FailAllocationsOfSize(finder.size() + 2, 1);  // "/" + the name + the terminator
    CHECK(f.Scan() == E_OUTOFMEMORY);
    CHECK(f.Names().empty());
}

TEST_CASE("deletion goes top row first and stops at the first failure, which keeps its row and the rest selected")
{
    const std::string xy = "      folder x search\n      folder y search\n";
    // |left|: in the list and in the store.
    const struct { const char* store; const char* finder; std::string body; std::vector<int> rows; HRESULT result; const char* line; Texts left; } cases[] = {
        {"", "F", "      folder keep search\n      folder one search\n      folder two search fail=DeleteFolder:0x80070005\n"
                  "      folder three search\n", {1, 2, 3}, E_ACCESSDENIED, "DeleteFolder() failed: hr=80070005", {"keep", "two", "three"}},
        {"", "F", "      folder x search fail=GetProps:0x80040115@2\n      folder y search\n", {0, 1}, HRESULT(0x80040115),
         "GetParentFolder() failed: hr=80040115", {"x", "y"}},
        {"", "F", "      folder x search missing=parent\n      folder y search\n", {0, 1}, E_FAIL, "pPropArray invalid, failed: hr=80004005", {"x", "y"}},
        {"", "F fail=Open:0x8004010f@2", xy, {0, 1}, MAPI_E_NOT_FOUND, "GetParentFolder() failed: hr=8004010f", {"x", "y"}},
        // As when another client deleted the folder after the scan.
        {"", "F", "      folder x search fail=Open:0x8004010f@2\n      folder y search\n", {0, 1}, MAPI_E_NOT_FOUND,
         "OpenEntry() failed: hr=8004010f", {"x", "y"}},
        {" fail=OpenMsgStore:0x80040115@2", "F", xy, {0, 1}, HRESULT(0x80040115), "OpenMsgStore() failed: hr=80040115", {"x", "y"}},
        {"", "F", xy, {}, S_OK, "<--DeleteSelection(), ret = 0", {"x", "y"}},
    };
    int n = 0;
    for (const auto& c : cases) {
        CAPTURE(c.line);
        std::string profile = "Delete" + std::to_string(++n);
        Scenario f(Store(c.finder, c.body, profile, c.store));
        REQUIRE(f.Scan(profile) == S_OK);
        CHECK(f.Delete(c.rows) == c.result);
        CHECK(Contains(f.trace, c.line));
        CHECK(f.Names() == c.left);
        CHECK(f.StoreNames() == c.left);
        for (const ListRow& row : ListRows(f.ui->list)) CHECK(row.selected == (!c.rows.empty() && row.name != "keep"));
        CHECK(IsWindowEnabled(f.ui->deleteButton) == !c.rows.empty());
        if (c.rows.empty()) CHECK(f.sim.StoreText() == f.text);  // not even written again
    }
}

TEST_CASE("profiles sorted, the default one marked, none logged on; the list follows the selection, Delete the selected rows")
{
    Scenario f(kStores);
    std::vector<TreeItem> profiles = TreeChildren(f.ui->tree);
    CHECK(TextsOf(profiles) == Texts{"Broken", "Empty", "Locked", "Mail", "Zulu"});
    for (const TreeItem& profile : profiles) {
        CHECK(profile.image == (profile.text == "Mail" ? 1 : 0));
        CHECK(profile.children == 1);
    }
    char header[2][16] = {};
    for (int column = 0; column < 2; ++column) {
        LVCOLUMNA query = {LVCF_TEXT, 0, 0, header[column], sizeof(header[column])};
        SendMessageA(f.ui->list, LVM_GETCOLUMNA, column, reinterpret_cast<LPARAM>(&query));
    }
    CHECK(Texts{header[0], header[1]} == Texts{"Folder", "Path"});
    CHECK(f.sim.Calls("MAPILogonEx").empty());
    f.ui->Command(IDC_RELOAD);  // nothing selected: nothing to do
    CHECK(f.Scan("Mail", "Mailbox") == S_OK);
    CHECK(f.Names() == Texts{"Unread Mail", "From Boss"});
    CHECK_FALSE(IsWindowEnabled(f.ui->deleteButton));
    f.ui->SelectRows({1});
    CHECK(IsWindowEnabled(f.ui->deleteButton));
    f.ui->Select(f.ui->Find("Mail"));
    CHECK(f.Names().empty());
    CHECK_FALSE(IsWindowEnabled(f.ui->deleteButton));
    f.ui->Command(IDC_RELOAD);  // a profile: neither scanned nor its store opened
    f.ui->Command(IDC_DELETE);
    CHECK(f.sim.Calls("OpenMsgStore").size() == 1);
    CHECK(f.Scan("Mail", "Archive") == S_OK);
    SendMessageA(f.ui->list, LVM_DELETEALLITEMS, 0, 0);
    f.ui->Command(IDC_RELOAD);  // the store is scanned again
    CHECK(f.Names() == Texts{"Old"});
}

TEST_CASE("expanding logs on, in a session of its own each time; collapsing logs off and removes the stores")
{
    Scenario f(kStores);
    HTREEITEM mail = f.ui->Find("Mail");
    for (int round = 0; round < 2; ++round) {
        f.ui->Expand(mail);
        std::vector<TreeItem> stores = TreeChildren(f.ui->tree, mail);
        CHECK(TextsOf(stores) == Texts{"Archive", "Mailbox"});
        CHECK(stores.at(0).image == 2);  // the default store is marked
        CHECK(stores.at(1).image == 3);
        CHECK(Contains(f.sim.Calls("MAPILogonEx").back(), "MAPILogonEx profile=\"Mail\" ui=0x00000000 password=null flags=0x00108022 "));
        CHECK(f.sim.Calls("OpenMsgStore").empty());  // listing the stores opens none of them
        f.ui->Collapse(mail);
        CHECK(TreeChildren(f.ui->tree, mail).empty());
        CHECK(TreeChildren(f.ui->tree).at(3).children == 1);
    }
    Texts logons = f.sim.Calls("MAPILogonEx");
    CHECK(logons.at(0).substr(logons[0].find("session=")) != logons.at(1).substr(logons[1].find("session=")));
    CHECK(f.sim.Calls("Logoff").size() == 2);
}

TEST_CASE("a failed logon, a profile without stores, and a store row without a name")
{
    {
        Scenario f("profile Null default fail=Logon:0x0\n  store S\n");  // a logon's success without a session
        f.ui->Expand(f.ui->Find("Null"));
        CHECK(TreeChildren(f.ui->tree).at(0).children == 0);
    }
    Scenario f(kStores);
    for (const char* name : {"Locked", "Empty", "Broken"}) f.ui->Expand(f.ui->Find(name));
    std::vector<TreeItem> profiles = TreeChildren(f.ui->tree);
    CHECK((profiles[2].children == 0 && profiles[2].data == 0));  // Locked: no session, nothing to show
    CHECK((profiles[1].children == 0 && profiles[1].data != 0));  // Empty keeps its session to the end
    // Broken: the listing stops at the bad row; without a whole listing no session is kept, so no scan.
    CHECK(TextsOf(TreeChildren(f.ui->tree, profiles[0].item)) == Texts{"First"});
    CHECK(profiles[0].data == 0);
    CHECK(f.sim.Calls("Logoff").size() == 1);
    f.ui->Select(f.ui->Find("Broken/First"));
    CHECK(f.sim.Calls("OpenMsgStore").empty());
}

TEST_CASE("an item the control refuses leaves nothing behind: a row's record, a store's identifier, a session")
{
    for (UINT refused : {UINT(LVM_INSERTITEMA), UINT(TVM_INSERTITEMA), UINT(TVM_SETITEMA)}) {
        CAPTURE(refused);
        Scenario f("profile P default\n  store refused\n  store S default\n    finder F\n      folder refused search\n      folder kept search\n");
        HWND control = refused == LVM_INSERTITEMA ? f.ui->list : f.ui->tree;
        g_refused = refused;
        g_next = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Refuse)));
        f.Scan();
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_next));
    }
}

TEST_CASE("profiles whose names the ANSI code page cannot hold each log on to their own profile")
{
    Scenario f("profile \"\xE6\x97\xA5\xE6\x9C\xAC\" default\n  store Nihon\nprofile \"\xE4\xB8\xAD\xE5\x9B\xBD\"\n  store Zhongguo\n");
    std::vector<TreeItem> profiles = TreeChildren(f.ui->tree);
    REQUIRE_MESSAGE(profiles.at(0).text == profiles.at(1).text, "the ANSI code page of this test holds these names");
    Texts stores;
    for (const TreeItem& profile : profiles) {
        f.ui->Expand(profile.item);
        for (const std::string& store : TextsOf(TreeChildren(f.ui->tree, profile.item))) stores.push_back(store);
    }
    std::sort(stores.begin(), stores.end());
    CHECK(stores == Texts{"Nihon", "Zhongguo"});
    for (const std::string& logon : f.sim.Calls("MAPILogonEx")) CHECK(Contains(logon, " flags=0x80108022 "));
}

TEST_CASE("the handlers' entry lines carry the source lines that the log format fixes")
{
    TraceSince since;
    Scenario f(kStores);
    f.Scan("Mail", "Mailbox");
    for (WORD command : {IDC_SELECT_ALL, IDC_RELOAD, IDC_DELETE}) f.ui->Command(command);
    for (const char* line : {"29] -->OnInitDialog()", "83] -->OnDelete()", "111] -->OnReload()", "124] -->OnSelectAll()",
                             "148] -->OnTreeSelChanged()", "184] -->OnListItemChanged()"})
        CHECK(Contains(since.Text(), std::string(" C[SV-maindlg.cpp:") + line + "\n"));
}

TEST_CASE("hostile stores: names of formats, none and 10,000 characters, 0 and 256-byte identifiers, a profile name of 300")
{
    std::string name(10000, 'n'), id256;
    for (int i = 0; i < 256; ++i) id256 += std::string(1, "0123456789ABCDEF"[i / 16]) + "0123456789ABCDEF"[i % 16];
    Scenario f("profile \"%n%s%x\" default\n  store S default\n    finder " + name + "\n      folder \"%s%n%d%lx\" search id=\n"
               "      folder \"\" search id=" + id256 + "\n      folder \"100%\" search\n      folder " + name + " search\n"
               "profile " + std::string(300, 'p') + "\n  store T\n");
    CHECK(f.Scan("%n%s%x") == S_OK);
    CHECK(f.Names() == Texts{"%s%n%d%lx", "", "100%", name});
    CHECK(ListRows(f.ui->list).at(0).path == "/" + name);
    CHECK(f.Delete({0, 1, 2, 3}) == S_OK);
    CHECK(f.StoreNames().empty());
    f.ui->Expand(TreeChildren(f.ui->tree).at(1).item);  // the logon goes by the name cut to 255 characters
    CHECK(Contains(f.sim.Calls("MAPILogonEx").back(), "profile=\"" + std::string(255, 'p') + "\" "));
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
