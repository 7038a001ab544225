// The main dialog with its tree and list, in-process from template 129,
// against mapisim: start state, expansion and logon, selection and scan,
// commands from buttons and keys, reflection, and closing.
#include <doctest/doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <memory>

#include "HeapTracking.h"
#include "MapiSim.h"
#include "TestFiles.h"
#include "TraceCapture.h"
#include "UiHelpers.h"
#include "resource.h"
#include "utlis.h"

namespace {

const std::string kStores =
    "profile \"Zulu\"\n"
    "  store \"Z store\" default\n"
    "    finder F\n"
    "      folder z1 search\n"
    "profile \"Mail\" default\n"
    "  store \"Mailbox\" default\n"
    "    finder Finder\n"
    "      folder \"Unread Mail\" search\n"
    "      folder \"Large Mail\" search class=IPF.Note\n"
    "      folder Projects\n"
    "        folder \"From Boss\" search\n"
    "  store \"Archive\"\n"
    "    finder Finder\n"
    "      folder Old search\n"
    "profile \"Locked\" fail=Logon:0x80040111\n"
    "  store \"Hidden\"\n"
    "profile \"Empty\"\n"
    "profile \"Broken\"\n"
    "  store \"First\"\n"
    "  store \"Second\" missing=name\n"
    "  store \"Third\"\n";

struct DialogFixture {
    explicit DialogFixture(const std::string& stores = kStores) : sim(stores)
    {
        TraceFilePath();
        heapBefore = GetHeapCounts();
        ui = std::make_unique<MainDialogFixture>();
        ShowWindow(ui->window, SW_SHOW);
        PumpMessages(&ui->dialog);
        tree = ui->tree;
        list = ui->list;
        deleteButton = GetDlgItem(ui->window, IDC_DELETE);
    }
    ~DialogFixture() { Close(); }

    HTREEITEM Profile(const std::string& name) { return FindTreeItem(tree, TVI_ROOT, name); }
    HTREEITEM Store(const std::string& profile, const std::string& name) { return FindTreeItem(tree, Profile(profile), name); }
    // As the user does it, with the keypad's + and - on the item (TVM_EXPAND would not notify).
    void Expand(HTREEITEM item) { Toggle(item, VK_ADD); }
    void Collapse(HTREEITEM item) { Toggle(item, VK_SUBTRACT); }
    void Toggle(HTREEITEM item, WPARAM key)
    {
        Select(item);
        SendMessageA(tree, WM_KEYDOWN, key, 0);
    }
    void Select(HTREEITEM item) { SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)); }
    LPARAM Data(HTREEITEM item) { return TreeItemData(tree, item); }
    std::vector<std::string> Rows()
    {
        std::vector<std::string> names;
        for (const ListRow& row : ListRows(list)) names.push_back(row.name);
        return names;
    }
    void SelectRow(int row)
    {
        LVITEMA item = {};
        item.stateMask = LVIS_SELECTED;
        item.state = LVIS_SELECTED;
        SendMessageA(list, LVM_SETITEMSTATE, row, reinterpret_cast<LPARAM>(&item));
    }
    // A key press as the loop sees it: through the dialog's filter, then dispatched.
    void Press(WORD key, bool control = false)
    {
        BYTE state[256];
        GetKeyboardState(state);
        state[VK_CONTROL] = control ? 0x80 : 0;
        SetKeyboardState(state);
        HWND focus = GetFocus();
        PostMessageA(focus ? focus : ui->window, WM_KEYDOWN, key, 0);
        PumpMessages(&ui->dialog);
        state[VK_CONTROL] = 0;
        SetKeyboardState(state);
    }
    void Command(WORD id, WORD code = BN_CLICKED)
    {
        SendMessageA(ui->window, WM_COMMAND, MAKEWPARAM(id, code), 0);
    }
    // Closes the dialog as OK/Cancel do, and returns the posted exit code.
    int CloseWith(WORD id)
    {
        Command(id);
        MSG msg;
        int code = -1;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            if (msg.message == WM_QUIT) code = static_cast<int>(msg.wParam);
        return code;
    }
    void Close()
    {
        if (closed) return;
        closed = true;
        ui.reset();  // the dialog with its items, and the message loop
        heapAtClose = GetHeapCounts();
        sim.Finish();
    }
    bool HeapBalanced() const
    {
        return GetHeapCounts().badFrees == heapBefore.badFrees;
    }

    MapiSim sim;
    HeapCounts heapBefore, heapAtClose;
    std::unique_ptr<MainDialogFixture> ui;
    HWND tree = nullptr, list = nullptr, deleteButton = nullptr;
    bool closed = false;
};

