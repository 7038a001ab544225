// The way back, proven by chance. For one seed: a random store (profiles, stores, holders nested up to
// six levels, up to 200 search folders with names, comments and criteria of every shape), random faults
// and choices; krvn delete as a process (sometimes two at once into one backup, sometimes onto a disk
// that fills), then the faults cleared and krvn restore, twice. After it, the promise is checked: nothing
// missing that was not selected and reported deleted, each deleted folder in the backup and made again
// as it was, the exit codes and the audit log as the README says, mapisim's report clean.
// faults_wayback.exe --seed N [--work DIR] [--full DIR]   (prints one line per violation, then RESULT)
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <set>

#include <nlohmann/json.hpp>

#include "Support.h"
#include "model.h"
#include "restriction.h"

namespace {

using Json = nlohmann::json;
const char* const kFailures[] = {"0x80004005", "0x80070005", "0x8004010F", "0x80040115"};

struct Random {
    std::mt19937 rng;
    int Pick(int n) { return n <= 0 ? 0 : static_cast<int>(rng() % static_cast<unsigned>(n)); }
    bool Chance(int percent) { return Pick(100) < percent; }
    template <class T> const T& Of(const std::vector<T>& items) { return items[Pick(static_cast<int>(items.size()))]; }
    std::string Hr() { return kFailures[Pick(4)]; }
};

std::string Lower(const std::string& utf8)
{
    std::wstring wide = mapisim::Utf16FromUtf8(utf8);
    CharLowerBuffW(&wide[0], static_cast<DWORD>(wide.size()));
    return mapisim::Utf8FromWide(wide.c_str());
}

std::string HexOf(const std::string& bytes)
{
    std::string out;
    char digit[4];
    for (unsigned char c : bytes) snprintf(digit, sizeof(digit), "%02X", c), out += digit;
    return out;
}

// Draws a store file: |clean| as the store is, |faulty| the same with the faults of the deletion's run.
struct StoreDraw {
    Random& r;
    std::string clean, faulty;
    std::set<std::string> ids;
    int serial = 0, searchFolders = 0;

