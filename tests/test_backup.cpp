// The backup before every deletion and krvn restore: krvn as a process against mapisim (a parent found by
// its path, or the record fails with its reason; nothing half made; nothing deleted that the backup could
// not make again; a corrupt line reported), and the restriction form in-process. Delete and restore on
// random stores, with faults and appends after a line cut short, are the way back's campaign's.
#include <doctest/doctest.h>

#include <windows.h>
#include <mapix.h>
#include <shlobj.h>

#include <algorithm>
#include <limits.h>
#include <math.h>
#include <stdio.h>

#include "Conversions.h"
#include "KrvnRun.h"
#include "RestrictionForm.h"
#include "model.h"

namespace {

// Everything a restriction holds, written out without the form's code: depth first, the operands on a stack.
std::string Describe(const SRestriction* root)
{
    auto bytes = [](const void* p, size_t n) {
        std::string out;
        char hex[4];
        for (size_t i = 0; i < n; ++i) snprintf(hex, sizeof(hex), "%02X", static_cast<const BYTE*>(p)[i]), out += hex;
        return out + " ";
    };
    auto element = [&](ULONG type, const void* v) -> std::string {  // one value of a type without MV_FLAG, at |v|
        switch (type) {
        case PT_I2: case PT_BOOLEAN: return bytes(v, 2);
        case PT_LONG: case PT_R4: case PT_ERROR: case PT_OBJECT: case PT_NULL: return bytes(v, 4);
        case PT_STRING8: return *static_cast<const LPSTR*>(v) ? std::string(*static_cast<const LPSTR*>(v)) + " " : "null ";
        case PT_UNICODE: {
            const wchar_t* text = *static_cast<const LPWSTR*>(v);
            return text ? bytes(text, wcslen(text) * 2) : "null ";
        }
        case PT_CLSID: return bytes(v, sizeof(GUID));
        case PT_BINARY: return bytes(static_cast<const SBinary*>(v)->lpb, static_cast<const SBinary*>(v)->cb);
        default: return bytes(v, 8);
        }
    };
    auto prop = [&](const SPropValue* p) -> std::string {
        if (!p) return "novalue ";
        ULONG type = PROP_TYPE(p->ulPropTag);
        std::string out = bytes(&p->ulPropTag, 4);
        if (type == PT_CLSID) return out + element(type, p->Value.lpguid);
        if (!(type & MV_FLAG)) return out + element(type, &p->Value);
        ULONG base = type & ~MV_FLAG, count = p->Value.MVi.cValues;
        size_t size = base == PT_I2 ? 2 : base == PT_LONG || base == PT_R4 ? 4 : base == PT_BINARY ? sizeof(SBinary)
                    : base == PT_CLSID ? 16 : base == PT_STRING8 || base == PT_UNICODE ? sizeof(void*) : 8;
        out += std::to_string(count) + ": ";
        for (ULONG i = 0; i < count; ++i) out += element(base, reinterpret_cast<const BYTE*>(p->Value.MVi.lpi) + i * size);
        return out;
    };
    std::string out;
    std::vector<const SRestriction*> pending = {root};
    while (!pending.empty()) {
        const SRestriction* r = pending.back();
        pending.pop_back();
        if (!r) {
            out += "null\n";
            continue;
        }
        out += std::to_string(r->rt) + ": ";
        switch (r->rt) {
        case RES_AND: case RES_OR:
            out += std::to_string(r->res.resAnd.cRes);
            for (ULONG i = r->res.resAnd.cRes; i-- > 0;) pending.push_back(r->res.resAnd.lpRes + i);
            break;
        case RES_NOT: case kResCount: out += std::to_string(r->res.resNot.ulReserved), pending.push_back(r->res.resNot.lpRes); break;
        case RES_SUBRESTRICTION: out += bytes(&r->res.resSub.ulSubObject, 4), pending.push_back(r->res.resSub.lpRes); break;
        case RES_COMMENT: case kResAnnotation:
            for (ULONG i = 0; i < r->res.resComment.cValues; ++i) out += prop(r->res.resComment.lpProp + i);
            pending.push_back(r->res.resComment.lpRes);
            break;
        case RES_CONTENT: out += bytes(&r->res.resContent, 8) + prop(r->res.resContent.lpProp); break;
        case RES_PROPERTY: out += bytes(&r->res.resProperty, 8) + prop(r->res.resProperty.lpProp); break;
        default: out += bytes(&r->res, 12); break;  // compare, bitmask, size, exist: three ULONGs
        }
        out += "\n";
    }
    return out;
}

// The form as a backup writes and reads it: JSON text and back.
bool RoundTrip(const SRestriction& restriction, BuiltRestriction& built)
{
    Json form;
    std::string why;
    REQUIRE(RestrictionToJson(restriction, form, why));
    return built.Build(Json::parse(form.dump()), why);
}

// A store's folder definitions as mapisim writes them, without what a restore makes anew (identifier,
// modification time, item count), in order: the same lines whatever order siblings come in.
std::vector<std::string> Definitions(const std::string& storeText)
{
    mapisim::Model model;
    std::string error;
    REQUIRE(model.Parse(storeText, error));
    std::vector<std::string> lines = SplitLines(model.Canonical());
    for (std::string& line : lines)
        for (const char* key : {" id=", " modified=", " items=", " nextid="}) {
            size_t at = line.find(key);
            if (at != std::string::npos) line.erase(at, line.find(' ', at + 1) - at);
        }
    std::sort(lines.begin(), lines.end());
    return lines;
}

std::string WineFolder(int csidl)
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

} // namespace