// Refuses chosen messages to a control, as a control that cannot insert or keep an item would.
struct Refusal {
    UINT msg;
    const char* text;  // the refused item's text, or null for any
    bool rootDataOnly;  // TVM_SETITEMA of a root item's data
};
Refusal g_refusal;
WNDPROC g_refusedNext = nullptr;

LRESULT CALLBACK RefusingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == g_refusal.msg) {
        if (msg == LVM_INSERTITEMA && !strcmp(reinterpret_cast<LVITEMA*>(lParam)->pszText, g_refusal.text)) return -1;
        if (msg == TVM_INSERTITEMA && !strcmp(reinterpret_cast<TVINSERTSTRUCTA*>(lParam)->item.pszText, g_refusal.text)) return 0;
        if (msg == TVM_SETITEMA) {
            const TVITEMA* item = reinterpret_cast<TVITEMA*>(lParam);
            bool root = !SendMessageA(hwnd, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item->hItem));
            if (item->mask == TVIF_PARAM && item->lParam && root) return FALSE;
        }
    }
    return CallWindowProcA(g_refusedNext, hwnd, msg, wParam, lParam);
}

std::vector<UINT> g_reflected;
WNDPROC g_spyNext = nullptr;

LRESULT CALLBACK ReflectionSpy(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == 0x2000 + WM_NOTIFY) g_reflected.push_back(reinterpret_cast<NMHDR*>(lParam)->code);
    return CallWindowProcA(g_spyNext, hwnd, msg, wParam, lParam);
}

} // namespace

TEST_CASE("start state: profiles sorted with their images, list empty, Delete disabled, no logon")
{
    DialogFixture f;
    std::vector<std::string> names;
    for (HTREEITEM item : TreeChildren(f.tree, TVI_ROOT)) names.push_back(TreeItemText(f.tree, item));
    CHECK(names == std::vector<std::string>{"Broken", "Empty", "Locked", "Mail", "Zulu"});
    CHECK(TreeItemImage(f.tree, f.Profile("Mail")) == 1);
    CHECK(TreeItemImage(f.tree, f.Profile("Zulu")) == 0);
    CHECK(TreeItemChildren(f.tree, f.Profile("Zulu")) == 1);
    CHECK(TreeChildren(f.tree, f.Profile("Mail")).empty());
    CHECK(f.Rows().empty());
    CHECK(ColumnCount(f.list) == 2);
    CHECK_FALSE(IsWindowEnabled(f.deleteButton));
    CHECK(GetFocus() == f.tree);
    CHECK(f.sim.Calls("MAPILogonEx").empty());
    f.Close();
    CHECK(f.sim.Clean());
}