    void Line(int level, const std::string& text, const std::string& faults = std::string())
    {
        clean += std::string(2 * level, ' ') + text + "\n";
        faulty += std::string(2 * level, ' ') + text + faults + "\n";
    }
    std::string Id()
    {
        if (!r.Chance(60)) return "";  // mapisim makes one
        std::string id;
        do {
            id.clear();
            for (int i = 0, n = 1 + r.Pick(20); i < n; ++i) id += static_cast<char>(r.Pick(256));
        } while (!ids.insert(id).second);
        return " id=" + HexOf(id);
    }
    std::string Fail(int percent, const std::vector<const char*>& calls, bool nth = false)
    {
        if (!r.Chance(percent)) return "";
        std::string call = r.Of(calls), hr = call == std::string("DeleteFolder") && r.Chance(40) ? "0x00040680" : r.Hr();
        return " fail=" + call + ":" + hr + (nth && r.Chance(60) ? "@" + std::to_string(1 + r.Pick(3)) : "");
    }
    // Names in ASCII and beyond, some longer than a table row keeps, some in another's case.
    std::string Name(const std::set<std::string>& taken, const std::vector<std::string>& elsewhere)
    {
        static const std::vector<std::string> stems = {
            "Search", "CRM Search", "Cache", "\xD0\x9F\xD0\xBE\xD0\xB8\xD1\x81\xD0\xBA", "\xE6\x90\x9C\xE7\xB4\xA2", "\xD7\x97\xD7\x99\xD7\xA4\xD7\x95\xD7\xA9",
            "\xF0\x9F\x98\x80 Suche", "a/b", "Tab\tund", "q\"uo\\te", "In\xE2\x80\x8B" "box", "Gro\xC3\x9F"};
        for (;;) {
            std::string name = !elsewhere.empty() && r.Chance(15) ? r.Of(elsewhere) : r.Of(stems) + " " + std::to_string(++serial);
            if (r.Chance(5)) name += " " + std::string(250 + r.Pick(20), 'n');
            if (r.Chance(20)) {  // the same name in another case
                std::wstring wide = mapisim::Utf16FromUtf8(name);
                r.Chance(50) ? CharUpperBuffW(&wide[0], static_cast<DWORD>(wide.size())) : CharLowerBuffW(&wide[0], static_cast<DWORD>(wide.size()));
                name = mapisim::Utf8FromWide(wide.c_str());
            }
            if (!taken.count(Lower(name))) return name;
        }
    }
    std::string Text()
    {
        static const std::vector<std::string> texts = {"invoice", "a \\\"quoted\\\" \\\\ word", "\xD0\xA1\xD1\x87\xD1\x91\xD1\x82", "\xF0\x9F\x93\x8E", ""};
        return "\"" + r.Of(texts) + "\"";
    }
    // A restriction of the store file's language, of every shape, nested up to eight levels.
    std::string Restriction(int depth)
    {
        static const std::vector<std::string> strings = {"subject", "class", "sender", "to", "body", "attachment_name", "address", "0x1234001F"},
                                              longs = {"flags", "importance", "message_size", "flag_status", "0x12340003"},
                                              times = {"received", "sent", "modified", "0x12340040"},
                                              ops = {"<", "<=", ">", ">=", "=", "!=", "like"}, any = {"subject", "flags", "received", "has_attachments"};
        switch (r.Pick(depth < 8 ? 10 : 6)) {
        case 0: {
            std::string fuzzy = r.Of(std::vector<std::string>{"full", "substring", "prefix"});
            if (r.Chance(50)) fuzzy += "|ignorecase";
            if (r.Chance(30)) fuzzy += "|loose";
            return r.Chance(15) ? "content(0x0037001E, \"ansi " + std::to_string(r.Pick(99)) + "\", " + fuzzy + ")"
                                : "content(" + r.Of(strings) + ", " + Text() + ", " + fuzzy + ")";
        }
        case 1:
            switch (r.Pick(5)) {
            case 0: return "prop(" + r.Of(strings) + " " + r.Of(ops) + " " + Text() + ")";
            case 1: return "prop(" + r.Of(longs) + " " + r.Of(ops) + " " + std::to_string(r.Pick(2000) - 1000) + ")";
            case 2: return "prop(has_attachments = " + std::string(r.Chance(50) ? "true" : "false") + ")";
            case 3: return "prop(" + r.Of(times) + " < 20" + std::to_string(10 + r.Pick(20)) + "-0" + std::to_string(1 + r.Pick(9)) + "-1" +
                           std::to_string(r.Pick(10)) + "T12:34:56Z)";
            default: return "prop(0x12340102 = bin:" + HexOf(std::string(r.Pick(4), '\x5A')) + ")";
            }
        case 2: return "compare(" + r.Of(any) + " " + r.Of(ops) + " " + r.Of(any) + ")";
        case 3: return "bitmask(flags, " + std::string(r.Chance(50) ? "eqz" : "nez") + ", 0x0000000" + std::to_string(1 + r.Pick(8)) + ")";
        case 4: return "size(" + r.Of(any) + " " + r.Of(ops) + " " + std::to_string(r.Pick(100000)) + ")";
        case 5: return "exist(" + r.Of(any) + ")";
        case 6: case 7: {
            std::string out = r.Chance(50) ? "and(" : "or(";
            for (int i = 0, n = 1 + r.Pick(3); i < n; ++i) out += (i ? ", " : "") + Restriction(depth + 1);
            return out + ")";
        }
        case 8: return "not(" + Restriction(depth + 1) + ")";
        default: return "sub(" + std::string(r.Chance(50) ? "recipients" : "attachments") + ", " + Restriction(depth + 1) + ")";
        }
    }
    // The folders below |path| (the finder's, or a holder's), up to six levels of holders.
    void Folders(int level, const std::string& path, bool scopable, std::vector<std::string>& holders, std::vector<std::string>& elsewhere)
    {
        std::set<std::string> taken;  // a search folder's name is its parent's only one, in any case
        std::string lastHolder;
        for (int i = 0, n = 1 + r.Pick(8); i < n && searchFolders < 200; ++i) {
            bool search = level > 3 + 5 || r.Chance(65);
            // Holders may share a name with a holder sibling (such a twin stays empty, so that no path
            // names two folders of which one goes); a search folder never does.
            bool twin = !search && !lastHolder.empty() && r.Chance(15);
            std::string name = twin ? lastHolder : Name(taken, elsewhere);
            taken.insert(Lower(name));
            elsewhere.push_back(name);
            std::string line = "folder " + mapisim::QuoteIfNeeded(name) + (search ? " search" : "") + Id();
            if (!search) {
                lastHolder = name;
                Line(level, line, Fail(3, {"Open", "GetHierarchyTable", "QueryRows"}));
                bool canScope = scopable && name.find_first_of("/;") == std::string::npos;
                if (canScope) holders.push_back(path + "/" + name);
                if (!twin && r.Chance(60)) Folders(level + 1, path + "/" + name, canScope, holders, elsewhere);
                continue;
            }
            ++searchFolders;
            if (r.Chance(10)) line += " class=IPF.Note";  // the mail client's own: never listed
            if (r.Chance(50)) line += " comment=" + mapisim::QuoteIfNeeded(r.Of(std::vector<std::string>{"", "a comment", "\xD0\x9A\xD0\xBE\xD0\xBC \xF0\x9F\x98\x80", std::string(300, 'c')}));
            if (r.Chance(50)) line += r.Chance(50) ? " modified=1995-05-05T00:00:00Z" : " modified=2090-01-01T00:00:00Z";
            if (r.Chance(50)) line += " items=" + std::to_string(r.Pick(3));
            if (r.Chance(85)) {  // else its criteria were never set
                line += " criteria=" + mapisim::QuoteIfNeeded(Restriction(1));
                std::string scope;
                for (int s = 0, count = r.Pick(4); s < count && !holders.empty(); ++s) scope += (scope.empty() ? "" : ";") + r.Of(holders);
                if (!scope.empty()) line += " scope=" + mapisim::QuoteIfNeeded(scope);
                if (r.Chance(70)) line += " searchflags=0x" + std::string(1, "014589CD"[r.Pick(8)]);
            }
            Line(level, line, Fail(6, {"Open", "GetSearchCriteria", "DeleteFolder", "DeleteFolder"}));
        }
    }
    void Draw()
    {
        for (int p = 0, profiles = 1 + r.Pick(3); p < profiles; ++p) {
            Line(0, "profile " + mapisim::QuoteIfNeeded(p == 2 ? "\xD0\x9F\xD1\x80\xD0\xBE\xD1\x84\xD0\xB8\xD0\xBB\xD1\x8C" : "P" + std::to_string(p)) +
                        (p == 0 ? " default" : ""));
            static const std::vector<std::string> stores = {"Mailbox - Anna Berg", "Archive 2019", "\xD0\x9F\xD0\xBE\xD1\x87\xD1\x82\xD0\xB0",
                                                            "A store of a name longer than its row holds"};
            for (int s = 0, count = 1 + r.Pick(3); s < count; ++s) {
                std::string line = "store " + mapisim::QuoteIfNeeded(stores[(s + p) % stores.size()]) + (s == 0 ? " default" : "") + Id();
                if (r.Chance(20)) line += " rowlimit=" + std::to_string(8 + r.Pick(50));  // long strings refused in rows
                Line(1, line, Fail(8, {"OpenMsgStore", "OpenMsgStore", "OpenEntry"}, true));
                std::vector<std::string> holders = {"Inbox", "Projects"}, elsewhere;
                Line(2, "folder Inbox" + Id());
                Line(2, "folder Projects" + Id());
                Line(2, "finder F" + Id() + (r.Chance(10) ? " tablecut=" + std::string(r.Chance(50) ? "6" : "255") : ""));
                Folders(3, "F", true, holders, elsewhere);
            }
        }
    }
};

// A Windows command-line argument that CommandLineToArgvW reads back as |text|.
std::string Arg(const std::string& text)
{
    std::string out = "\"";
    size_t slashes = 0;
    for (char c : text) {
        if (c == '\\') {
            ++slashes;
            continue;
        }
        out.append(c == '"' ? slashes * 2 + 1 : slashes, '\\');
        out += c;
        slashes = 0;
    }
    return out.append(slashes * 2, '\\') + "\"";
}

// Whole-name patterns with * and ?, any case, as krvn's --name reads them (written here anew).
bool Matches(const std::wstring& pattern, const std::wstring& name, size_t p = 0, size_t n = 0)
{
    if (p == pattern.size()) return n == name.size();
    if (pattern[p] == L'*') return Matches(pattern, name, p + 1, n) || (n < name.size() && Matches(pattern, name, p, n + 1));
    return n < name.size() && (pattern[p] == L'?' || CompareStringOrdinal(&pattern[p], 1, &name[n], 1, TRUE) == CSTR_EQUAL) &&
           Matches(pattern, name, p + 1, n + 1);
}

// One folder of a store file, as the checks see it.
struct Folder {
    const mapisim::Node* node;
    std::string profile, store, storeId, id;
};

// Every folder below the finders of |model|, by entry identifier.
std::map<std::string, Folder> FoldersOf(const mapisim::Model& model)
{
    std::map<std::string, Folder> out;
    for (const mapisim::Node* profile : model.profiles())
        for (const mapisim::Node* store : profile->children) {
            std::vector<const mapisim::Node*> stack;
            if (store->finder) stack.assign(store->finder->children.begin(), store->finder->children.end());
            while (!stack.empty()) {
                const mapisim::Node* node = stack.back();
                stack.pop_back();
                out[node->id] = {node, profile->name, store->name, store->id, node->id};
                stack.insert(stack.end(), node->children.begin(), node->children.end());
            }
        }
    return out;
}

// What a store file holds, without what a restore makes anew (identifiers, times, counts) or faults:
// each object as its path and what defines it, in order.
std::vector<std::string> Shape(const std::string& text)
{
    mapisim::Model model;
    std::string error;
    if (!model.Parse(text, error)) return {"unreadable: " + error};
    std::vector<std::string> lines;
    std::function<void(const mapisim::Node*, const std::string&)> add = [&](const mapisim::Node* node, const std::string& above) {
        std::string path = above + "/" + node->name, line = path;
        if (node->isDefault) line += " default";
        if (node->search) line += " search";
        if (node->hasClass) line += " class=" + node->containerClass;
        if (node->hasComment) line += " comment=" + node->comment;
        if (node->criteria) line += " criteria=" + mapisim::WriteRestriction(*node->criteria);
        for (const std::string& searched : node->scope) line += " scope=" + searched;
        if (node->search) line += " state=" + std::to_string(node->searchFlags);
        lines.push_back(line);
        for (const mapisim::Node* child : node->children) add(child, path);
        if (node->root)
            for (const mapisim::Node* child : node->root->children) add(child, path);
    };
    for (const mapisim::Node* profile : model.profiles()) add(profile, "");
    std::sort(lines.begin(), lines.end());
    return lines;
}

// Gives the object of identifier |id| in a store file that names every identifier the identifier |hex|.
void NewId(std::string& text, const std::string& id, const std::string& hex)
{
    std::string old = " id=" + HexOf(id);
    size_t at = text.find(old);
    while (at != std::string::npos && !strchr(" \n", text[at + old.size()])) at = text.find(old, at + 1);
    if (at != std::string::npos) text.replace(at + 4, old.size() - 4, hex);
}

bool FromHexText(const std::string& hex, std::string& bytes)
{
    bytes.clear();
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16));
    return hex.size() % 2 == 0;
}

