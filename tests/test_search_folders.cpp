// The search-folder scan, the list control and deletion, in the real main
// dialog (hidden), through real MAPI calls into mapisim.
#include <doctest/doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "HeapTracking.h"
#include "MapiSim.h"
#include "ScanFixture.h"
#include "TestFiles.h"
#include "TraceCapture.h"
#include "UiHelpers.h"
#include "resource.h"
#include "utlis.h"

namespace {

std::string Store(const std::string& finderLine, const std::string& body)
{
    return "profile P default\n  store S default\n" + finderLine + "\n" + body;
}

const std::string kNested = Store("    finder F",
                                  "      folder A search\n"
                                  "      folder G\n"
                                  "        folder B search\n"
                                  "        folder \"Q1/Q2 reports\"\n"
                                  "          folder C search\n"
                                  "      folder \"With class\" class=IPF.Note\n"
                                  "        folder D search\n"
                                  "      folder Hidden search class=IPF.Note\n"
                                  "      folder E search\n");

} // namespace

TEST_CASE("the scan lists search folders depth first with the path of the folder that holds them")
{
    ScanFixture f(kNested);
    TraceCapture trace;
    CHECK(f.Scan() == S_OK);
    CHECK(f.Names() == std::vector<std::string>{"A", "B", "C", "D", "E"});
    CHECK(f.Paths() == std::vector<std::string>{"/F", "/F/G", "/F/G/Q1/Q2 reports", "/F/With class", "/F"});
    CHECK(ColumnCount(f.list) == 2);
    CHECK(Contains(trace.Text(), "-->InitSearchList()\n"));
    CHECK(Contains(trace.Text(), "<--InitSearchList(), ret = 0\n"));
    CHECK(CountOf(trace.Text(), "-->BuildSearchList()\n") == 10);  // the finder and every folder below it
    CHECK_FALSE(Contains(trace.Text(), "] E"));  // no error lines

    // The calls and flags of a scan.
    for (const std::string& line : f.sim.Calls("OpenMsgStore")) CHECK(Contains(line, "iid=null flags=0x00000084"));
    for (const std::string& line : f.sim.Calls("OpenEntry")) CHECK(Contains(line, "iid=null flags=0x00000001"));
    for (const std::string& line : f.sim.Calls("QueryRows"))
        if (!Contains(line, ":stores") && !Contains(line, "\"profiles\"")) CHECK(Contains(line, " rows=20 "));
    CHECK(f.sim.Calls("GetHierarchyTable").size() == 10);  // search folders are asked too
    f.Finish();
    CHECK(f.sim.Clean());
}

TEST_CASE("the finder itself is listed only when it is a search folder without a container class")
{
    SUBCASE("search finder without class")
    {
        ScanFixture f(Store("    finder \"Root Finder\" search", "      folder X search\n"));
        CHECK(f.Scan() == S_OK);  // a search folder has no hierarchy table: the finder's visit ends quietly
        CHECK(f.Names() == std::vector<std::string>{"Root Finder"});
        CHECK(f.Paths() == std::vector<std::string>{""});
        f.Finish();
        CHECK(f.sim.Clean());
    }
    SUBCASE("search finder with a class")
    {
        ScanFixture f(Store("    finder F search class=IPF.Note", ""));
        CHECK(f.Scan() == S_OK);
        CHECK(f.Names().empty());
        f.Finish();
        CHECK(f.sim.Clean());
    }
    SUBCASE("an empty finder gives an empty list and success")
    {
        ScanFixture f(Store("    finder F", ""));
        CHECK(f.Scan() == S_OK);
        CHECK(f.Names().empty());
        f.Finish();
        CHECK(f.sim.Clean());
    }
}

TEST_CASE("45 sub-folders are read in batches of 20, 20, 5 and an empty one")
{
    std::string body;
    for (int i = 0; i < 45; ++i) body += "      folder s" + std::to_string(i) + " search\n";
    ScanFixture f(Store("    finder F", body));
    CHECK(f.Scan() == S_OK);
    CHECK(f.Names().size() == 45);
    std::vector<std::string> returned;
    for (const std::string& line : f.sim.Calls("QueryRows"))
        if (Contains(line, "table=\"P/S/F\"")) returned.push_back(line.substr(line.find("returned=")));
    CHECK(returned == std::vector<std::string>{"returned=20 -> 0x00000000", "returned=20 -> 0x00000000",
                                                "returned=5 -> 0x00000000", "returned=0 -> 0x00000000"});
    f.Finish();
    CHECK(f.sim.Clean());
}

