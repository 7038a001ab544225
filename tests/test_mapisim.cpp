// mapisim through mapi32.dll, exactly as Korvane reaches it: the contract's
// tables, properties, faults, deletion, call log and report.
#include <doctest/doctest.h>

#include <windows.h>
#include <mapix.h>

#include "MapiSim.h"
#include "model.h"
#include "TestFiles.h"
#include "utlis.h"

namespace {

template <class T>
void Release(T*& object)
{
    if (object) object->Release();
    object = nullptr;
}

const char kStore[] =
    "profile \"Mail\" default\n"
    "  store \"Mailbox - Anna Berg\" default\n"
    "    finder \"Finder\"\n"
    "      folder \"Unread Mail\" search\n"
    "      folder \"Large Mail\" search class=IPF.Note\n"
    "      folder \"Projects\"\n"
    "        folder \"From Boss\" search\n"
    "  store \"Archive 2019\"\n"
    "profile \"Backup\"\n";

std::vector<std::string> QueryAllNames(LPMAPITABLE table, ULONG tag, LONG batch, std::vector<ULONG>* counts = nullptr)
{
    std::vector<std::string> names;
    for (;;) {
        LPSRowSet rows = nullptr;
        REQUIRE(SUCCEEDED(table->QueryRows(batch, 0, &rows)));
        if (counts) counts->push_back(rows->cRows);
        if (rows->cRows == 0) {
            FreeRowSet(rows);
            return names;
        }
        for (ULONG i = 0; i < rows->cRows; ++i)
            for (ULONG k = 0; k < rows->aRow[i].cValues; ++k)
                if (rows->aRow[i].lpProps[k].ulPropTag == tag) names.push_back(rows->aRow[i].lpProps[k].Value.lpszA);
        FreeRowSet(rows);
    }
}

// Opens a store of a session, and its finder.
struct OpenStore {
    OpenStore(MapiSim& sim, LPMAPISESSION session, const std::string& name)
    {
        std::string id = sim.StoreId(session, name);
        hr = session->OpenMsgStore(0, static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(&id[0]), nullptr, 0x84, &store);
        if (SUCCEEDED(hr)) hr = GetFinder(store, &finder);
    }
    ~OpenStore()
    {
        Release(finder);
        Release(store);
    }
    HRESULT hr = E_FAIL;
    LPMDB store = nullptr;
    LPMAPIFOLDER finder = nullptr;
};

std::string Entry(LPMAPIPROP object)
{
    PropTags<1> tags = {1, {kTagEntryId}};
    ULONG count = 0;
    LPSPropValue props = nullptr;
    std::string id;
    if (SUCCEEDED(object->GetProps(tags.get(), 0, &count, &props)) && props[0].ulPropTag == kTagEntryId)
        id.assign(reinterpret_cast<char*>(props[0].Value.bin.lpb), props[0].Value.bin.cb);
    MAPIFreeBuffer(props);
    return id;
}

// The first child folder of |folder| named |name|, opened.
LPMAPIFOLDER OpenChild(LPMAPIFOLDER folder, const std::string& name)
{
    LPMAPITABLE table = nullptr;
    if (FAILED(folder->GetHierarchyTable(0, &table))) return nullptr;
    PropTags<2> columns = {2, {kTagEntryId, kTagDisplayName}};
    table->SetColumns(columns.get(), 0);
    LPMAPIFOLDER child = nullptr;
    for (;;) {
        LPSRowSet rows = nullptr;
        if (FAILED(table->QueryRows(20, 0, &rows)) || rows->cRows == 0) {
            FreeRowSet(rows);
            break;
        }
        for (ULONG i = 0; i < rows->cRows && !child; ++i) {
            SPropValue* p = rows->aRow[i].lpProps;
            if (name == p[1].Value.lpszA) {
                ULONG type = 0;
                folder->OpenEntry(p[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(p[0].Value.bin.lpb), nullptr,
                                  MAPI_MODIFY, &type, reinterpret_cast<LPUNKNOWN*>(&child));
            }
        }
        FreeRowSet(rows);
    }
    table->Release();
    return child;
}

std::string ManyFolders(int n, const char* extra = "")
{
    std::string text = "profile P default\n  store S default\n    finder F";
    text += extra;
    text += "\n";
    for (int i = 0; i < n; ++i) text += "      folder \"f" + std::to_string(i) + "\" search\n";
    return text;
}

} // namespace

TEST_CASE("profile table lists profiles in file order with their default flag")
{
    MapiSim sim(kStore);
    REQUIRE(sim.initResult() == S_OK);
    LPPROFADMIN admin = nullptr;
    REQUIRE(MAPIAdminProfiles(0, &admin) == S_OK);
    LPMAPITABLE table = nullptr;
    REQUIRE(admin->GetProfileTable(0, &table) == S_OK);
    PropTags<2> columns = {2, {kTagDisplayName, kTagDefaultProfile}};
    REQUIRE(table->SetColumns(columns.get(), 0) == S_OK);
    std::vector<std::pair<std::string, bool>> seen;
    for (;;) {
        LPSRowSet rows = nullptr;
        REQUIRE(table->QueryRows(1, 0, &rows) == S_OK);
        if (rows->cRows == 0) {
            FreeRowSet(rows);
            break;
        }
        CHECK(rows->aRow[0].lpProps[0].ulPropTag == kTagDisplayName);
        CHECK(rows->aRow[0].lpProps[1].ulPropTag == kTagDefaultProfile);
        seen.push_back({rows->aRow[0].lpProps[0].Value.lpszA, rows->aRow[0].lpProps[1].Value.b != 0});
        FreeRowSet(rows);
    }
    table->Release();
    admin->Release();
    CHECK(seen == std::vector<std::pair<std::string, bool>>{{"Mail", true}, {"Backup", false}});
    sim.Finish();
    CHECK(sim.Clean());
    CHECK(sim.Report().at("logons") == "0");
}

TEST_CASE("each logon is a new session, logged with its flags; store table and finder")
{
    MapiSim sim(kStore);
    LPMAPISESSION first = sim.Logon("Mail");
    LPMAPISESSION second = sim.Logon("Mail");
    REQUIRE(first);
    REQUIRE(second);
    CHECK(first != second);
    auto logons = sim.Calls("MAPILogonEx");
    REQUIRE(logons.size() == 2);
    CHECK(logons[0] == "MAPILogonEx profile=\"Mail\" ui=0x00000000 password=null flags=0x00108022 session=1 -> 0x00000000");
    CHECK(Contains(logons[1], "session=2 -> 0x00000000"));

    LPMAPITABLE table = nullptr;
    REQUIRE(first->GetMsgStoresTable(0, &table) == S_OK);
    PropTags<3> columns = {3, {kTagEntryId, kTagDisplayName, kTagDefaultStore}};
    REQUIRE(table->SetColumns(columns.get(), 0) == S_OK);
    CHECK(QueryAllNames(table, kTagDisplayName, 1) == std::vector<std::string>{"Mailbox - Anna Berg", "Archive 2019"});
    table->Release();

    {
        OpenStore mailbox(sim, first, "Mailbox - Anna Berg");
        REQUIRE(mailbox.hr == S_OK);
        CHECK(Contains(sim.Log(), "OpenMsgStore session=1 store=\"Mail/Mailbox - Anna Berg\" iid=null flags=0x00000084 -> 0x00000000"));
        CHECK(Contains(sim.Log(), "OpenEntry on=\"Mail/Mailbox - Anna Berg\" target=\"Mail/Mailbox - Anna Berg/Finder\" iid=null flags=0x00000001 -> 0x00000000"));
        OpenStore archive(sim, first, "Archive 2019");
        CHECK(archive.hr == E_FAIL);  // a store without a finder has no PR_FINDER_ENTRYID
    }
    first->Logoff(0, 0, 0);
    first->Release();
    second->Logoff(0, 0, 0);
    second->Release();
    CHECK(Contains(sim.Log(), "Logoff session=1 ui=0x00000000 flags=0x00000000 -> 0x00000000"));
    sim.Finish();
    CHECK(sim.Clean());
    CHECK(sim.Report().at("logons") == "2");
    CHECK(sim.Report().at("logoffs") == "2");
}

TEST_CASE("hierarchy tables hand out batches, honour batch= and refuse on search folders")
{
    SUBCASE("45 sub-folders read 20, 20, 5, then 0")
    {
        MapiSim sim(ManyFolders(45));
        LPMAPISESSION session = sim.Logon("P");
        {
            OpenStore s(sim, session, "S");
            REQUIRE(s.hr == S_OK);
            LPMAPITABLE table = nullptr;
            REQUIRE(s.finder->GetHierarchyTable(0, &table) == S_OK);
            PropTags<2> columns = {2, {kTagEntryId, kTagDisplayName}};
            table->SetColumns(columns.get(), 0);
            std::vector<ULONG> counts;
            auto names = QueryAllNames(table, kTagDisplayName, 20, &counts);
            CHECK(counts == std::vector<ULONG>{20, 20, 5, 0});
            CHECK(names.front() == "f0");
            CHECK(names.back() == "f44");
            table->Release();
        }
        session->Logoff(0, 0, 0);
        session->Release();
        std::vector<std::string> queries;
        for (const std::string& line : sim.Calls("QueryRows"))
            if (Contains(line, "table=\"P/S/F\"")) queries.push_back(line);
        REQUIRE(queries.size() == 4);
        CHECK(queries[0] == "QueryRows table=\"P/S/F\" rows=20 flags=0x00000000 returned=20 -> 0x00000000");
        CHECK(Contains(queries[2], "returned=5"));
        sim.Finish();
        CHECK(sim.Clean());
    }
    SUBCASE("batch=3 caps every answer")
    {
        MapiSim sim(ManyFolders(7, " batch=3"));
        LPMAPISESSION session = sim.Logon("P");
        {
            OpenStore s(sim, session, "S");
            LPMAPITABLE table = nullptr;
            REQUIRE(s.finder->GetHierarchyTable(0, &table) == S_OK);
            std::vector<ULONG> counts;
            QueryAllNames(table, kTagDisplayName, 20, &counts);
            CHECK(counts == std::vector<ULONG>{3, 3, 1, 0});
            table->Release();
            LPMAPIFOLDER search = OpenChild(s.finder, "f0");
            REQUIRE(search);
            LPMAPITABLE none = nullptr;
            CHECK(search->GetHierarchyTable(0, &none) == MAPI_E_NO_SUPPORT);
            search->Release();
        }
        session->Logoff(0, 0, 0);
        session->Release();
        sim.Finish();
        CHECK(sim.Clean());
    }
}

TEST_CASE("missing= properties come back as PT_ERROR with MAPI_W_ERRORS_RETURNED")
{
    MapiSim sim("profile P default missing=default\n"
                "  store S default missing=finder\n"
                "  store T missing=name,entryid,default\n"
                "    finder F missing=parent\n"
                "      folder G search missing=foldertype,parent,name,entryid\n");
    LPMAPISESSION session = sim.Logon("P");
    REQUIRE(session);
    {
        LPMAPITABLE table = nullptr;
        REQUIRE(session->GetMsgStoresTable(0, &table) == S_OK);
        PropTags<3> columns = {3, {kTagEntryId, kTagDisplayName, kTagDefaultStore}};
        table->SetColumns(columns.get(), 0);
        LPSRowSet rows = nullptr;
        REQUIRE(table->QueryRows(2, 0, &rows) == S_OK);
        REQUIRE(rows->cRows == 2);
        CHECK(rows->aRow[0].lpProps[0].ulPropTag == kTagEntryId);
        for (int i = 0; i < 3; ++i) {
            CHECK(PROP_TYPE(rows->aRow[1].lpProps[i].ulPropTag) == PT_ERROR);
            CHECK(rows->aRow[1].lpProps[i].Value.err == MAPI_E_NOT_FOUND);
        }
        FreeRowSet(rows);
        table->Release();

        OpenStore s(sim, session, "S");
        CHECK(s.hr == E_FAIL);  // no PR_FINDER_ENTRYID
        std::string id = sim.StoreId(session, "S");
        LPMDB store = nullptr;
        REQUIRE(session->OpenMsgStore(0, static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(&id[0]), nullptr, 0x84, &store) == S_OK);
        PropTags<1> finderTag = {1, {kTagFinderEntryId}};
        ULONG count = 0;
        LPSPropValue props = nullptr;
        CHECK(store->GetProps(finderTag.get(), 0, &count, &props) == MAPI_W_ERRORS_RETURNED);
        CHECK(props[0].ulPropTag == PROP_TAG(PT_ERROR, PROP_ID(kTagFinderEntryId)));
        MAPIFreeBuffer(props);
        store->Release();
    }
    {
        // Store T lacks its entry id in the table; open it by the id the finder's store has instead.
        LPPROFADMIN admin = nullptr;
        REQUIRE(MAPIAdminProfiles(0, &admin) == S_OK);
        LPMAPITABLE table = nullptr;
        admin->GetProfileTable(0, &table);
        PropTags<2> columns = {2, {kTagDisplayName, kTagDefaultProfile}};
        table->SetColumns(columns.get(), 0);
        LPSRowSet rows = nullptr;
        REQUIRE(table->QueryRows(1, 0, &rows) == S_OK);
        CHECK(rows->aRow[0].lpProps[0].ulPropTag == kTagDisplayName);
        CHECK(rows->aRow[0].lpProps[1].ulPropTag == PROP_TAG(PT_ERROR, PROP_ID(kTagDefaultProfile)));
        FreeRowSet(rows);
        table->Release();
        admin->Release();
    }
    session->Logoff(0, 0, 0);
    session->Release();
    sim.Finish();
    CHECK(sim.Clean());
}

TEST_CASE("folder properties, missing ones, and the parent chain up to the root")
{
    MapiSim sim("profile P default\n"
                "  store S default\n"
                "    finder F missing=parent\n"
                "      folder A class=IPF.Note\n"
                "        folder G search missing=foldertype,name\n");
    LPMAPISESSION session = sim.Logon("P");
    {
        OpenStore s(sim, session, "S");
        REQUIRE(s.hr == S_OK);
        LPMAPIFOLDER a = OpenChild(s.finder, "A");
        REQUIRE(a);
        PropTags<5> tags = {5, {kTagDisplayName, kTagFolderType, kTagEntryId, kTagContainerClass, kTagParentEntryId}};
        ULONG count = 0;
        LPSPropValue props = nullptr;
        REQUIRE(a->GetProps(tags.get(), 0, &count, &props) == S_OK);
        CHECK(count == 5);
        CHECK(std::string(props[0].Value.lpszA) == "A");
        CHECK(props[1].Value.l == 1);
        CHECK(std::string(props[3].Value.lpszA) == "IPF.Note");
        CHECK(std::string(reinterpret_cast<char*>(props[4].Value.bin.lpb), props[4].Value.bin.cb) == Entry(s.finder));
        MAPIFreeBuffer(props);

        LPMAPITABLE table = nullptr;
        REQUIRE(a->GetHierarchyTable(0, &table) == S_OK);
        PropTags<7> columns = {7, {kTagEntryId, kTagDisplayName, PR_OBJECT_TYPE, PR_DEPTH, PR_DISPLAY_TYPE, PR_STATUS, PR_COMMENT_A}};
        table->SetColumns(columns.get(), 0);
        LPSRowSet rows = nullptr;
        REQUIRE(table->QueryRows(20, 0, &rows) == S_OK);
        REQUIRE(rows->cRows == 1);
        SPropValue* row = rows->aRow[0].lpProps;
        CHECK(row[0].ulPropTag == kTagEntryId);
        CHECK(PROP_TYPE(row[1].ulPropTag) == PT_ERROR);  // name missing
        CHECK(row[2].Value.l == 3);
        CHECK(row[3].Value.l == 1);
        CHECK(row[6].ulPropTag == PROP_TAG(PT_ERROR, PROP_ID(PR_COMMENT_A)));
        ULONG type = 0;
        LPMAPIFOLDER g = nullptr;
        REQUIRE(a->OpenEntry(row[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(row[0].Value.bin.lpb), nullptr, MAPI_MODIFY,
                             &type, reinterpret_cast<LPUNKNOWN*>(&g)) == S_OK);
        CHECK(type == MAPI_FOLDER);
        FreeRowSet(rows);
        table->Release();
        PropTags<4> four = {4, {kTagDisplayName, kTagFolderType, kTagEntryId, kTagContainerClass}};
        REQUIRE(g->GetProps(four.get(), 0, &count, &props) == MAPI_W_ERRORS_RETURNED);
        CHECK(PROP_TYPE(props[0].ulPropTag) == PT_ERROR);
        CHECK(PROP_TYPE(props[1].ulPropTag) == PT_ERROR);
        CHECK(props[2].ulPropTag == kTagEntryId);
        CHECK(PROP_TYPE(props[3].ulPropTag) == PT_ERROR);
        MAPIFreeBuffer(props);

        LPMAPIFOLDER parent = nullptr;
        REQUIRE(GetParentFolder(s.store, g, &parent) == S_OK);
        CHECK(Entry(parent) == Entry(a));
        parent->Release();
        LPMAPIFOLDER none = nullptr;
        CHECK(GetParentFolder(s.store, s.finder, &none) == E_FAIL);  // finder lacks its parent here
        CHECK(none == nullptr);
        g->Release();
        a->Release();
    }
    session->Logoff(0, 0, 0);
    session->Release();
    sim.Finish();
    CHECK(sim.Clean());
}

TEST_CASE("the root folder opens and lists the finder; unknown identifiers are not found")
{
    MapiSim sim("profile P default\n  store S\n    finder F\n      folder G search\n");
    LPMAPISESSION session = sim.Logon("P");
    {
        OpenStore s(sim, session, "S");
        LPMAPIFOLDER root = nullptr;
        CHECK(GetParentFolder(s.store, s.finder, &root) == S_OK);
        REQUIRE(root);
        LPMAPIFOLDER finder = OpenChild(root, "F");
        REQUIRE(finder);
        CHECK(Entry(finder) == Entry(s.finder));
        finder->Release();
        root->Release();
        BYTE bogus[] = {1, 2, 3};
        ULONG type = 0;
        LPUNKNOWN object = nullptr;
        CHECK(s.store->OpenEntry(3, reinterpret_cast<LPENTRYID>(bogus), nullptr, MAPI_MODIFY, &type, &object) == MAPI_E_NOT_FOUND);
        CHECK(s.finder->OpenEntry(3, reinterpret_cast<LPENTRYID>(bogus), nullptr, MAPI_MODIFY, &type, &object) == MAPI_E_NOT_FOUND);
        LPMDB store = nullptr;
        CHECK(session->OpenMsgStore(0, 3, reinterpret_cast<LPENTRYID>(bogus), nullptr, 0x84, &store) == MAPI_E_NOT_FOUND);
        CHECK(Contains(sim.Log(), "target=\"unknown:010203\""));
    }
    session->Logoff(0, 0, 0);
    session->Release();
    sim.Finish();
    CHECK(sim.Clean());
}

TEST_CASE("every fail= CALL fails on demand, always or only at its Nth call")
{
    struct Case {
        const char* line;  // where the fault stands
        const char* call;
    };
    // Calls are counted for the whole process, by object: each case has a profile of its own.
    std::string profile;
    auto storeWith = [&](const std::string& mapiLine, const std::string& profileAttr, const std::string& storeAttr,
                         const std::string& finderAttr, const std::string& folderAttr, const std::string& searchAttr) {
        return mapiLine + "profile " + profile + " default" + profileAttr + "\n  store S default" + storeAttr + "\n    finder F" +
               finderAttr + "\n      folder A" + folderAttr + "\n        folder G search" + searchAttr + "\n";
    };

    // Runs the whole walk once and reports the first failing HRESULT and where.
    auto walk = [&](MapiSim& sim, std::string& where) -> HRESULT {
        LPPROFADMIN admin = nullptr;
        LPMAPITABLE table = nullptr;
        LPSRowSet rows = nullptr;
        HRESULT hr = MAPIAdminProfiles(0, &admin);
        if (FAILED(hr)) { where = "MAPIAdminProfiles"; return hr; }
        PropTags<2> pcols = {2, {kTagDisplayName, kTagDefaultProfile}};
        if (FAILED(hr = admin->GetProfileTable(0, &table))) where = "GetProfileTable";
        else if (FAILED(hr = table->SetColumns(pcols.get(), 0))) where = "SetColumns";
        else if (FAILED(hr = table->QueryRows(1, 0, &rows))) where = "QueryRows";
        FreeRowSet(rows);
        Release(table);
        admin->Release();
        if (FAILED(hr)) return hr;

        LPMAPISESSION session = nullptr;
        if (FAILED(hr = MAPILogonEx(0, const_cast<LPSTR>(profile.c_str()), nullptr, 0x00108022, &session))) { where = "Logon"; return hr; }
        PropTags<3> scols = {3, {kTagEntryId, kTagDisplayName, kTagDefaultStore}};
        std::string id;
        if (FAILED(hr = session->GetMsgStoresTable(0, &table))) where = "GetMsgStoresTable";
        else if (FAILED(hr = table->SetColumns(scols.get(), 0))) where = "SetColumns";
        else if (FAILED(hr = table->QueryRows(1, 0, &rows))) where = "QueryRows";
        else id.assign(reinterpret_cast<char*>(rows->aRow[0].lpProps[0].Value.bin.lpb), rows->aRow[0].lpProps[0].Value.bin.cb);
        FreeRowSet(rows);
        Release(table);
        LPMDB store = nullptr;
        LPMAPIFOLDER finder = nullptr, a = nullptr, g = nullptr;
        if (SUCCEEDED(hr) && FAILED(hr = session->OpenMsgStore(0, static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(&id[0]), nullptr, 0x84, &store)))
            where = "OpenMsgStore";
        if (SUCCEEDED(hr)) {
            PropTags<1> tag = {1, {kTagFinderEntryId}};
            ULONG count = 0;
            LPSPropValue props = nullptr;
            ULONG type = 0;
            if (FAILED(hr = store->GetProps(tag.get(), 0, &count, &props))) where = "GetProps";
            else if (FAILED(hr = store->OpenEntry(props[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(props[0].Value.bin.lpb), nullptr, 1, &type, reinterpret_cast<LPUNKNOWN*>(&finder))))
                where = "OpenEntry";
            MAPIFreeBuffer(props);
        }
        if (SUCCEEDED(hr)) {
            PropTags<1> tag = {1, {kTagDisplayName}};
            ULONG count = 0;
            LPSPropValue props = nullptr;
            if (FAILED(hr = finder->GetProps(tag.get(), 0, &count, &props))) where = "GetProps";
            MAPIFreeBuffer(props);
        }
        if (SUCCEEDED(hr)) {
            PropTags<1> cols = {1, {kTagEntryId}};
            ULONG type = 0;
            if (FAILED(hr = finder->GetHierarchyTable(0, &table))) where = "GetHierarchyTable";
            else if (FAILED(hr = table->SetColumns(cols.get(), 0))) where = "SetColumns";
            else if (FAILED(hr = table->QueryRows(20, 0, &rows))) where = "QueryRows";
            else if (FAILED(hr = finder->OpenEntry(rows->aRow[0].lpProps[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(rows->aRow[0].lpProps[0].Value.bin.lpb), nullptr, 1, &type, reinterpret_cast<LPUNKNOWN*>(&a))))
                where = "Open";
            FreeRowSet(rows);
            Release(table);
        }
        if (SUCCEEDED(hr) && !(g = OpenChild(a, "G"))) {
            hr = MAPI_E_NOT_FOUND;
            where = "G is gone";
        }
        if (SUCCEEDED(hr)) {
            std::string gid = Entry(g);
            if (FAILED(hr = a->DeleteFolder(static_cast<ULONG>(gid.size()), reinterpret_cast<LPENTRYID>(&gid[0]), 0, nullptr, 6)))
                where = "DeleteFolder";
        }
        Release(g);
        Release(a);
        Release(finder);
        Release(store);
        session->Logoff(0, 0, 0);
        session->Release();
        return hr;
    };

    const struct {
        const char* object;
        const char* call;
    } faults[] = {
        {"mapi", "MAPIAdminProfiles"}, {"mapi", "GetProfileTable"}, {"mapi", "SetColumns"}, {"mapi", "QueryRows"},
        {"profile", "Logon"}, {"profile", "GetMsgStoresTable"}, {"profile", "SetColumns"}, {"profile", "QueryRows"},
        {"store", "OpenMsgStore"}, {"store", "GetProps"}, {"store", "OpenEntry"},
        {"finder", "GetProps"}, {"finder", "GetHierarchyTable"}, {"finder", "SetColumns"}, {"finder", "QueryRows"},
        {"folder", "Open"}, {"folder", "DeleteFolder"},
    };
    int cases = 0;
    for (const auto& fault : faults) {
        for (int nth : {0, 1, 2}) {
            // The first walk deletes G, so a second DeleteFolder of it cannot happen.
            if (nth == 2 && std::string(fault.call) == "DeleteFolder") continue;
            // The one mapi object is counted across all cases: its faults are tested without @N.
            if (nth && std::string(fault.object) == "mapi") continue;
            profile = "P" + std::to_string(++cases);
            CAPTURE(fault.object);
            CAPTURE(fault.call);
            CAPTURE(nth);
            std::string attr = std::string(" fail=") + fault.call + ":0x80040115" + (nth ? "@" + std::to_string(nth) : "");
            std::string o = fault.object;
            bool onSearchFolder = std::string(fault.call) == "DeleteFolder";  // it fails on its target
            std::string text = storeWith(o == "mapi" ? "mapi" + attr + "\n" : "", o == "profile" ? attr : "",
                                         o == "store" ? attr : "", o == "finder" ? attr : "",
                                         o == "folder" && !onSearchFolder ? attr : "", onSearchFolder ? attr : "");
            MapiSim sim(text);
            REQUIRE(sim.initResult() == S_OK);
            std::string where;
            HRESULT first = walk(sim, where);
            std::string where2;
            HRESULT second = walk(sim, where2);
            if (nth == 2) {
                CHECK(first == S_OK);
                CHECK(second == HRESULT(0x80040115));
                CHECK(where2 == fault.call);
            } else {
                CHECK(first == HRESULT(0x80040115));
                CHECK(where == fault.call);
                if (nth == 1 && std::string(fault.call) != "DeleteFolder") CHECK(second == S_OK);
            }
            sim.Finish();
            CHECK(sim.Clean());
        }
    }
}

TEST_CASE("@N counts the calls of the whole process, across initialisations")
{
    const std::string text = "profile Counted default fail=Logon:0x80040111@2\n";
    for (HRESULT expected : {S_OK, HRESULT(0x80040111), S_OK}) {
        MapiSim sim(text);
        LPMAPISESSION session = sim.Logon("Counted");
        CHECK((session ? S_OK : HRESULT(0x80040111)) == expected);
        if (session) {
            session->Logoff(0, 0, 0);
            session->Release();
        }
    }
}

TEST_CASE("MAPIInitialize can be made to fail, and the other calls then refuse")
{
    MapiSim sim("mapi fail=MAPIInitialize:0x80004005\nprofile P\n");
    CHECK(sim.initResult() == E_FAIL);
    LPPROFADMIN admin = nullptr;
    CHECK(MAPIAdminProfiles(0, &admin) == MAPI_E_NOT_INITIALIZED);
    LPMAPISESSION session = nullptr;
    CHECK(MAPILogonEx(0, const_cast<LPSTR>("P"), nullptr, 0, &session) == MAPI_E_NOT_INITIALIZED);
}

TEST_CASE("a failed logon leaves no session; an unknown profile cannot log on")
{
    MapiSim sim("profile P fail=Logon:0x80040111\nprofile Q\n");
    LPMAPISESSION session = nullptr;
    CHECK(MAPILogonEx(0, const_cast<LPSTR>("P"), nullptr, 0x00108022 | MAPI_LOGON_UI, &session) == HRESULT(0x80040111));
    CHECK(session == nullptr);
    CHECK(MAPILogonEx(0, const_cast<LPSTR>("Nobody"), nullptr, 0x00108022, &session) == MAPI_E_LOGON_FAILED);
    CHECK(Contains(sim.Log(), "MAPILogonEx profile=\"P\" ui=0x00000000 password=null flags=0x00108023 session=none -> 0x80040111"));
    sim.Finish();
    CHECK(sim.Clean());
    CHECK(sim.Report().at("logons") == "0");
}

TEST_CASE("DeleteFolder: direct sub-folders only, DEL_FOLDERS for a non-empty one, persisted atomically")
{
    MapiSim sim("# a comment that the canonical form drops\n"
                "profile P default\n  store S\n    finder F\n      folder A\n        folder B search\n      folder C search\n");
    LPMAPISESSION session = sim.Logon("P");
    {
        OpenStore s(sim, session, "S");
        LPMAPIFOLDER a = OpenChild(s.finder, "A");
        LPMAPIFOLDER b = OpenChild(a, "B");
        std::string aid = Entry(a), bid = Entry(b);
        CHECK(s.finder->DeleteFolder(static_cast<ULONG>(bid.size()), reinterpret_cast<LPENTRYID>(&bid[0]), 0, nullptr, 6) == MAPI_E_NOT_FOUND);
        CHECK(s.finder->DeleteFolder(static_cast<ULONG>(aid.size()), reinterpret_cast<LPENTRYID>(&aid[0]), 0, nullptr, 0) == MAPI_E_HAS_FOLDERS);
        CHECK(FolderNames(sim.StoreText()) == std::vector<std::string>{"A", "B", "C"});

        // The file is replaced (a new file renamed over the old one), not rewritten in place.
        auto fileIndex = [&]() {
            HANDLE file = CreateFileA(sim.storePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            BY_HANDLE_FILE_INFORMATION info = {};
            GetFileInformationByHandle(file, &info);
            CloseHandle(file);
            return (static_cast<unsigned long long>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
        };
        unsigned long long before = fileIndex();
        CHECK(s.finder->DeleteFolder(static_cast<ULONG>(aid.size()), reinterpret_cast<LPENTRYID>(&aid[0]), 1, nullptr, 6) == S_OK);
        CHECK(fileIndex() != before);
        CHECK(FolderNames(sim.StoreText()) == std::vector<std::string>{"C"});
        CHECK_FALSE(Contains(sim.StoreText(), "comment"));
        CHECK(Contains(sim.Log(), "DeleteFolder on=\"P/S/F\" target=\"P/S/F/A\" ui=nonnull progress=null flags=0x00000006 -> 0x00000000"));

        // The deleted folder is gone for every later call.
        ULONG type = 0;
        LPUNKNOWN gone = nullptr;
        CHECK(s.store->OpenEntry(static_cast<ULONG>(bid.size()), reinterpret_cast<LPENTRYID>(&bid[0]), nullptr, 1, &type, &gone) == MAPI_E_NOT_FOUND);
        b->Release();
        a->Release();
    }
    session->Logoff(0, 0, 0);
    session->Release();
    sim.Finish();
    CHECK(sim.Clean());
    CHECK(sim.Report().at("folders_deleted") == "1");

    // The next run reads the file as it was left.
    MapiSim next(sim.StoreText());
    LPMAPISESSION again = next.Logon("P");
    {
        OpenStore s(next, again, "S");
        LPMAPIFOLDER a = OpenChild(s.finder, "A");
        CHECK(a == nullptr);
        Release(a);
        LPMAPIFOLDER c = OpenChild(s.finder, "C");
        CHECK(c != nullptr);
        Release(c);
    }
    again->Logoff(0, 0, 0);
    again->Release();
}

TEST_CASE("the canonical form keeps every attribute and quotes what needs it")
{
    const std::string text =
        "mapi fail=QueryRows:0x80004005@3\n"
        "profile \"Anna Berg\" default fail=Logon:0x80040111\n"
        "  store \"a=b \\\"q\\\" c\\\\d\" default id=00FF10 missing=default,name\n"
        "    finder F fail=GetProps:0x8004010F@2 batch=5\n"
        "      folder Ü search class=IPF.Note\n"
        "      folder x\n"
        "        folder y search\n";
    mapisim::Model model;
    std::string error;
    REQUIRE(model.Parse(text, error));
    std::string canonical = model.Canonical();
    mapisim::Model again;
    REQUIRE(again.Parse(canonical, error));
    CHECK(again.Canonical() == canonical);
    CHECK(Contains(canonical, "store \"a=b \\\"q\\\" c\\\\d\" default id=00FF10 missing=default,name"));
    CHECK(Contains(canonical, "finder F fail=GetProps:0x8004010F@2 batch=5"));
    CHECK(Contains(canonical, "folder Ü search class=IPF.Note"));
    CHECK(Contains(canonical, "mapi fail=QueryRows:0x80004005@3"));
}

TEST_CASE("bad store files are refused with the line and what was expected")
{
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"profile P\n   store S\n", "line 2: indentation of 3 spaces"},
        {"profile P\n  shop S\n", "line 2: unknown keyword 'shop'"},
        {"profile \"P\n", "line 1: unterminated quote"},
        {"profile P\n  store S id=0G\n", "line 2: bad hex in id="},
        {"profile P\n  store S id=012\n", "line 2: bad hex in id=: odd number of digits"},
        {"store S\n", "line 1: 'store' must be indented"},
        {"profile P\n  store S\n    finder F\n    finder G\n", "line 4: a second finder"},
        {"profile P\n  store S fail=Open:0x1\n", "line 2: fail=Open is not a call of a store"},
        {"profile P\n  store S missing=parent\n", "line 2: missing=parent is not a property of a store"},
        {"profile P\n  store S id=01\n  store T id=01\n", "line 3: id=01 is used twice"},
        {"profile P\n  store S\n    finder F\n        folder G\n", "line 4: 'folder' must be indented one level"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.text);
        mapisim::Model model;
        std::string error;
        CHECK_FALSE(model.Parse(c.text, error));
        CHECK(Contains(error, c.error));

        // Served through MAPI: no profiles at all, and the reason in the report.
        MapiSim sim(c.text);
        LPPROFADMIN admin = nullptr;
        REQUIRE(MAPIAdminProfiles(0, &admin) == S_OK);
        LPMAPITABLE table = nullptr;
        admin->GetProfileTable(0, &table);
        LPSRowSet rows = nullptr;
        REQUIRE(table->QueryRows(10, 0, &rows) == S_OK);
        CHECK(rows->cRows == 0);
        FreeRowSet(rows);
        table->Release();
        admin->Release();
        sim.Finish();
        CHECK(Contains(sim.ReportText(), std::string("error=") + c.error));
    }
}

TEST_CASE("the report names what a client left behind")
{
    MapiSim sim(kStore);
    LPPROFADMIN admin = nullptr;
    MAPIAdminProfiles(0, &admin);
    LPMAPITABLE table = nullptr;
    admin->GetProfileTable(0, &table);
    admin->Release();
    void* block = nullptr;
    REQUIRE(MAPIAllocateBuffer(100, &block) == S_OK);
    void* more = nullptr;
    REQUIRE(MAPIAllocateMore(50, block, &more) == S_OK);
    void* freed = nullptr;
    REQUIRE(MAPIAllocateBuffer(10, &freed) == S_OK);
    MAPIFreeBuffer(freed);
    MAPIFreeBuffer(nullptr);
    LPMAPISESSION session = sim.Logon("Mail");  // neither logged off nor released
    sim.Finish();
    CHECK(sim.Report().at("live_objects") == "2");
    CHECK(sim.Report().at("live_allocations") == "1");
    CHECK(sim.Report().at("sessions_open") == "1");
    CHECK(Contains(sim.Report().at("leaks"), "leak object=IMAPITable table=\"profiles\""));
    CHECK(Contains(sim.Report().at("leaks"), "leak allocation size=100"));
    table->Release();
    MAPIFreeBuffer(block);
    session->Logoff(0, 0, 0);
    session->Release();
}

TEST_CASE("every call but AddRef, Release and MAPIFreeBuffer is logged; allocations need MAPIInitialize")
{
    MapiSim sim("profile P default\n  store S default\n");
    LPMAPISESSION session = sim.Logon("P");
    REQUIRE(session);
    LPUNKNOWN unknown = nullptr;
    CHECK(session->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)) == S_OK);
    unknown->Release();
    LPADRBOOK book = nullptr;
    CHECK(session->OpenAddressBook(0, nullptr, 0, &book) == MAPI_E_NO_SUPPORT);
    LPMAPITABLE table = nullptr;
    REQUIRE(session->GetMsgStoresTable(0, &table) == S_OK);
    ULONG rows = 0;
    CHECK(table->GetRowCount(0, &rows) == S_OK);
    CHECK(rows == 1);
    table->Release();
    void* block = nullptr;
    void* more = nullptr;
    CHECK(MAPIAllocateBuffer(16, &block) == S_OK);
    CHECK(MAPIAllocateMore(8, block, &more) == S_OK);
    MAPIFreeBuffer(block);
    session->Logoff(0, 0, 0);
    session->Release();
    sim.Finish();
    CHECK(MAPIAllocateBuffer(16, &block) == MAPI_E_NOT_INITIALIZED);
    CHECK(MAPIAllocateMore(8, block, &more) == MAPI_E_NOT_INITIALIZED);
    MAPIUninitialize();
    std::vector<std::string> expected = {
        "QueryInterface interface=IMAPISession session=N profile=\"P\" -> 0x00000000",
        "OpenAddressBook interface=IMAPISession session=N profile=\"P\" -> 0x80040102",
        "GetRowCount table=\"P:stores\" flags=0x00000000 -> 0x00000000",
        "MAPIAllocateBuffer size=16 -> 0x00000000",
        "MAPIAllocateMore size=8 parent=nonnull -> 0x00000000",
        "MAPIAllocateBuffer size=16 -> 0x80040605",
        "MAPIAllocateMore size=8 parent=nonnull -> 0x80040605",
        "MAPIUninitialize count=0 -> 0x80040605",
    };
    std::vector<std::string> seen;
    for (std::string line : sim.LogLines()) {
        size_t at = line.find("session=");  // sessions are numbered for the whole process
        if (at != std::string::npos) line.replace(at + 8, line.find(' ', at) - at - 8, "N");
        for (const std::string& e : expected)
            if (line == e) seen.push_back(line);
    }
    CHECK(seen == expected);
}