std::string WithoutFaults(std::string text)
{
    for (size_t at; (at = text.find(" fail=")) != std::string::npos;) text.erase(at, text.find_first_of(" \n", at + 1) - at);
    return text;
}

// The records of a backup file: each line parsed, or null where it is no JSON object.
std::vector<Json> BackupLines(const std::string& text)
{
    std::vector<Json> lines;
    for (const std::string& line : SplitLines(text)) {
        if (line.empty()) continue;
        Json json = Json::parse(line, nullptr, false);
        lines.push_back(json.is_object() ? json : Json());
    }
    return lines;
}

// One krvn run of the seed, and what it left.
struct Run {
    std::string name, args, reportPath, logPath;
    ProcessRun process;
    Json out;  // its JSON output, or null
};

struct Seed {
    unsigned number;
    std::string work, full;
    Random r;
    std::vector<std::string> violations;
    int leaks = 0, hangs = 0, crashes = 0;

    void Violate(const std::string& invariant, const std::string& detail)
    {
        violations.push_back("invariant=" + invariant + ": " + detail.substr(0, 400));
    }

    // Runs krvn with each argument list at once, each with its own report and log; the faults of a run
    // are what the store file holds.
    void Krvn(std::vector<Run>& runs, const std::string& store)
    {
        std::vector<std::string> lines;
        std::vector<std::vector<std::string>> environments;
        for (Run& run : runs) {
            run.reportPath = work + "\\" + run.name + ".report";
            run.logPath = work + "\\" + run.name + ".log";
            DeleteFileA(run.reportPath.c_str());
            lines.push_back("\"" + ProgramFolder() + "krvn.exe\" " + run.args + " --format json --log " + Arg(run.logPath));
            environments.push_back({"MAPISIM_STORE=" + store, "MAPISIM_REPORT=" + run.reportPath});
        }
        std::vector<ProcessRun> ended = RunProcesses(lines, environments);
        for (size_t i = 0; i < runs.size(); ++i) {
            Run& run = runs[i];
            run.process = ended[i];
            run.out = Json::parse(run.process.out, nullptr, false);
            if (run.out.is_discarded()) run.out = Json();
            std::string report = ReadTextFile(run.reportPath);
            if (run.process.code == 99) ++hangs, Violate("hang", run.name + " did not end in 60 s: " + run.args);
            else if (run.process.code < 0 || run.process.code > 4) ++crashes, Violate("crash", run.name + " exit code " + std::to_string(run.process.code) + ": " + run.process.err);
            else {
                if (!Contains(report, "live_objects=0\nlive_allocations=0\nsessions_open=0\n") || !Contains(report, "\nmisuses=0\n"))
                    ++leaks, Violate("leak", run.name + ": " + report);
                CheckLog(run);
            }
        }
    }