TEST_CASE("expanding logs on with a new session each time; collapsing logs off and removes the stores")
{
    DialogFixture f;
    HTREEITEM mail = f.Profile("Mail");
    f.Expand(mail);
    auto stores = TreeChildren(f.tree, mail);
    REQUIRE(stores.size() == 2);
    CHECK(TreeItemText(f.tree, stores[0]) == "Archive");  // sorted
    CHECK(TreeItemImage(f.tree, stores[0]) == 2);
    CHECK(TreeItemImage(f.tree, stores[1]) == 3);
    CHECK(f.Data(mail) != 0);
    CHECK(f.Data(stores[0]) != 0);
    auto logons = f.sim.Calls("MAPILogonEx");
    REQUIRE(logons.size() == 1);
    CHECK(logons[0] == "MAPILogonEx profile=\"Mail\" ui=0x00000000 password=null flags=0x00108022 session=1 -> 0x00000000");
    CHECK(f.sim.Calls("OpenMsgStore").empty());  // listing stores opens none of them

    f.Collapse(mail);
    CHECK(TreeChildren(f.tree, mail).empty());
    CHECK(f.Data(mail) == 0);
    CHECK(TreeItemChildren(f.tree, mail) == 1);
    CHECK(f.sim.Calls("Logoff").size() == 1);

    f.Expand(mail);
    CHECK(TreeChildren(f.tree, mail).size() == 2);
    logons = f.sim.Calls("MAPILogonEx");
    REQUIRE(logons.size() == 2);
    CHECK(Contains(logons[1], "session=2 -> 0x00000000"));
    f.Close();
    CHECK(f.sim.Clean());
    CHECK(f.sim.Report().at("logoffs") == "2");
    CHECK(f.HeapBalanced());
}

TEST_CASE("a profile whose logon fails, one with no stores, and a store row missing a column")
{
    DialogFixture f;
    HTREEITEM locked = f.Profile("Locked");
    f.Expand(locked);
    CHECK(TreeChildren(f.tree, locked).empty());
    CHECK(TreeItemChildren(f.tree, locked) == 0);
    CHECK(f.Data(locked) == 0);

    HTREEITEM empty = f.Profile("Empty");
    f.Expand(empty);
    CHECK(TreeChildren(f.tree, empty).empty());
    CHECK(TreeItemChildren(f.tree, empty) == 0);
    CHECK(f.Data(empty) != 0);  // keeps its session until the end
    CHECK(f.sim.Calls("Logoff").empty());

    HTREEITEM broken = f.Profile("Broken");
    TraceCapture trace;
    f.Expand(broken);
    auto stores = TreeChildren(f.tree, broken);
    REQUIRE(stores.size() == 1);
    CHECK(TreeItemText(f.tree, stores[0]) == "First");
    CHECK(f.Data(broken) == 0);  // listing incomplete: no session kept
    CHECK(f.sim.Calls("Logoff").size() == 1);
    CHECK(Contains(trace.Text(), "<--InitStores(), ret = 0\n"));

    // Selecting a store of a profile without a session scans nothing.
    f.Select(stores[0]);
    CHECK(f.Rows().empty());
    CHECK(f.sim.Calls("OpenMsgStore").empty());

    f.Close();
    CHECK(f.sim.Clean());
    CHECK(f.sim.Report().at("logons") == "2");
}

TEST_CASE("selection: a store lists its search folders, a profile empties the list, Delete follows the rows")
{
    DialogFixture f;
    HTREEITEM mail = f.Profile("Mail");
    f.Expand(mail);
    TraceCapture trace;
    f.Select(f.Store("Mail", "Mailbox"));
    CHECK(f.Rows() == std::vector<std::string>{"Unread Mail", "From Boss"});
    CHECK_FALSE(IsWindowEnabled(f.deleteButton));
    CHECK(Contains(trace.Text(), "[SV-maindlg.cpp:"));
    CHECK(Contains(trace.Text(), "] -->OnTreeSelChanged()\n"));
    CHECK(Contains(trace.Text(), "<--OnTreeSelChanged()\n"));
    f.SelectRow(1);
    CHECK(IsWindowEnabled(f.deleteButton));
    f.Select(mail);
    CHECK(f.Rows().empty());
    CHECK_FALSE(IsWindowEnabled(f.deleteButton));
    f.Select(f.Store("Mail", "Archive"));
    CHECK(f.Rows() == std::vector<std::string>{"Old"});
    f.Close();
    CHECK(f.sim.Clean());
    CHECK(f.HeapBalanced());
}