TEST_CASE("the restriction form gives back every restriction and property type exactly, whatever the shape")
{
    static char ansi[] = "ANSI \xFC";
    static wchar_t wide[] = L"Unicode \u00FC \U0001F600", lone[] = {L'a', 0xD800, L'b', 0};
    static GUID guid = {0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}}, guids[2] = {guid, {}};
    static BYTE bin[] = {0, 1, 0, 255};
    static short shorts[] = {-1, 32767};
    static LONG longs[] = {LONG_MIN, 5};
    static float floats[] = {0.1f, -INFINITY};
    static double doubles[] = {-0.0, 1e308}, times[] = {45000.25};
    static CURRENCY money[] = {{}};
    static FILETIME filetimes[] = {{1, 2}, {0xFFFFFFFF, 0x7FFFFFFF}};
    static LPSTR ansis[] = {ansi, ansi};
    static SBinary bins[] = {{4, bin}, {0, nullptr}};
    static LPWSTR wides[] = {wide, lone};
    static LARGE_INTEGER larges[1];
    money[0].int64 = LLONG_MIN;
    larges[0].QuadPart = LLONG_MAX;
    std::vector<SPropValue> v(30);
    int n = 0;
    auto next = [&](ULONG type) -> _PV& { v[n].ulPropTag = PROP_TAG(type, 0x6000 + n); return v[n++].Value; };
    next(PT_I2).i = -2;
    next(PT_LONG).l = -123456;
    next(PT_R4).flt = 1.5f;
    next(PT_R4).flt = NAN;
    next(PT_DOUBLE).dbl = -0.1;
    next(PT_CURRENCY).cur.int64 = -9000000000000000000LL;
    next(PT_APPTIME).at = INFINITY;
    next(PT_ERROR).err = MAPI_E_NOT_FOUND;
    next(PT_BOOLEAN).b = 2;
    next(PT_OBJECT).x = 7;
    next(PT_I8).li.QuadPart = LLONG_MIN;
    next(PT_STRING8).lpszA = ansi;
    next(PT_UNICODE).lpszW = wide;
    next(PT_UNICODE).lpszW = lone;
    next(PT_SYSTIME).ft = {0xFFFFFFFF, 0x7FFFFFFF};
    next(PT_CLSID).lpguid = &guid;
    next(PT_BINARY).bin = {4, bin};
    next(PT_NULL).x = 0;
    next(PT_MV_I2).MVi = {2, shorts};
    next(PT_MV_LONG).MVl = {2, longs};
    next(PT_MV_R4).MVflt = {2, floats};
    next(PT_MV_DOUBLE).MVdbl = {2, doubles};
    next(PT_MV_CURRENCY).MVcur = {1, money};
    next(PT_MV_APPTIME).MVat = {1, times};
    next(PT_MV_SYSTIME).MVft = {2, filetimes};
    next(PT_MV_STRING8).MVszA = {2, ansis};
    next(PT_MV_BINARY).MVbin = {2, bins};
    next(PT_MV_UNICODE).MVszW = {2, wides};
    next(PT_MV_CLSID).MVguid = {2, guids};
    next(PT_MV_I8).MVli = {1, larges};
    // Every restriction type, each once, under one or().
    std::vector<SRestriction> r(14);
    r[1].rt = RES_CONTENT, r[1].res.resContent = {FL_SUBSTRING | FL_IGNORECASE, 0x0037001F, &v[12]};
    r[2].rt = RES_PROPERTY, r[2].res.resProperty = {RELOP_RE, 0x12340005, &v[4]};
    r[3].rt = RES_PROPERTY, r[3].res.resProperty = {RELOP_EQ, 0x12340003, nullptr};
    r[4].rt = RES_COMPAREPROPS, r[4].res.resCompareProps = {RELOP_GT, 0x00390040, 0x30080040};
    r[5].rt = RES_BITMASK, r[5].res.resBitMask = {BMR_NEZ, 0x0E070003, 0x80000001};
    r[6].rt = RES_SIZE, r[6].res.resSize = {RELOP_LE, 0x0E080003, 4096};
    r[7].rt = RES_EXIST, r[7].res.resExist = {1, 0x12340003, 2};
    r[8].rt = RES_COMMENT, r[8].res.resComment = {static_cast<ULONG>(n), &r[7], v.data()};
    r[9].rt = kResAnnotation, r[9].res.resComment = {2, nullptr, &v[13]};
    r[10].rt = kResCount, r[10].res.resNot = {5, &r[2]};
    r[11].rt = RES_SUBRESTRICTION, r[11].res.resSub = {0x0E12000D, &r[1]};
    r[12].rt = RES_NOT, r[12].res.resNot = {0, &r[5]};
    r[13].rt = RES_AND, r[13].res.resAnd = {0, nullptr};
    r[0].rt = RES_OR, r[0].res.resOr = {13, &r[1]};
    // Hostile shapes: 10,000 deep, 100,000 branches, a string of 100,000 characters.
    std::vector<SRestriction> deep(10000, r[7]), wide100k(100000, r[7]);
    for (size_t i = 0; i + 1 < deep.size(); ++i) deep[i].rt = RES_NOT, deep[i].res.resNot = {0, &deep[i + 1]};
    SRestriction branches = {RES_OR, {}};
    branches.res.resOr = {static_cast<ULONG>(wide100k.size()), wide100k.data()};
    std::wstring text(100000, L'x');
    SPropValue huge = {PR_BODY_W, 0, {}};
    huge.Value.lpszW = &text[0];
    SRestriction long1 = {RES_CONTENT, {}};
    long1.res.resContent = {FL_FULLSTRING, PR_BODY_W, &huge};
    for (const SRestriction* shape : {&r[0], &deep[0], &branches, &long1}) {
        BuiltRestriction built;
        CHECK(RoundTrip(*shape, built));
        CHECK(Describe(built.Get()) == Describe(shape));
    }
    // What no restriction is: refused, never half read.
    for (const char* form : {"[]", "{}", "[{\"type\": \"and\", \"count\": 2}, {\"type\": \"exist\", \"tag\": \"0x00000003\"}]",
                             "[null]", "[{\"type\": \"xor\"}]", "[{\"type\": \"or\", \"count\": 4294967295}]", "[{\"type\": \"exist\", \"tag\": \"3\"}]",
                             "[{\"type\": \"exist\", \"tag\": \"0x00000003\"}, {\"type\": \"exist\", \"tag\": \"0x00000003\"}]",
                             "[{\"type\": \"property\", \"relop\": 4, \"tag\": \"0x00010002\", \"value\": {\"tag\": \"0x00010002\", \"value\": 40000}}]"}) {
        BuiltRestriction built;
        std::string why;
        CAPTURE(form);
        CHECK_FALSE(built.Build(Json::parse(form), why));
        CHECK(!why.empty());
    }
}

