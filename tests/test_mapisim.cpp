// mapisim's contract where Korvane's own tests do not reach it: the report
// that every scenario relies on, the rules of deletion and its persistence,
// and the store format's errors.
#include <doctest/doctest.h>

#include <windows.h>
#include <mapix.h>

#include "Holders.h"
#include "MailData.h"
#include "Scenario.h"
#include "model.h"
#include "utlis.h"

namespace {

LPMAPISESSION Logon(const char* profile)
{
    LPMAPISESSION session = nullptr;
    MAPILogonEx(0, const_cast<LPSTR>(profile), nullptr, kLogonFlags, &session);
    return session;
}

} // namespace

TEST_CASE("the report counts and names what a client left behind")
{
    MapiSim sim("profile P default\n");
    Ref<IProfAdmin> admin;
    MAPIAdminProfiles(0, admin.Put());
    Ref<IMAPITable> table;
    admin->GetProfileTable(0, table.Put());
    void *block = nullptr, *more = nullptr, *freed = nullptr;
    MAPIAllocateBuffer(100, &block);
    MAPIAllocateMore(50, block, &more);
    MAPIAllocateBuffer(10, &freed);
    MAPIFreeBuffer(freed);
    SessionRef session(Logon("P"));
    MAPIUninitialize();  // with all of it still held
    std::string report = sim.ReportText();
    for (const char* line : {"live_objects=3\n", "live_allocations=1\n", "sessions_open=1\n",
                             "leak object=IMAPITable table=\"profiles\"", "leak allocation size=100"})
        CHECK(Contains(report, line));
    CHECK(MAPIAllocateBuffer(16, &freed) == MAPI_E_NOT_INITIALIZED);
    MAPIInitialize(nullptr);  // for the holders' releases, then the fixture's end
    MAPIFreeBuffer(block);
}

TEST_CASE("DeleteFolder deletes direct sub-folders only, a non-empty one with DEL_FOLDERS, and replaces the file")
{
    const std::string text = "# a comment that the canonical form drops\n"
                             "profile P default\n  store S\n    finder F\n      folder A id=0A\n        folder B search id=0B\n      folder C search\n";
    MapiSim sim(text);
    {
        SessionRef session(Logon("P"));
        std::vector<StoreRow> stores;
        REQUIRE(ReadStores(session.Get(), stores) == S_OK);
        Ref<IMsgStore> store;
        Ref<IMAPIFolder> finder;
        REQUIRE(session->OpenMsgStore(0, ULONG(stores[0].entryId.size()), LPENTRYID(&stores[0].entryId[0]), nullptr, 0x84, store.Put()) == S_OK);
        REQUIRE(GetFinder(store.Get(), finder.Put()) == S_OK);
        std::string a = "\x0A", b = "\x0B";
        auto fileIndex = [&] {
            HANDLE file = CreateFileA(sim.storePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            BY_HANDLE_FILE_INFORMATION info = {};
            GetFileInformationByHandle(file, &info);
            CloseHandle(file);
            return info.nFileIndexLow;
        };
        DWORD before = fileIndex();
        CHECK(finder->DeleteFolder(ULONG(b.size()), LPENTRYID(&b[0]), 0, nullptr, 6) == MAPI_E_NOT_FOUND);
        CHECK(finder->DeleteFolder(ULONG(a.size()), LPENTRYID(&a[0]), 0, nullptr, 0) == MAPI_E_HAS_FOLDERS);
        CHECK(sim.StoreText() == text);
        CHECK(finder->DeleteFolder(ULONG(a.size()), LPENTRYID(&a[0]), 0, nullptr, 6) == S_OK);
        CHECK(fileIndex() != before);  // a new file renamed over the old one, never rewritten in place
        CHECK(sim.StoreText() == "profile P default\n  store S\n    finder F\n      folder C search\n");
        ULONG type = 0;
        Ref<IUnknown> gone;
        CHECK(store->OpenEntry(ULONG(b.size()), LPENTRYID(&b[0]), nullptr, 1, &type, gone.Put()) == MAPI_E_NOT_FOUND);
    }
    CHECK(sim.Finish());
    CHECK(Contains(sim.ReportText(), "folders_deleted=1\n"));
}

TEST_CASE("bad store files are refused with the line and what was expected, and serve no profiles")
{
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"profile P\n   store S\n", "line 2: indentation of 3 spaces"},
        {"profile \"P\n", "line 1: unterminated quote"},
        {"profile P\n  store S id=012\n", "line 2: bad hex in id=: odd number of digits"},
        {"profile P\n  store S\n    finder F\n    finder G\n", "line 4: a second finder"},
        {"profile P\n  store S fail=Open:0x1\n", "line 2: fail=Open is not a call of a store"},
        {"profile P\n  store S id=01\n  store T id=01\n", "line 3: id=01 is used twice"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.text);
        mapisim::Model model;
        std::string error;
        CHECK_FALSE(model.Parse(c.text, error));
        CHECK(Contains(error, c.error));
    }
    MapiSim sim(cases[0].text);
    std::vector<ProfileRow> profiles;
    CHECK(ReadProfiles(profiles) == S_OK);
    CHECK(profiles.empty());
    CHECK(sim.Finish());
    CHECK(Contains(sim.ReportText(), std::string("error=") + cases[0].error));
}