TEST_CASE("Reload, Ctrl+R and F5 in each tree state")
{
    DialogFixture f;
    auto reloadEach = [&](const char* state) {
        CAPTURE(state);
        TraceCapture trace;
        f.Command(IDC_RELOAD);
        f.Press('R', true);
        f.Press(VK_F5);
        CHECK(CountOf(trace.Text(), "] -->OnReload()\n") == 3);
        return trace.Text();
    };
    SendMessageA(f.tree, TVM_SELECTITEM, TVGN_CARET, 0);
    std::string nothing = reloadEach("nothing selected");
    CHECK_FALSE(Contains(nothing, "OnTreeSelChanged"));

    f.Select(f.Profile("Mail"));
    std::string profile = reloadEach("profile selected");
    CHECK(Contains(profile, "OnTreeSelChanged"));
    CHECK(f.Rows().empty());

    f.Expand(f.Profile("Mail"));
    f.Select(f.Store("Mail", "Mailbox"));
    CHECK(f.Rows().size() == 2);
    // The store changes behind Korvane's back: Reload shows the new state.
    CHECK(f.sim.DeleteElsewhere("Mail", "Mailbox", *reinterpret_cast<SBinary*>(ListRows(f.list)[0].data)) == S_OK);
    CHECK(f.Rows().size() == 2);  // the list is not rescanned by itself
    reloadEach("store selected");
    CHECK(f.Rows() == std::vector<std::string>{"From Boss"});
    f.Close();
    CHECK(f.sim.Clean());
}

TEST_CASE("Ctrl+A selects every row and moves the focus to the list; the Delete key deletes")
{
    DialogFixture f;
    SetFocus(f.tree);
    f.Press('A', true);
    CHECK(GetFocus() == f.list);
    CHECK_FALSE(IsWindowEnabled(f.deleteButton));

    f.Expand(f.Profile("Mail"));
    f.Select(f.Store("Mail", "Mailbox"));
    SetFocus(f.tree);
    f.Press('A', true);
    CHECK(GetFocus() == f.list);
    auto rows = ListRows(f.list);
    REQUIRE(rows.size() == 2);
    CHECK(rows[0].selected);
    CHECK(rows[1].selected);
    CHECK(IsWindowEnabled(f.deleteButton));

    SetFocus(f.tree);  // the Delete key works whichever control has the focus
    f.Press(VK_DELETE);
    CHECK(f.Rows().empty());
    CHECK_FALSE(IsWindowEnabled(f.deleteButton));
    CHECK(FolderNames(f.sim.StoreText()) == std::vector<std::string>{"z1", "Large Mail", "Projects", "Old"});
    CHECK(f.sim.Calls("DeleteFolder").size() == 2);
    f.Close();
    CHECK(f.sim.Clean());
    CHECK(f.HeapBalanced());
}

TEST_CASE("the Delete key with the button disabled, with no row selected, with a profile selected")
{
    DialogFixture f;
    f.Expand(f.Profile("Mail"));
    f.Select(f.Store("Mail", "Mailbox"));
    CHECK_FALSE(IsWindowEnabled(f.deleteButton));
    TraceCapture trace;
    f.Press(VK_DELETE);  // no row selected: the store is opened, nothing deleted
    CHECK(Contains(trace.Text(), "] -->OnDelete()\n"));
    CHECK(Contains(trace.Text(), "<--DeleteSelection(), ret = 0\n"));
    CHECK(f.sim.Calls("DeleteFolder").empty());
    CHECK(f.Rows().size() == 2);

    f.Select(f.Profile("Mail"));
    TraceCapture second;
    f.Press(VK_DELETE);  // a profile: no deletion is attempted at all
    CHECK(Contains(second.Text(), "<--OnDelete()\n"));
    CHECK_FALSE(Contains(second.Text(), "DeleteSelection"));
    f.Close();
    CHECK(f.sim.Clean());
    CHECK(FolderNames(f.sim.StoreText()) == FolderNames(kStores));
}