TEST_CASE("restore: a parent found by its path, or the record fails with its reason; nothing half made; a corrupt line reported")
{
    const std::string store = "profile P default\n  store S default id=AA\n    folder Inbox id=10\n    finder F id=0F\n      folder G id=20\n"
                              "        folder x search id=01 criteria=\"exist(subject)\" scope=Inbox\n"
                              "      folder y search id=02 criteria=\"content(subject, \\\"inv\u00F6ice\\\", substring)\" scope=Inbox\n"
                              "      folder z search id=03\n";
    std::string backup = TempPath("backup.jsonl");
    Run deleted = Krvn("delete --all --keep-going --backup \"" + backup + "\"", store + "      folder w search id=04 fail=DeleteFolder:0x80070005\n");
    CHECK(deleted.code == 1);
    CHECK(Contains(deleted.out, "; backup " + backup + " (2 folders without search criteria, never set)\r\n"));
    std::vector<std::string> lines = SplitLines(ReadTextFile(backup));
    CHECK(lines.size() == 4);  // every selected folder, the one that stayed too
    auto edit = [&](const std::vector<std::pair<std::string, std::string>>& changes) {
        std::string text = deleted.storeAfter;
        for (const auto& change : changes) text.replace(text.find(change.first), change.first.size(), change.second);
        return text;
    };
    auto after = [&](const std::string& from, const std::string& to) { return edit({{from, to}}); };
    const std::string otherStore = after("store S default id=AA", "store S default id=BB");  // its profile made again
    const char* const lookedFor = "the folder that held it, /F/G, could not be looked for: ";
    const struct { std::string store, args; int code; std::vector<std::string> outcomes; std::string reason; } cases[] = {
        {deleted.storeAfter, "", 0, {"exists", "restored", "restored", "restored"}, ""},  // z made again without criteria, as it was
        {after("folder G id=20", "folder g id=30"), " --name x --name y", 0, {"restored", "restored"}, ""},  // G made again by hand
        {after("folder G id=20", "folder K id=30"), " --keep-going", 1, {"exists", "restored", "restored", "failed"},
         "the folder that held it, /F/G, is gone: not found by its entry identifier nor by its path (hr=0x8004010F)"},
        {after("    folder Inbox id=10\n", ""), " --id 02 --dry-run", 0, {"would-restore"}, ""},
        {after("      folder w ", "      folder Y\n      folder w "), " --id 02", 0, {"exists"}, ""},  // a name in any case
        {after("    folder Inbox id=10\n", ""), " --id 02", 1, {"failed"}, "a folder it searches is gone (hr=0x8004010F)"},
        // "Gone" only when every look-up worked: else the call that failed, and its HRESULT.
        {after("folder G id=20", "folder G id=30 fail=Open:0x80070005"), " --id 01", 1, {"failed"},
         lookedFor + std::string("OpenEntry failed (hr=0x80070005)")},
        {after("folder G id=20", "folder G id=20 fail=Open:0x80070005"), " --id 01", 1, {"failed"},
         lookedFor + std::string("OpenEntry failed (hr=0x80070005)")},
        {after("folder G id=20", "folder K id=20 fail=Open:0x80070005"), " --id 01", 1, {"failed"},  // the path finds nothing
         lookedFor + std::string("OpenEntry failed (hr=0x80070005)")},
        {edit({{"folder G id=20", "folder G id=30"}, {"finder F id=0F", "finder F id=0F fail=QueryRows:0x80004005"}}), " --id 01", 1, {"failed"},
         lookedFor + std::string("QueryRows failed (hr=0x80004005)")},
        // A store whose entry identifier changed: every record fails, unless the store is named.
        {otherStore, " --name y", 1, {"failed"},
         "its store (entryid AA) is not in profile 'P' or could not be opened (hr=0x8004010F)"},
        {otherStore, " -s s", 0, {"exists", "restored", "restored", "restored"}, ""},
        {otherStore, " --store-id bb", 0, {"exists", "restored", "restored", "restored"}, ""},
    };
    for (const auto& c : cases) {
        CAPTURE(c.args);
        Run run = Krvn("restore --from \"" + backup + "\" --format json" + c.args, c.store);
        CHECK(run.code == c.code);
        std::vector<std::string> outcomes = JsonColumn(run.out, "outcome"), reasons = JsonColumn(run.out, "reason");
        CHECK(outcomes == c.outcomes);
        CHECK(std::count(reasons.begin(), reasons.end(), c.reason) == (c.reason.empty() ? 0 : 1));
        // A search folder whose criteria could not be set went again: the store holds what was restored, no more.
        CHECK(FolderNames(run.storeAfter).size() == FolderNames(c.store).size() + std::count(outcomes.begin(), outcomes.end(), "restored"));
    }
    // A folder that never had criteria is made again without any.
    std::string madeAgain = Krvn("restore --from \"" + backup + "\" --name z", deleted.storeAfter).storeAfter;
    std::string z = madeAgain.substr(madeAgain.find("      folder z search"));
    CHECK(!Contains(z.substr(0, z.find('\n')), "criteria="));
    // The store column names the store a folder went into; backup_store the recorded one, where they differ.
    const std::string renamed = after("store S default id=AA", "store Renamed default id=BB");
    for (const auto& into : {std::make_pair(deleted.storeAfter, std::string()), std::make_pair(renamed, std::string(" -s renamed"))}) {
        Run run = Krvn("restore --from \"" + backup + "\" --format json --name y" + into.second, into.first);
        CHECK((JsonColumn(run.out, "outcome") == std::vector<std::string>{"restored"} &&
               JsonColumn(run.out, "store") == std::vector<std::string>{into.second.empty() ? "S" : "Renamed"} &&
               JsonColumn(run.out, "backup_store") == std::vector<std::string>{into.second.empty() ? "null" : "S"}));
    }
    // A record of a name made earlier in the run (one file appended to by two runs) finds it there, dry or not.
    WriteTextFile(backup, lines[1] + "\r\n" + lines[1] + "\r\n");
    CHECK(JsonColumn(Krvn("restore --from \"" + backup + "\" --format json", deleted.storeAfter).out, "outcome") ==
          std::vector<std::string>{"restored", "exists"});
    CHECK(JsonColumn(Krvn("restore --dry-run --from \"" + backup + "\" --format json", deleted.storeAfter).out, "outcome") ==
          std::vector<std::string>{"would-restore", "exists"});
    // Every text field in the form for text that is not whole UTF-16 is read as the text it stands for.
    Json record = Json::parse(lines[1]);
    auto units = [](const Json& text) {
        std::string hex;
        char unit[8];
        for (wchar_t c : FromUtf8(text.get<std::string>())) snprintf(unit, sizeof(unit), "%04X", static_cast<unsigned>(c)), hex += unit;
        return Json{{"utf16", hex}};
    };
    for (const char* field : {"profile", "store", "path", "name", "criteria"}) record[field] = units(record[field]);
    for (Json& holder : record["holders"]) holder = units(holder);
    for (Json& searched : record["scope"]) searched["name"] = units(searched["name"]);
    record["comment"] = units(Json("a comment"));
    for (Json& node : record["restriction"])
        if (node.contains("value") && node["value"]["value"].is_string()) node["value"]["value"] = units(node["value"]["value"]);
    WriteTextFile(backup, record.dump() + "\r\n");
    CHECK(Contains(record.dump(), "{\"utf16\":\"0069006E007600F6006900630065\"}"));  // the restriction's string too
    Run forms = Krvn("restore --from \"" + backup + "\" --format json", deleted.storeAfter);
    CHECK(JsonColumn(forms.out, "outcome") == std::vector<std::string>{"restored"});
    CHECK(Contains(forms.storeAfter, "folder y search comment=\"a comment\" id="));
    CHECK(Contains(forms.storeAfter, "criteria=\"content(subject, \\\"inv\xC3\xB6ice\\\", substring)\" scope=Inbox"));

    // A record of a krvn that gave a success as the cause of unread criteria: restore never passes it on.
    Json unread = Json::parse(lines[2]);
    unread["criteria_hr"] = "0x00000000";
    WriteTextFile(backup, unread.dump() + "\r\n");
    Run zero = Krvn("restore --from \"" + backup + "\" --format json", deleted.storeAfter);
    CHECK((JsonColumn(zero.out, "hr") == std::vector<std::string>{"0x8004010F"} &&
           JsonColumn(zero.out, "reason") == std::vector<std::string>{"it was backed up without its search criteria: its criteria were not backed up"}));

    // A line that is no record is reported with its number; the others are restored.
    lines[1] = "{\"format\": \"krvn-backup\", \"version\": 1, \"name\": \"cut sh";
    lines[2] = "{\"format\": \"krvn-backup\", \"version\": 2}";
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    WriteTextFile(backup, "\xEF\xBB\xBF" + text + "\r\n");
    Run corrupt = Krvn("restore --from \"" + backup + "\"", deleted.storeAfter);
    CHECK(corrupt.code == 3);
    CHECK(corrupt.err == "krvn: backup '" + backup + "' line 2: not a JSON object; left out\r\n"
                         "krvn: backup '" + backup + "' line 3: a record of version 2, which this krvn does not read; left out\r\n");
    CHECK(Contains(corrupt.out, "\r\nrestored 1, exists 1, failed 0, would restore 0, not reached 0; 2 lines of the backup could not be read\r\n"));
    // A restriction the store refuses: the folder made for it goes again.
    std::string refused = lines[3];
    refused.replace(refused.find("\"restriction\":["), 15, "\"restriction\":[{\"type\":\"comment\",\"props\":[]},");
    WriteTextFile(backup, refused + "\r\n");
    Run complex = Krvn("restore --from \"" + backup + "\" --format json", deleted.storeAfter);
    CHECK((complex.code == 1 && Definitions(complex.storeAfter) == Definitions(deleted.storeAfter)));
    CHECK(JsonColumn(complex.out, "reason") == std::vector<std::string>{"the store refuses its restriction (hr=0x80040117)"});
}