TEST_CASE("failures of InitSearchList and GetFinder end the scan with their line and result")
{
    const struct {
        const char* storeAttr;
        const char* finderAttr;
        HRESULT result;
        std::vector<const char*> lines;
    } cases[] = {
        {" fail=OpenMsgStore:0x80040115", "", HRESULT(0x80040115), {"OpenMsgStore() failed: hr=80040115\n"}},
        {" fail=GetProps:0x8004010e", "", HRESULT(0x8004010E), {"GetProps() failed: hr=8004010e\n", "GetFinder() failed: hr=8004010e\n"}},
        {" missing=finder", "", E_FAIL, {"pStoreProps invalid, failed: hr=80004005\n", "GetFinder() failed: hr=80004005\n"}},
        {" fail=OpenEntry:0x8004010f", "", HRESULT(0x8004010F), {"OpenEntry() failed: hr=8004010f\n", "GetFinder() failed: hr=8004010f\n"}},
        {"", " fail=Open:0x80070005", HRESULT(0x80070005), {"OpenEntry() failed: hr=80070005\n", "GetFinder() failed: hr=80070005\n"}},
        {"", " fail=GetProps:0x80040115", HRESULT(0x80040115), {"GetProps() failed: hr=80040115\n", "BuildSearchList() failed: hr=80040115\n"}},
        {"", " missing=foldertype", E_FAIL, {"cFinderProps not ok: hr=80004005\n", "BuildSearchList() failed: hr=80004005\n"}},
        {"", " fail=GetHierarchyTable:0x8007000e", E_OUTOFMEMORY, {"GetHierarchyTable() failed: hr=8007000e\n", "BuildSearchList() failed: hr=8007000e\n"}},
        {"", " fail=SetColumns:0x80040102", MAPI_E_NO_SUPPORT, {"SetColumns() failed: hr=80040102\n", "BuildSearchList() failed: hr=80040102\n"}},
        {"", " fail=QueryRows:0x80040115@2", HRESULT(0x80040115), {"QueryRows() failed: hr=80040115\n", "BuildSearchList() failed: hr=80040115\n"}},
    };
    for (const auto& c : cases) {
        CAPTURE(c.storeAttr);
        CAPTURE(c.finderAttr);
        std::string body;
        for (int i = 0; i < 25; ++i) body += "      folder s" + std::to_string(i) + " search\n";
        std::string profile = UniqueName("P");
        ScanFixture f("profile " + profile + " default\n  store S default" + std::string(c.storeAttr) + "\n    finder F" + c.finderAttr + "\n" + body, profile.c_str());
        TraceCapture trace;
        CHECK(f.Scan() == c.result);
        std::string text = trace.Text();
        for (const char* line : c.lines) CHECK(Contains(text, std::string("] ") + line));
        CHECK(Contains(text, "<--InitSearchList(), ret = " + [&] { char b[16]; snprintf(b, sizeof(b), "%lx", (unsigned long)c.result); return std::string(b); }() + "\n"));
        // A QueryRows failure on the second batch keeps the first batch listed.
        CHECK(f.Names().size() == (Contains(c.finderAttr, "QueryRows") ? 20u : 0u));
        f.Finish();
        CHECK(f.sim.Clean());
    }
}