TEST_CASE("a deletion that stops at a failure leaves the rest listed, selected, and Delete enabled")
{
    DialogFixture f("profile P default\n  store S default\n    finder F\n"
                    "      folder one search\n      folder two search fail=DeleteFolder:0x80070005\n      folder three search\n");
    f.Expand(f.Profile("P"));
    f.Select(f.Store("P", "S"));
    f.Press('A', true);
    f.Command(IDC_DELETE);
    auto rows = ListRows(f.list);
    REQUIRE(rows.size() == 2);
    CHECK(rows[0].name == "two");
    CHECK(rows[0].selected);
    CHECK(rows[1].selected);
    CHECK(IsWindowEnabled(f.deleteButton));
    CHECK(FolderNames(f.sim.StoreText()) == std::vector<std::string>{"two", "three"});
    f.Close();
    CHECK(f.sim.Clean());
}

TEST_CASE("reflection: the controls' own notifications come back with 0x2000 added; the dialog's own do not")
{
    DialogFixture f;
    g_reflected.clear();
    g_spyNext = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(f.tree, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ReflectionSpy)));
    f.Expand(f.Profile("Mail"));
    f.Select(f.Store("Mail", "Mailbox"));
    f.Collapse(f.Profile("Mail"));
    SetWindowLongPtrA(f.tree, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_spyNext));
    auto seen = [&](UINT code) { return std::count(g_reflected.begin(), g_reflected.end(), code); };
    CHECK(seen(TVN_ITEMEXPANDINGA) == 2);
    CHECK(seen(TVN_ITEMEXPANDEDA) == 2);
    CHECK(seen(TVN_DELETEITEMA) == 2);
    CHECK(seen(TVN_SELCHANGEDA) == 0);

    g_reflected.clear();
    f.Expand(f.Profile("Mail"));
    f.Select(f.Store("Mail", "Mailbox"));
    g_spyNext = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(f.list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ReflectionSpy)));
    f.SelectRow(0);
    SendMessageA(f.list, LVM_DELETEITEM, 0, 0);
    SetWindowLongPtrA(f.list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_spyNext));
    CHECK(seen(LVN_DELETEITEM) == 1);
    CHECK(seen(LVN_ITEMCHANGED) == 0);
    f.Close();
    CHECK(f.sim.Clean());
}

TEST_CASE("commands are matched on the control id alone")
{
    DialogFixture f;
    TraceCapture trace;
    f.Command(IDC_RELOAD, 1);      // as an accelerator sends it
    f.Command(IDC_SELECT_ALL, 1);
    f.Command(IDC_DELETE, 0x1234);
    CHECK(Contains(trace.Text(), "] -->OnReload()\n"));
    CHECK(Contains(trace.Text(), "] -->OnSelectAll()\n"));
    CHECK(Contains(trace.Text(), "] -->OnDelete()\n"));
    f.Close();
}

TEST_CASE("closing: OK gives 1, Cancel, Escape and the close box 2; every session and record goes")
{
    const struct {
        const char* how;
        int code;
    } cases[] = {{"OK", 1}, {"Cancel", 2}, {"Escape", 2}, {"close box", 2}};
    for (const auto& c : cases) {
        CAPTURE(c.how);
        DialogFixture f;
        f.Expand(f.Profile("Mail"));
        f.Expand(f.Profile("Zulu"));
        f.Expand(f.Profile("Empty"));
        f.Select(f.Store("Mail", "Mailbox"));
        std::string how = c.how;
        int code = -1;
        MSG msg;
        if (how == "OK") code = f.CloseWith(IDOK);
        else if (how == "Cancel") code = f.CloseWith(IDCANCEL);
        else {
            if (how == "Escape") {
                SetFocus(f.tree);
                PostMessageA(f.tree, WM_KEYDOWN, VK_ESCAPE, 0);
            } else {
                PostMessageA(f.ui->window, WM_SYSCOMMAND, SC_CLOSE, 0);
            }
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (msg.message == WM_QUIT) {
                    code = static_cast<int>(msg.wParam);
                    break;
                }
                if (!f.ui->dialog.FilterMessage(&msg)) {
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
            }
        }
        CHECK(code == c.code);
        CHECK_FALSE(IsWindow(f.ui->window));
        f.Close();
        CHECK(f.sim.Clean());
        CHECK(f.sim.Report().at("logoffs") == "3");
        CHECK(f.HeapBalanced());
    }
}