    // The --log record agrees with the output: the exit code, the counts, the backup and each folder.
    void CheckLog(const Run& run)
    {
        std::vector<std::string> lines = SplitLines(ReadTextFile(run.logPath));
        Json record = lines.size() == 1 ? Json::parse(lines[0], nullptr, false) : Json();
        if (!record.is_object() || record["exit_code"] != run.process.code) return Violate("log", run.name + ": " + (lines.empty() ? "" : lines[0]));
        if (run.out.is_null()) return;
        for (const char* key : {"deleted", "failed", "not_reached", "backup", "backup_without_criteria", "restored", "exists"})
            if (run.out.contains(key) && record[key] != run.out[key]) return Violate("log", run.name + ": '" + key + "' differs from the output");
        const Json& folders = run.out["folders"];
        bool same = record["folders"].size() == folders.size();
        for (size_t i = 0; same && i < folders.size(); ++i)
            for (const char* key : {"entryid", "outcome", "hr", "reason"}) same &= record["folders"][i][key] == folders[i][key];
        if (!same) Violate("log", run.name + ": its folders differ from the output's");
    }

    // The exit code as the README gives it: 1 after a failure, else 3 where something was not reached, else 0.
    void CheckExit(const Run& run, size_t unread)
    {
        if (run.out.is_null()) {
            if (run.process.code != 3 && run.process.code != 2) Violate("exit_code", run.name + " wrote no output, exit " + std::to_string(run.process.code));
            return;
        }
        size_t failed = 0;
        for (const Json& folder : run.out["folders"]) failed += folder["outcome"] == "failed";
        int expected = failed ? 1 : unread ? 3 : 0;
        if (run.process.code != expected)
            Violate("exit_code", run.name + " exit " + std::to_string(run.process.code) + ", not " + std::to_string(expected) + ": " + run.process.err);
    }

