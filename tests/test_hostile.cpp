// Hostile stores: very long, empty and format-like names, odd identifiers,
// very deep and very wide folder trees.
#include <doctest/doctest.h>

#include <windows.h>
// NtCurrentTeb's inline body trips -Warray-bounds in this header.
#pragma GCC diagnostic ignored "-Warray-bounds"
#include <commctrl.h>

#include <string>

#include "MapiSim.h"
#include "ScanFixture.h"
#include "TestFiles.h"
#include "TraceCapture.h"
#include "UiHelpers.h"
#include "trace.h"
#include "utlis.h"

namespace {

std::string ItemText(HWND list, int row, int column)
{
    std::string text(20000, '\0');
    LVITEMA item = {};
    item.iSubItem = column;
    item.pszText = &text[0];
    item.cchTextMax = static_cast<int>(text.size());
    int length = static_cast<int>(SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item)));
    text.resize(length);
    return text;
}

} // namespace

TEST_CASE("names of 10,000 characters are listed whole and build whole paths")
{
    std::string finder(10000, 'F');
    std::string name(10000, 'n');
    ScanFixture f("profile P default\n  store S default\n    finder " + finder + "\n      folder " + name + " search\n");
    TraceCapture trace;
    CHECK(f.Scan() == S_OK);
    REQUIRE(ListRows(f.list).size() == 1);
    CHECK(ItemText(f.list, 0, 0) == name);
    CHECK(ItemText(f.list, 0, 1) == "/" + finder);
    f.Select({0});
    CHECK(f.Delete() == S_OK);
    CHECK(FolderNames(f.sim.StoreText()).empty());
    f.Finish();
    CHECK(f.sim.Clean());
}

TEST_CASE("format-like and empty names are text, never formats")
{
    ScanFixture f("profile \"%n%s%x\" default\n  store S default\n    finder \"\"\n"
                  "      folder \"%s%n%d%lx\" search\n      folder \"\" search\n      folder \"100%\" search fail=DeleteFolder:0x80004005\n",
                  "%n%s%x");
    TraceCapture trace;
    CHECK(f.Scan() == S_OK);
    auto rows = ListRows(f.list);
    REQUIRE(rows.size() == 3);
    CHECK(rows[0].name == "%s%n%d%lx");
    CHECK(rows[0].path == "/");
    CHECK(rows[1].name == "");
    f.Select({0, 1, 2});
    CHECK(f.Delete() == E_FAIL);
    CHECK(Contains(trace.Text(), "] DeleteFolder() failed: hr=80004005\n"));
    CHECK(f.Names() == std::vector<std::string>{"100%"});
    f.Finish();
    CHECK(f.sim.Clean());
}

TEST_CASE("zero-length and 256-byte entry identifiers are copied and used")
{
    std::string id256;
    for (int i = 0; i < 256; ++i) {
        char hex[3];
        snprintf(hex, sizeof(hex), "%02X", i);
        id256 += hex;
    }
    ScanFixture f("profile P default\n  store S default\n    finder F\n"
                  "      folder empty search id=\n      folder big search id=" + id256 + "\n      folder plain search\n");
    CHECK(f.Scan() == S_OK);
    auto rows = ListRows(f.list);
    REQUIRE(rows.size() == 3);
    CHECK(reinterpret_cast<SBinary*>(rows[0].data)->cb == 0);
    CHECK(reinterpret_cast<SBinary*>(rows[1].data)->cb == 256);
    CHECK(reinterpret_cast<SBinary*>(rows[1].data)->lpb[255] == 0xFF);
    f.Select({0, 1});
    CHECK(f.Delete() == S_OK);
    CHECK(FolderNames(f.sim.StoreText()) == std::vector<std::string>{"plain"});
    f.Finish();
    CHECK(f.sim.Clean());
}

TEST_CASE("a profile name of 300 characters is cut to 255 for the logon")
{
    std::string name(300, 'p');
    MapiSim sim("profile " + name + " default\n  store S\n");
    {
        MainDialogFixture ui;
        HWND tree = ui.tree;
        auto profiles = TreeChildren(tree, TVI_ROOT);
        REQUIRE(profiles.size() == 1);
        SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(profiles[0]));
        SendMessageA(tree, WM_KEYDOWN, VK_ADD, 0);
        CHECK(TreeChildren(tree, profiles[0]).empty());
        CHECK(TreeItemChildren(tree, profiles[0]) == 0);
    }
    auto logons = sim.Calls("MAPILogonEx");
    REQUIRE(logons.size() == 1);
    CHECK(Contains(logons[0], "profile=\"" + std::string(255, 'p') + "\" "));
    CHECK(Contains(logons[0], "-> 0x80040111"));
    sim.Finish();
    CHECK(sim.Clean());
}

TEST_CASE("a finder 10,000 levels deep is listed to the bottom on the main thread's stack")
{
    const int depth = 10000;
    std::string store = "profile P default\n  store S default\n    finder F\n";
    store.reserve(static_cast<size_t>(depth) * (depth + 20) + store.size());
    for (int level = 0; level < depth; ++level)
        store += std::string(6 + 2 * level, ' ') + "folder d" + (level + 1 == depth ? " search" : "") + "\n";
    ScanFixture f(store, "P", "S", false);
    int level = TraceSetLevel(TRACE_ERROR);  // 20,000 call lines would cost more than the scan
    f.Scan();
    TraceSetLevel(level);
    REQUIRE(ListRows(f.list).size() == 1);
    CHECK(ItemText(f.list, 0, 1).size() == 2 + 2 * (depth - 1));  // "/F", then "/d" for each level above
    f.Finish();
    CHECK(f.sim.Clean());
}

TEST_CASE("a finder with 20,000 direct sub-folders")
{
    std::string store = "profile P default\n  store S default\n    finder F\n";
    for (int i = 0; i < 20000; ++i) store += "      folder f" + std::to_string(i) + (i % 2 ? " search\n" : "\n");
    ScanFixture f(store);
    int level = TraceSetLevel(TRACE_ERROR);  // 30,000 call lines would cost more than the scan
    f.Scan();
    TraceSetLevel(level);
    CHECK(ListRows(f.list).size() == 10000);
    CHECK(f.sim.Calls("QueryRows").size() > 1000);
    f.Finish();
    CHECK(f.sim.Clean());
}