TEST_CASE("an item the control refuses leaves nothing behind: a row, a store, a profile's session")
{
    // The same scenario with and without the refusal: the heap must end the same.
    auto run = [](HWND DialogFixture::*control, Refusal refusal) {
        DialogFixture f("profile P default\n  store refused\n  store S default\n    finder F\n"
                        "      folder refused search\n      folder kept search\n");
        g_refusal = refusal;
        HWND window = f.*control;
        g_refusedNext = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RefusingProc)));
        f.Expand(f.Profile("P"));
        if (HTREEITEM store = f.Store("P", "S")) f.Select(store);
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_refusedNext));
        f.Close();
        CHECK(f.sim.Clean());
        return f.heapAtClose.live - f.heapBefore.live;
    };
    run(&DialogFixture::list, {0, nullptr, false});  // first use of lasting structures (the window binding table)
    long baseline = run(&DialogFixture::list, {0, nullptr, false});
    long row = run(&DialogFixture::list, {LVM_INSERTITEMA, "refused", false});
    long store = run(&DialogFixture::tree, {TVM_INSERTITEMA, "refused", false});
    long session = run(&DialogFixture::tree, {TVM_SETITEMA, nullptr, true});
    CHECK(row == baseline);
    CHECK(store == baseline);
    CHECK(session == baseline);
}

TEST_CASE("profiles whose names the ANSI code page cannot hold each log on to their own profile")
{
    DialogFixture f("profile \"\xE6\x97\xA5\xE6\x9C\xAC\" default\n  store Nihon\n"
                    "profile \"\xE4\xB8\xAD\xE5\x9B\xBD\"\n  store Zhongguo\n");
    auto profiles = TreeChildren(f.tree, TVI_ROOT);
    REQUIRE(profiles.size() == 2);
    REQUIRE_MESSAGE(TreeItemText(f.tree, profiles[0]) == TreeItemText(f.tree, profiles[1]),
                    "the ANSI code page of this test holds these names");
    std::vector<std::string> stores;
    for (HTREEITEM profile : profiles) {
        f.Expand(profile);
        for (HTREEITEM store : TreeChildren(f.tree, profile)) stores.push_back(TreeItemText(f.tree, store));
    }
    std::sort(stores.begin(), stores.end());
    CHECK(stores == std::vector<std::string>{"Nihon", "Zhongguo"});
    for (const std::string& logon : f.sim.Calls("MAPILogonEx")) CHECK(Contains(logon, " flags=0x80108022 "));
    f.Close();
    CHECK(f.sim.Clean());
}

TEST_CASE("the handlers' entry lines carry the source lines that the log format fixes")
{
    TraceCapture trace;
    DialogFixture f;
    f.Expand(f.Profile("Mail"));
    f.Select(f.Store("Mail", "Mailbox"));
    f.SelectRow(0);
    f.Command(IDC_SELECT_ALL);
    f.Command(IDC_RELOAD);
    f.Command(IDC_DELETE);
    const struct {
        const char* handler;
        int line;
    } cases[] = {{"OnInitDialog", 29}, {"OnDelete", 83}, {"OnReload", 111}, {"OnSelectAll", 124},
                 {"OnTreeSelChanged", 148}, {"OnListItemChanged", 184}};
    for (const auto& c : cases) {
        CAPTURE(c.handler);
        CHECK(Contains(trace.Text(), " C[SV-maindlg.cpp:" + std::to_string(c.line) + "] -->" + c.handler + "()\n"));
    }
    f.Close();
    CHECK(f.sim.Clean());
}
