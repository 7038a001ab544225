// Fault campaign: for each seed, a random store with random failures and missing properties, and one
// whole session of Korvane in-process: expand each profile, select each store, select all, delete,
// collapse, close with a session held. Each run must leave mapisim's report clean and the heap as it
// was, list only search folders without a container class, and delete nothing not listed and selected.
// krvn's deep scan must list what the walk lists on the same store without its faults, however the
// provider serves its deep table.
#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <random>
#include <set>

#include "AppContext.h"
#include "MailData.h"
#include "StoreScan.h"
#include "Support.h"
#include "resource.h"
#include "trace.h"

namespace {

const char* const kFailures[] = {"0x80004005", "0x8004010F", "0x80040115", "0x8007000E",
                                 "0x80070005", "0x80040102", "0x80040111", "0x8004010E"};

struct Generator {
    std::mt19937 rng;
    bool faults;           // without: the same store, every draw made all the same
    std::string provider;  // attributes of every finder's deep table
    int nextFolder;

    int Pick(int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); }
    bool Chance(int percent) { return Pick(100) < percent; }
    std::string Faults(const std::vector<const char*>& calls, int percent)
    {
        std::string out;
        for (; Chance(percent); percent /= 2) {
            out += std::string(" fail=") + calls[Pick(int(calls.size()))] + ":" + kFailures[Pick(8)];
            if (Chance(50)) out += "@" + std::to_string(1 + Pick(3));
        }
        return faults ? out : "";
    }
    std::string Missing(const std::vector<const char*>& names, int percent)
    {
        return Chance(percent) ? std::string(" missing=") + names[Pick(int(names.size()))] : "";
    }
    void Folders(std::string& out, int level, int depth, int& budget)
    {
        for (int i = 0, count = Pick(6); i < count && budget > 0; ++i, --budget) {
            bool search = Chance(55);
            int id = nextFolder++;
            // Without faults, names also hold "/" or run longer than a table row keeps.
            int odd = Pick(12);
            std::string name = (faults || odd > 1 ? "" : odd ? "a/b" : std::string(300, 'n')) + "f" + std::to_string(id);
            char hex[16];
            snprintf(hex, sizeof(hex), " id=%08X", id);
            out += std::string(2 * level, ' ') + "folder \"" + name + "\"" + (search ? " search" : "") + hex;
            if (Chance(20)) out += " class=IPF.Note";
            out += Faults({"Open", "GetProps", "GetHierarchyTable", "SetColumns", "QueryRows", "DeleteFolder"}, 12);
            out += Missing({"name", "entryid", "foldertype", "parent"}, 6);
            if (Chance(10)) out += " batch=" + std::to_string(1 + Pick(3));
            out += "\n";
            if (!search && depth > 0) Folders(out, level + 1, depth - 1, budget);
        }
    }
    std::string Store()
    {
        std::string out;
        if (Chance(10)) out += "mapi" + Faults({"MAPIAdminProfiles", "GetProfileTable", "SetColumns", "QueryRows"}, 100) + "\n";
        for (int p = 0, profiles = 1 + Pick(3); p < profiles; ++p) {
            out += "profile p" + std::to_string(p) + (p == 0 ? " default" : "") +
                   Faults({"Logon", "GetMsgStoresTable", "SetColumns", "QueryRows"}, 10) + Missing({"name", "default"}, 4) + "\n";
            for (int s = 0, stores = Pick(4); s < stores; ++s) {
                out += "  store s" + std::to_string(s) + (s == 0 ? " default" : "") +
                       Faults({"OpenMsgStore", "GetProps", "OpenEntry"}, 10) + Missing({"name", "entryid", "default", "finder"}, 4) + "\n";
                if (!Chance(85)) continue;
                char finderId[16];  // short, so that a table cutting its rows short still carries it whole
                snprintf(finderId, sizeof(finderId), " id=F0%04X", nextFolder);
                out += "    finder F" + (faults ? "" : std::string(finderId)) + provider + Faults({"Open", "GetProps", "GetHierarchyTable", "SetColumns", "QueryRows"}, 8) +
                       Missing({"name", "entryid", "foldertype", "parent"}, 3) + (Chance(10) ? " batch=2" : "") + "\n";
                int budget = 40;
                Folders(out, 3, 3, budget);
            }
        }
        return out;
    }
};

// The entry identifiers of the folders in a store file.
std::set<std::string> FolderIds(const std::string& text, bool listableOnly = false)
{
    std::set<std::string> ids;
    for (const StoreFolder& folder : StoreFolders(text))
        if (folder.listable || !listableOnly) ids.insert(folder.id);
    return ids;
}