TEST_CASE("a failure inside the recursion ends only the visit where it happened")
{
    SUBCASE("the third of five sub-folders cannot be opened")
    {
        ScanFixture f(Store("    finder F",
                            "      folder Top\n"
                            "        folder one search\n"
                            "        folder two\n"
                            "          folder \"below two\" search\n"
                            "        folder three search fail=Open:0x8004010f\n"
                            "        folder four search\n"
                            "        folder five search\n"
                            "      folder after search\n"));
        TraceCapture trace;
        CHECK(f.Scan() == S_OK);
        CHECK(f.Names() == std::vector<std::string>{"one", "below two", "after"});
        CHECK(Contains(trace.Text(), "] OpenEntry() failed: hr=8004010f\n"));
        CHECK(Contains(trace.Text(), "<--BuildSearchList(), ret = 8004010f\n"));
        CHECK_FALSE(Contains(f.sim.Log(), "target=\"P/S/F/Top/four\""));
        f.Finish();
        CHECK(f.sim.Clean());
    }
    SUBCASE("a folder without a folder type is skipped with everything below it")
    {
        ScanFixture f(Store("    finder F",
                            "      folder X search missing=foldertype\n"
                            "      folder Y missing=foldertype\n"
                            "        folder Z search\n"
                            "      folder W search\n"));
        TraceCapture trace;
        CHECK(f.Scan() == S_OK);
        CHECK(f.Names() == std::vector<std::string>{"W"});
        CHECK(CountOf(trace.Text(), "] cFinderProps not ok: hr=80004005\n") == 2);
        f.Finish();
        CHECK(f.sim.Clean());
    }
    SUBCASE("a row without an entry identifier ends its folder's visit")
    {
        ScanFixture f(Store("    finder F",
                            "      folder G\n"
                            "        folder a search\n"
                            "        folder b search missing=entryid\n"
                            "        folder c search\n"
                            "      folder d search\n"));
        TraceCapture trace;
        CHECK(f.Scan() == S_OK);
        CHECK(f.Names() == std::vector<std::string>{"a", "d"});
        CHECK(Contains(trace.Text(), "] pRow->lpProps[0].ulPropTag not ok: hr=80004005\n"));
        f.Finish();
        CHECK(f.sim.Clean());
    }
    SUBCASE("hierarchy, column and row failures of a sub-folder")
    {
        ScanFixture f(Store("    finder F",
                            "      folder G1 fail=GetHierarchyTable:0x80040115\n"
                            "        folder x1 search\n"
                            "      folder G2 fail=SetColumns:0x80040115\n"
                            "        folder x2 search\n"
                            "      folder G3 fail=QueryRows:0x80040115\n"
                            "        folder x3 search\n"
                            "      folder G4 fail=GetProps:0x80040115\n"
                            "        folder x4 search\n"
                            "      folder ok search\n"));
        TraceCapture trace;
        CHECK(f.Scan() == S_OK);
        CHECK(f.Names() == std::vector<std::string>{"ok"});
        std::string text = trace.Text();
        for (const char* line : {"GetHierarchyTable() failed", "SetColumns() failed", "QueryRows() failed", "GetProps() failed"})
            CHECK(Contains(text, std::string("] ") + line + ": hr=80040115\n"));
        f.Finish();
        CHECK(f.sim.Clean());
    }
}

TEST_CASE("each record is freed exactly once, whatever removes its row")
{
    ScanFixture f(kNested);
    HeapCounts before = GetHeapCounts();
    CHECK(f.Scan() == S_OK);
    HeapCounts scanned = GetHeapCounts();
    // Five rows keep a record; the class folder's record and every path buffer are freed already.
    CHECK(scanned.live - before.live == 5);
    CHECK(scanned.badFrees == before.badFrees);

    SendMessageA(f.list, LVM_DELETEITEM, 0, 0);
    CHECK(GetHeapCounts().live - before.live == 4);
    SendMessageA(f.list, LVM_DELETEALLITEMS, 0, 0);
    HeapCounts emptied = GetHeapCounts();
    CHECK(emptied.live == before.live);
    CHECK(emptied.frees - scanned.frees == 5);
    CHECK(emptied.badFrees == before.badFrees);

    // Rows still listed when the dialog goes are freed with it.
    CHECK(f.Scan() == S_OK);
    CHECK(GetHeapCounts().live - before.live == 5);
    DestroyWindow(f.ui->window);
    CHECK(GetHeapCounts().live == before.live - 1);  // the rows' records, and the tree's store identifier

    CHECK(GetHeapCounts().badFrees == before.badFrees);
    f.Finish();
    CHECK(f.sim.Clean());
}