    // Delete's command line: a profile, its stores, a selection, filters, --keep-going; the stores it reaches.
    // |profile| is chosen where it is empty.
    std::string Choose(const mapisim::Model& model, const std::map<std::string, Folder>& folders, std::string& profile,
                       std::set<std::string>& eligible, std::string& oneStore, std::string& oneStoreName)
    {
        const mapisim::Node* p = model.profiles()[r.Pick(static_cast<int>(model.profiles().size()))];
        for (const mapisim::Node* named : model.profiles())
            if (named->name == profile) p = named;
        profile = p->name;
        std::string args = "-p " + Arg(profile);
        std::set<std::string> stores;
        int how = p->children.empty() ? 0 : r.Pick(4);
        const mapisim::Node* store = how ? p->children[r.Pick(static_cast<int>(p->children.size()))] : nullptr;
        if (how == 0 || how == 3) {
            for (const mapisim::Node* s : p->children)
                if (how == 3 || s->isDefault) stores.insert(s->id);
            if (how == 3) args += " --all-stores";
        } else {
            stores.insert(store->id);
            args += how == 1 ? " -s " + Arg(Lower(store->name)) : " --store-id " + HexOf(store->id);
        }
        if (stores.size() == 1) {
            oneStore = *stores.begin();
            for (const mapisim::Node* s : p->children)
                if (s->id == oneStore) oneStoreName = s->name;
        }
        std::vector<const Folder*> candidates;
        for (const auto& f : folders)
            if (f.second.profile == profile && stores.count(f.second.storeId) && f.second.node->search && !f.second.node->hasClass)
                candidates.push_back(&f.second);
        std::vector<std::wstring> patterns;
        std::set<std::string> ids;
        int mode = candidates.empty() ? 0 : r.Pick(3);
        if (mode == 0) args += " --all";
        for (int i = 0, n = 1 + r.Pick(3); mode == 1 && i < n; ++i) {
            std::wstring name = mapisim::Utf16FromUtf8(r.Of(candidates)->node->name);
            if (name.find_first_of(L"\t\"*?") != std::wstring::npos || name.size() > 100) name = name.substr(0, 2) + L"*";
            else if (r.Chance(30)) name = name.substr(0, name.size() / 2) + L"*";
            else if (r.Chance(30)) CharUpperBuffW(&name[0], static_cast<DWORD>(name.size()));
            patterns.push_back(name);
            args += " --name " + Arg(mapisim::Utf8FromWide(name.c_str()));
        }
        for (int i = 0, n = 1 + r.Pick(5); mode == 2 && i < n; ++i) {
            const std::string& id = r.Of(candidates)->id;
            ids.insert(id);
            args += " --id " + (r.Chance(30) ? Lower(HexOf(id)) : HexOf(id));
        }
        bool older = r.Chance(10), empty = r.Chance(10);
        if (older) args += " --older-than " + std::to_string(r.Chance(50) ? 0 : 365);
        if (empty) args += " --empty";
        if (r.Chance(50)) args += " --keep-going";
        for (const Folder* c : candidates) {
            bool named = patterns.empty();
            for (const std::wstring& pattern : patterns) named |= Matches(pattern, mapisim::Utf16FromUtf8(c->node->name));
            if ((mode == 2 ? ids.count(c->id) != 0 : named) && (!older || (c->node->hasModified && c->node->modifiedText < "2000")) &&
                (!empty || c->node->items == 0))
                eligible.insert(c->id);
        }
        return args;
    }