// What the deep scan lists otherwise than the walk, as words for the campaign's log ("" when it keeps
// the rule): the same records where the walk met no damage; where it did, every record the walk lists
// and only listable folders besides.
std::string DeepScanDiffers(unsigned seed)
{
    const char* const providers[] = {"", " depthbase=0", " deeporder=breadth", " deeporder=reverse", " tablecut=255",
                                     " nodeep=0x80040102", " tablecut=6"};
    std::string provider = providers[seed % 7], text = Generator{std::mt19937(seed), false, provider, 1}.Store();
    std::set<std::string> listable = FolderIds(text, true);
    MapiSim sim(text, false);
    std::vector<ProfileRow> profiles;
    ReadProfiles(profiles);
    std::string failures;
    for (const ProfileRow& profile : profiles) {
        SessionRef session;
        std::vector<StoreRow> stores;
        if (FAILED(Logon(profile, session)) || FAILED(ReadStores(session.Get(), stores))) continue;
        for (const StoreRow& store : stores) {
            if (!store.hasEntryId) continue;
            std::set<std::wstring> records[2];
            bool damaged[2];
            for (int deep = 0; deep < 2; ++deep) {
                std::vector<Found> found;
                std::vector<Damage> damage;
                Collector collector(found, damage, 0, nullptr);
                ScanStep step;
                HRESULT hr = ScanStoreFast(session.Get(), store.entryId, collector, &step, deep == 0);
                damaged[deep] = FAILED(hr) || !damage.empty();
                for (const Found& f : found) {
                    records[deep].insert(f.name + L"|" + PathText(f.holders) + L"|" + std::wstring(f.entryId.begin(), f.entryId.end()));
                    if (deep && !listable.count(f.entryId)) failures += " deep_scan_unlistable(" + profile.ansiName + provider + ")";
                }
            }
            bool superset = std::includes(records[1].begin(), records[1].end(), records[0].begin(), records[0].end());
            if (damaged[0] ? !superset : damaged[1] || records[0] != records[1])
                failures += " deep_scan(" + profile.ansiName + provider + ")";
        }
    }
    sim.Finish();
    return failures;
}

std::string RunSeed(unsigned seed)
{
    std::string text = Generator{std::mt19937(seed), true, "", 1}.Store(), failures;
    std::set<std::string> before = FolderIds(text), listable = FolderIds(text, true);
    std::vector<std::string> chosen;
    chosen.reserve(100000);  // before the heap's count starts
    MapiSim sim(text);
    unsigned heapMark = HeapMark();
    long badFrees = BadFrees();
    bool wrongListing = false;
    {
        MainWindow ui;
        std::vector<TreeItem> profiles = TreeChildren(ui.tree);
        for (const TreeItem& profile : profiles) {
            ui.Expand(profile.item);
            for (const TreeItem& store : TreeChildren(ui.tree, profile.item)) {
                ui.Select(store.item);
                ui.Command(IDC_SELECT_ALL);
                for (const ListRow& row : ListRows(ui.list)) {
                    const SBinary* record = reinterpret_cast<const SBinary*>(row.data);
                    std::string id = record ? std::string(reinterpret_cast<const char*>(record->lpb), record->cb) : "";
                    wrongListing |= record && !listable.count(id);
                    if (row.selected) chosen.push_back(id);
                }
                ui.Command(IDC_DELETE);
            }
            ui.Collapse(profile.item);
        }
        // Expand again and close with a session held, as a user closing the tool would.
        if (!profiles.empty()) ui.Expand(profiles[0].item);
        ui.Command(IDCANCEL);
    }
    long left = LiveSince(heapMark), doubleFrees = BadFrees() - badFrees;
    if (left || doubleFrees) failures += " heap(left " + std::to_string(left) + ", bad frees " + std::to_string(doubleFrees) + ")";
    if (!sim.Finish()) failures += " leak(" + sim.ReportText() + ")";
    if (wrongListing) failures += " wrong_listing";
    std::set<std::string> after = FolderIds(sim.StoreText());
    for (const std::string& id : before)
        if (!after.count(id) && (std::find(chosen.begin(), chosen.end(), id) == chosen.end() || !listable.count(id)))
            failures += " wrong_deletion";
    failures += DeepScanDiffers(seed);
    for (const std::string& path : {sim.storePath, sim.logPath, sim.reportPath}) DeleteFileA(path.c_str());
    return failures;
}

DWORD g_seedStart = 0;
unsigned g_currentSeed = 0;

DWORD WINAPI Watchdog(LPVOID limit)
{
    for (;; Sleep(1000))
        if (g_seedStart && GetTickCount() - g_seedStart > DWORD(reinterpret_cast<ULONG_PTR>(limit)) * 1000) {
            printf("HANG seed=%u\n", g_currentSeed);
            fflush(stdout);
            ExitProcess(3);
        }
}

} // namespace

// faults.exe [--first N] [--seeds N] [--limit SECONDS] [--progress FILE]
int main(int argc, char** argv)
{
    unsigned first = 1, seeds = 50, limit = 60;
    const char* progress = nullptr;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        unsigned value = static_cast<unsigned>(atoi(argv[i + 1]));
        if (option == "--first") first = value;
        else if (option == "--seeds") seeds = value;
        else if (option == "--limit") limit = value;
        else if (option == "--progress") progress = argv[i + 1];
    }
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
    InitCommonControlsEx(&controls);
    g_app.Init(GetModuleHandleA(nullptr));
    TraceSetLevel(TRACE_ERROR);  // call lines would go to the debugger channel for every MAPI call
    CreateThread(nullptr, 0, Watchdog, reinterpret_cast<LPVOID>(ULONG_PTR(limit)), 0, nullptr);
    MakeLastingStructures();

    int failed = 0;
    for (unsigned seed = first; seed < first + seeds; ++seed) {
        g_currentSeed = seed;
        if (progress) WriteTextFile(progress, std::to_string(seed) + "\n");
        g_seedStart = GetTickCount();
        std::string failures = RunSeed(seed);
        g_seedStart = 0;
        if (!failures.empty()) {
            ++failed;
            printf("FAIL seed=%u%s\n", seed, failures.c_str());
        }
        fflush(stdout);
    }
    printf("RESULT runs=%u failed=%d\n", seeds, failed);
    g_app.Term();
    CoUninitialize();
    return failed ? 1 : 0;
}