TEST_CASE("allocation failures: a row without a record, and a sub-folder path that cannot be built")
{
    SUBCASE("the copy of an entry identifier fails: listed with null data, and a deletion stops there")
    {
        // A 37-byte identifier makes this record's allocation size unique.
        std::string id37(74, 'A');
        ScanFixture f(Store("    finder F", "      folder first search\n      folder odd search id=" + id37 + "\n      folder last search\n"));
        TraceCapture trace;
        FailAllocationsOfSize(sizeof(SBinary) + 37, 1);
        CHECK(f.Scan() == S_OK);
        FailAllocationsOfSize(0, 0);
        CHECK(Contains(trace.Text(), "] malloc() failed: hr=8007000e\n"));
        auto rows = ListRows(f.list);
        REQUIRE(rows.size() == 3);
        CHECK(rows[1].name == "odd");
        CHECK(rows[1].data == 0);

        f.Select({0, 1, 2});
        TraceCapture deletion;
        CHECK(f.Delete() == E_FAIL);
        CHECK(Contains(deletion.Text(), "] GetItemData() failed: hr=80004005\n"));
        CHECK(f.Names() == std::vector<std::string>{"odd", "last"});
        CHECK(FolderNames(f.sim.StoreText()) == std::vector<std::string>{"odd", "last"});
        f.Finish();
        CHECK(f.sim.Clean());
    }
    SUBCASE("the sub-folder path cannot be allocated")
    {
        // "" + "/" + "Finder-31-characters-long-name!" + terminator
        const std::string finder = "Finder-31-characters-long-name!";
        ScanFixture f(Store("    finder " + finder, "      folder x search\n      folder y search\n"));
        TraceCapture trace;
        FailAllocationsOfSize(finder.size() + 2, 1);
        CHECK(f.Scan() == E_OUTOFMEMORY);
        FailAllocationsOfSize(0, 0);
        CHECK(Contains(trace.Text(), "] malloc() failed: hr=8007000e\n"));
        CHECK(Contains(trace.Text(), "] BuildSearchList() failed: hr=8007000e\n"));
        CHECK(f.Names().empty());
        f.Finish();
        CHECK(f.sim.Clean());
    }
}

TEST_CASE("DeleteSelection deletes the selected rows top first and stops at the first failure")
{
    SUBCASE("nothing selected: the store is opened and released, nothing deleted, success")
    {
        ScanFixture f(kNested);
        f.Scan();
        size_t opens = f.sim.Calls("OpenMsgStore").size();
        CHECK(f.Delete() == S_OK);
        CHECK(f.sim.Calls("OpenMsgStore").size() == opens + 1);
        CHECK(f.sim.Calls("DeleteFolder").empty());
        CHECK(f.Names().size() == 5);
        f.Finish();
        CHECK(f.sim.Clean());
        CHECK(f.sim.StoreText() == kNested);  // not even rewritten
    }
    SUBCASE("three selected, the second refused")
    {
        ScanFixture f(Store("    finder F",
                            "      folder keep search\n"
                            "      folder one search\n"
                            "      folder two search fail=DeleteFolder:0x80070005\n"
                            "      folder three search\n"));
        f.Scan();
        f.Select({1, 2, 3});
        TraceCapture trace;
        CHECK(f.Delete() == HRESULT(0x80070005));
        CHECK(Contains(trace.Text(), "] DeleteFolder() failed: hr=80070005\n"));
        CHECK(Contains(trace.Text(), "<--DeleteSelection(), ret = 80070005\n"));
        auto rows = ListRows(f.list);
        REQUIRE(rows.size() == 3);
        CHECK(rows[0].name == "keep");
        CHECK_FALSE(rows[0].selected);
        CHECK(rows[1].name == "two");
        CHECK(rows[1].selected);
        CHECK(rows[2].name == "three");
        CHECK(rows[2].selected);
        CHECK(FolderNames(f.sim.StoreText()) == std::vector<std::string>{"keep", "two", "three"});
        auto deletes = f.sim.Calls("DeleteFolder");
        REQUIRE(deletes.size() == 2);
        CHECK(deletes[0] == "DeleteFolder on=\"P/S/F\" target=\"P/S/F/one\" ui=nonnull progress=null flags=0x00000006 -> 0x00000000");
        f.Finish();
        CHECK(f.sim.Clean());
    }
    SUBCASE("nested selection: each folder is deleted from its own parent")
    {
        ScanFixture f(kNested);
        f.Scan();
        f.Select({0, 1, 2, 3, 4});
        CHECK(f.Delete() == S_OK);
        CHECK(f.Names().empty());
        CHECK(FolderNames(f.sim.StoreText()) == std::vector<std::string>{"G", "Q1/Q2 reports", "With class", "Hidden"});
        f.Finish();
        CHECK(f.sim.Clean());
    }
}