    static void Empty(const std::string& folder)
    {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
        for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileA((folder + "\\" + found.cFileName).c_str());
        if (search != INVALID_HANDLE_VALUE) FindClose(search);
    }

    // Fills the small file system so that |room| bytes (whole pages) are left.
    void Fill(size_t room)
    {
        HANDLE filler = CreateFileA((full + "\\filler").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        std::string block(65536, 'x');
        DWORD written = 0;
        for (size_t size = block.size(); size >= 4096; size /= 2)
            while (WriteFile(filler, block.data(), static_cast<DWORD>(size), &written, nullptr) && written == size) {}
        LARGE_INTEGER length = {};
        GetFileSizeEx(filler, &length);
        length.QuadPart = std::max<LONGLONG>(0, length.QuadPart - static_cast<LONGLONG>(room));
        SetFilePointerEx(filler, length, nullptr, FILE_BEGIN);
        SetEndOfFile(filler);
        CloseHandle(filler);
    }

    void Play()
    {
        StoreDraw draw{r};
        draw.Draw();
        mapisim::Model before;  // read first in this process: its made identifiers are the ones krvn's mapisim makes
        std::string error;
        if (!before.Parse(draw.faulty, error)) return Violate("generator", "the store file is not one: " + error);
        std::map<std::string, Folder> folders = FoldersOf(before);
        const std::string store = work + "\\store.txt";
        WriteTextFile(store, draw.faulty);

        // The deletion: one run, or two at once into one backup; the backup sometimes on a disk that fills.
        bool onFull = !full.empty() && r.Chance(15);
        const std::string backup = (onFull ? full : work) + "\\b.jsonl";
        if (onFull) Empty(full);
        DeleteFileA(backup.c_str());
        std::string earlier = r.Chance(10) ? "{\"format\": \"krvn-backup\", \"version\": 1, \"na" : "";  // a line a crash cut short
        if (!earlier.empty()) WriteTextFile(backup, earlier);
        if (onFull) Fill(4096 * r.Pick(24));
        std::vector<Run> deletions(r.Chance(20) ? 2 : 1);
        std::vector<std::set<std::string>> chosen(deletions.size());
        std::set<std::string> eligible;
        std::string profile, oneStore, oneStoreName;
        for (size_t i = 0; i < deletions.size(); ++i) {  // two runs work in one profile, as one restore serves them
            std::string one, oneName;
            deletions[i].name = "delete" + std::to_string(i + 1);
            deletions[i].args = "delete " + Choose(before, folders, profile, chosen[i], i ? one : oneStore, i ? oneName : oneStoreName) +
                                " --backup " + Arg(backup);
            eligible.insert(chosen[i].begin(), chosen[i].end());
            if (i) oneStore.clear();  // the restore goes to the recorded stores
        }
        Krvn(deletions, store);
        std::string afterText = ReadTextFile(store);
        mapisim::Model after;
        std::map<std::string, Folder> left;
        if (afterText == draw.faulty) left = folders;  // nothing written: as it was (its made identifiers too)
        else if (after.Parse(afterText, error)) left = FoldersOf(after);
        else return Violate("store", "the store file after the deletion is unreadable: " + error);

        // Nothing missing that was not selected and reported deleted; nothing reported deleted still there.
        std::map<std::string, int> reported;
        for (size_t i = 0; i < deletions.size(); ++i) {
            const Run& run = deletions[i];
            size_t unread = run.out.is_null() ? 0 : run.out["incomplete"].size();
            CheckExit(run, unread);
            if (run.out.is_null()) continue;
            std::set<std::string> acted;
            for (const Json& f : run.out["folders"]) {
                acted.insert(f["entryid"].get<std::string>());
                if (f["outcome"] == "deleted") ++reported[f["entryid"].get<std::string>()];
            }
            // Alone on an undamaged store, a run acts on exactly what it was asked to.
            std::set<std::string> asked;
            for (const std::string& id : chosen[i]) asked.insert(HexOf(id));
            if (deletions.size() == 1 && !unread && acted != asked)
                Violate("selection", run.name + " acted on " + std::to_string(acted.size()) + " folders, not the " + std::to_string(asked.size()) + " selected");
            if (!run.out["backup"].is_null() && run.out["backup"] != backup) Violate("backup_named", run.name + " names " + run.out["backup"].dump());
        }
        std::vector<Json> records = BackupLines(ReadTextFile(backup).substr(earlier.size()));
        std::map<std::string, int> recorded;
        for (const Json& record : records) {
            if (record.is_null() || record["format"] != "krvn-backup") Violate("backup_record", "a line of the backup is no whole record");
            else ++recorded[record["entryid"].get<std::string>()];
        }
        for (const auto& f : folders) {
            std::string hex = HexOf(f.first);
            bool missing = !left.count(f.first);
            if (missing && !eligible.count(f.first)) Violate("wrong_deletion", "'" + f.second.node->name + "' (" + hex + ") was not selected, yet is gone");
            if (missing && !reported[hex]) Violate("unreported_deletion", "'" + f.second.node->name + "' (" + hex + ") is gone, yet no run says it deleted it");
            if (!missing && reported[hex]) Violate("deleted_still_there", "'" + f.second.node->name + "' (" + hex + ") is reported deleted");
            if (missing && (recorded[hex] < 1 || recorded[hex] > static_cast<int>(deletions.size())))
                Violate("backup_record", "'" + f.second.node->name + "' (" + hex + ") is gone with " + std::to_string(recorded[hex]) + " records");
        }

        // The faults cleared, sometimes the store made again under another identifier; then restore, twice.
        if (GetFileAttributesA(backup.c_str()) == INVALID_FILE_ATTRIBUTES) return;
        std::string restoreText = WithoutFaults(afterText), into;
        // (Only in a file mapisim wrote, which names every identifier: where some are made as it reads the
        // file, one more given would move the others.)
        if (!oneStore.empty() && afterText != draw.faulty && r.Chance(30)) {
            std::string newId = "BB" + HexOf(std::to_string(number));
            NewId(restoreText, oneStore, newId);
            into = r.Chance(50) ? " --store-id " + newId : " -s " + Arg(oneStoreName);
        }
        if (afterText != draw.faulty && r.Chance(15)) {  // a holder of a deleted folder made again: found by its path
            std::set<std::string> searched;  // (a folder another searches is left alone: the search would be gone)
            for (const auto& f : folders)
                for (const std::string& path : f.second.node->scope) searched.insert(f.second.node->store->path + "/" + path);
            for (const auto& f : folders) {
                const mapisim::Node* holder = f.second.node->parent;
                if (!left.count(f.first) && holder->kind == mapisim::Kind::Folder && !searched.count(holder->path)) {
                    NewId(restoreText, holder->id, "CC" + HexOf(std::to_string(number)));
                    break;
                }
            }
        }
        WriteTextFile(store, restoreText);
        std::vector<Run> restores(1);
        restores[0] = {"restore1", "restore --from " + Arg(backup) + " -p " + Arg(profile) + into + " --keep-going"};
        Krvn(restores, store);
        const Run& first = restores[0];
        for (const Json& f : first.out.is_null() ? Json::array() : first.out["folders"]) {
            if (f["outcome"] != "restored" && f["outcome"] != "exists") Violate("restore_outcome", f.dump());
            std::string made;  // a new identifier, never one an earlier folder had
            if (f["new_entryid"].is_string() && FromHexText(f["new_entryid"].get<std::string>(), made) && folders.count(made))
                Violate("restore_outcome", "a folder made again took an earlier folder's identifier: " + f.dump());
        }
        int expected = earlier.empty() ? 0 : 3;  // a line cut short is reported, and only it
        if (first.process.code != expected || first.out.is_null() || first.out["unreadable"].size() != (earlier.empty() ? 0u : 1u))
            Violate("restore_outcome", "exit " + std::to_string(first.process.code) + ": " + first.process.err);
        std::vector<std::string> want = Shape(draw.clean), got = Shape(ReadTextFile(store));
        if (got != want) {
            auto differs = std::mismatch(want.begin(), want.end(), got.begin(), got.end());
            Violate("not_restored", "first difference: want '" + (differs.first == want.end() ? "" : *differs.first) + "', have '" +
                                        (differs.second == got.end() ? "" : *differs.second) + "'");
        }
        std::string once = ReadTextFile(store);
        restores[0].name = "restore2";
        if (r.Chance(50)) restores[0].args += " --dry-run";  // which sees as much as a real run
        Krvn(restores, store);
        for (const Json& f : restores[0].out.is_null() ? Json::array() : restores[0].out["folders"])
            if (f["outcome"] != "exists") Violate("second_restore", f.dump());
        if (ReadTextFile(store) != once || restores[0].process.code != expected)
            Violate("second_restore", "it changed the store, or exit " + std::to_string(restores[0].process.code));
    }
};

} // namespace

int main(int argc, char** argv)
{
    unsigned seed = 1;
    std::string work, full;
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string option = argv[i];
        if (option == "--seed") seed = static_cast<unsigned>(strtoul(argv[i + 1], nullptr, 10));
        else if (option == "--work") work = argv[i + 1];
        else if (option == "--full") full = argv[i + 1];
    }
    if (work.empty()) work = TempPath("wayback");
    CreateDirectoryA(work.c_str(), nullptr);
    Seed run{seed, work, full, Random{std::mt19937(seed)}};
    try {
        run.Play();
    } catch (const std::exception& e) {  // output of a shape the checks did not expect
        run.Violate("output", e.what());
    }
    for (const std::string& violation : run.violations)
        printf("VIOLATION seed=%u %s\n  reproduce: make faults-wayback SEEDS=1 FIRST=%u\n", seed, violation.c_str(), seed);
    printf("RESULT seed=%u violations=%d crashes=%d hangs=%d leaks=%d\n", seed,
           static_cast<int>(run.violations.size()) - run.crashes - run.hangs - run.leaks, run.crashes, run.hangs, run.leaks);
    return run.violations.empty() ? 0 : 1;
}