TEST_CASE("nothing deleted without its backup on disk: an unwritable backup stops all; the default backup and its age; --no-backup")
{
    const std::string store = Store("F", "      folder x search id=01 criteria=\"exist(body)\"\n      folder y search id=02\n");
    std::string folder = TempPath("unwritable");
    WriteTextFile(folder, "");
    Run refused = Krvn("delete --all --backup \"" + folder + "\\b.jsonl\"", store);
    CHECK(refused.code == 3);
    CHECK(Contains(refused.err, "krvn: the backup file '" + folder + "\\b.jsonl' cannot be opened for appending ("));
    CHECK(Contains(refused.err, "; nothing was deleted\r\n"));
    CHECK((refused.storeAfter == store && !Contains(refused.log, "DeleteFolder ")));

    // Without --backup: a new file in the user's local application data, the old ones of krvn's name removed.
    std::string backups = WineFolder(CSIDL_LOCAL_APPDATA) + "\\Korvane\\backups\\";
    SHCreateDirectoryExA(nullptr, backups.c_str(), nullptr);
    SYSTEMTIME now;
    GetSystemTime(&now);
    char recent[64];
    snprintf(recent, sizeof(recent), "krvn-%04u%02u%02u-000000-1.jsonl", now.wYear, now.wMonth, now.wDay);
    for (const char* name : {"krvn-20200101-000000-7.jsonl", static_cast<const char*>(recent), "krvn-20200101-000000-7.jsonl.txt",
                             "krvn-20200101-000000-copy.jsonl", "other.jsonl"})
        WriteTextFile(backups + name, "");
    Run made = Krvn("delete --all --format json", store);
    CHECK(made.code == 0);
    JsonFlat json;
    REQUIRE(ReadJson(made.out, json));
    CHECK(json["backup"].compare(0, backups.size() + 5, backups + "krvn-") == 0);
    CHECK((json["backup_without_criteria"] == "1" && SplitLines(ReadTextFile(json["backup"])).size() == 2));
    CHECK(GetFileAttributesA((backups + "krvn-20200101-000000-7.jsonl").c_str()) == INVALID_FILE_ATTRIBUTES);
    for (const char* kept : {static_cast<const char*>(recent), "krvn-20200101-000000-7.jsonl.txt", "krvn-20200101-000000-copy.jsonl", "other.jsonl"})
        CHECK(GetFileAttributesA((backups + kept).c_str()) != INVALID_FILE_ATTRIBUTES);
    // --log and --backup make every folder on their way, however many are missing.
    for (const char* option : {"check --over 9 --log", "delete --all --backup"}) {
        std::string path = TempPath("made") + std::to_string(GetTickCount64()) + "\\a\\b\\file.jsonl";
        CAPTURE(option);
        CHECK(Krvn(std::string(option) + " \"" + path + "\"", store).code == 0);
        CHECK(SplitLines(ReadTextFile(path)).size() >= 1);
    }
    Run none = Krvn("delete --all --no-backup --format json", store);
    CHECK((none.code == 0 && Contains(none.out, "\"backup\": null") && !Contains(none.log, "GetSearchCriteria ")));
}