TEST_CASE("deletion failures of GetParentFolder and OpenEntry keep the rows")
{
    const struct {
        const char* finderAttr;
        const char* folderAttr;
        const char* storeAttr;
        std::vector<const char*> lines;
        HRESULT result;
    } cases[] = {
        {"", " fail=GetProps:0x80040115@2", "", {"GetProps() failed: hr=80040115\n", "GetParentFolder() failed: hr=80040115\n"}, HRESULT(0x80040115)},
        {"", " missing=parent", "", {"pPropArray invalid, failed: hr=80004005\n", "GetParentFolder() failed: hr=80004005\n"}, E_FAIL},
        {" fail=Open:0x8004010f@2", "", "", {"OpenEntry() failed: hr=8004010f\n", "GetParentFolder() failed: hr=8004010f\n"}, HRESULT(0x8004010F)},
        {"", " fail=Open:0x8004010f@2", "", {"OpenEntry() failed: hr=8004010f\n"}, HRESULT(0x8004010F)},
        {"", "", " fail=OpenMsgStore:0x80040115@2", {"OpenMsgStore() failed: hr=80040115\n"}, HRESULT(0x80040115)},
    };
    for (const auto& c : cases) {
        CAPTURE(c.finderAttr);
        CAPTURE(c.folderAttr);
        CAPTURE(c.storeAttr);
        std::string profile = UniqueName("P");
        std::string text = "profile " + profile + " default\n  store S default" + std::string(c.storeAttr) + "\n    finder F" + c.finderAttr +
                           "\n      folder x search" + c.folderAttr + "\n      folder y search\n";
        ScanFixture f(text, profile.c_str());
        REQUIRE(f.Scan() == S_OK);
        f.Select({0, 1});
        TraceCapture trace;
        CHECK(f.Delete() == c.result);
        for (const char* line : c.lines) CHECK(Contains(trace.Text(), std::string("] ") + line));
        CHECK(f.Names() == std::vector<std::string>{"x", "y"});
        CHECK(FolderNames(f.sim.StoreText()) == std::vector<std::string>{"x", "y"});
        f.Finish();
        CHECK(f.sim.Clean());
    }
}

TEST_CASE("a folder deleted elsewhere between scan and delete stops the deletion at OpenEntry")
{
    ScanFixture f(Store("    finder F", "      folder x search\n      folder y search\n"));
    f.Scan();
    // Another client deletes x in a session of its own.
    REQUIRE(f.sim.DeleteElsewhere("P", "S", *reinterpret_cast<SBinary*>(ListRows(f.list)[0].data)) == S_OK);
    f.Select({0, 1});
    TraceCapture trace;
    CHECK(f.Delete() == MAPI_E_NOT_FOUND);
    CHECK(Contains(trace.Text(), "] OpenEntry() failed: hr=8004010f\n"));
    CHECK(f.Names() == std::vector<std::string>{"x", "y"});
    CHECK(FolderNames(f.sim.StoreText()) == std::vector<std::string>{"y"});
    f.Finish();
    CHECK(f.sim.Clean());
}

TEST_CASE("strings are loaded whole, however long; a missing one is empty")
{
    HINSTANCE instance = GetModuleHandleA(nullptr);
    const struct {
        UINT id;
        size_t length;
    } cases[] = {{9001, 600}, {9002, 253}, {9003, 254}, {9004, 255}, {9005, 512}};
    for (const auto& c : cases) {
        CAPTURE(c.id);
        std::string text = LoadStringWhole(instance, c.id);
        CHECK(text.size() == c.length);
        CHECK(text.substr(0, 3) == "abc");
        CHECK(text.back() == static_cast<char>('a' + (c.length - 1) % 26));
    }
    CHECK(LoadStringWhole(instance, 9999).empty());
    CHECK(LoadStringWhole(instance, IDS_FOLDER_COLUMN) == "Folder");
}