TEST_CASE("a folder the backup cannot take is not deleted: failed with the call's HRESULT, the run stops unless --keep-going")
{
    // b cannot be opened, c never had criteria (it is made again without), e's criteria cannot be read.
    const std::string store = "profile P default\n  store S default id=AA\n    folder Inbox id=10\n    finder F id=0F\n"
                              "      folder a search id=01 criteria=\"exist(subject)\" scope=Inbox\n"
                              "      folder b search id=02 criteria=\"exist(body)\" fail=Open:0x80070005\n"
                              "      folder c search id=03\n      folder d search id=04 criteria=\"exist(body)\"\n"
                              "      folder e search id=05 criteria=\"exist(body)\" fail=GetSearchCriteria:0x80040115\n";
    const std::string notReached = "not backed up: OpenEntry failed", unopened = "not backed up: OpenMsgStore failed",
                      unread = "not backed up: its search criteria could not be read: GetSearchCriteria failed";
    // The store is opened once by the scan; the second opening is the backup's.
    const std::string storeRefused = "profile P default\n  store S default id=AA fail=OpenMsgStore:0x80040115@2\n" + store.substr(store.find("    folder Inbox"));
    const struct { std::string store, args; int code; std::vector<std::string> outcomes, hrs, reasons; size_t backedUp, withoutCriteria; } cases[] = {
        {store, "", 1, {"deleted", "failed", "not-reached", "not-reached", "not-reached"}, {"", "0x80070005", "", "", ""},
         {"", notReached, "", "", ""}, 3, 1},
        {store, " --keep-going", 1, {"deleted", "failed", "deleted", "deleted", "failed"}, {"", "0x80070005", "", "", "0x80040115"},
         {"", notReached, "", "", unread}, 3, 1},
        {storeRefused, " --keep-going", 1, std::vector<std::string>(5, "failed"), std::vector<std::string>(5, "0x80040115"),
         std::vector<std::string>(5, unopened), 0, 0},
    };
    for (const auto& c : cases) {
        CAPTURE(c.args);
        CAPTURE(c.store);
        std::string backup = TempPath("reach.jsonl"), log = TempPath("reach.log");
        Run run = Krvn("delete --all --format json --backup \"" + backup + "\" --log \"" + log + "\"" + c.args, c.store);
        CHECK(run.code == c.code);
        CHECK(JsonColumn(run.out, "outcome") == c.outcomes);
        CHECK(JsonColumn(run.out, "hr") == c.hrs);
        CHECK(JsonColumn(run.out, "reason") == c.reasons);
        CHECK(JsonColumn(ReadTextFile(log), "reason") == c.reasons);
        std::vector<std::string> left = FolderNames(run.storeAfter);
        for (const char* kept : {"b", "e"}) {  // no DeleteFolder for what was not backed up
            CHECK(!Contains(run.log, "target=\"P/S/F/" + std::string(kept) + "\" ui"));
            CHECK(std::count(left.begin(), left.end(), kept) == 1);
        }
        std::vector<std::string> lines = SplitLines(ReadTextFile(backup));
        CHECK(static_cast<size_t>(std::count_if(lines.begin(), lines.end(), [](const std::string& l) { return Contains(l, "krvn-backup"); })) == c.backedUp);
        CHECK((!Contains(ReadTextFile(backup), "0x00000000") && !Contains(run.out, "0x00000000")));
        JsonFlat json;
        REQUIRE(ReadJson(run.out, json));
        CHECK(json["backup_without_criteria"] == std::to_string(c.withoutCriteria));
        // Only a backup that holds something is made and named.
        CHECK((GetFileAttributesA(backup.c_str()) != INVALID_FILE_ATTRIBUTES) == (c.backedUp > 0));
        CHECK((json["backup"] == "null") == (c.backedUp == 0));
        CHECK(json["backup_reason"] == (c.backedUp ? "null" : "none of the selected folders could be backed up"));
    }
    Run text = Krvn("delete --all --keep-going --format csv", store);
    CHECK(Contains(text.out, "P,S,b,/F,02,,0,failed,0x80070005," + notReached + "\r\n"));
}
