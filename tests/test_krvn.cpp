// krvn.exe as a process, against mapisim: each command and format, selection by names, identifiers and
// evidence, deletion with its stop rule, damaged and odd stores, one order whatever the provider, the
// summary, the check, the audit log, the samples, and the exit codes with their messages. After every
// run mapisim's report must be clean. The renderer of search criteria is tested in-process.
#include <doctest/doctest.h>

#include <windows.h>

#include <string.h>

#include <algorithm>
#include <memory>

#include "Criteria.h"
#include "Conversions.h"
#include "KrvnRun.h"
#include "Selection.h"
#include "restriction.h"
#include "runtime.h"

namespace {

const std::string kStore =
    "profile \"B\xC3\xBCro\" default\n  store \"Postfach J\xC3\xBCrgen\" default id=AA00\n    folder Inbox id=1E\n    finder Finder\n"
    "      folder \"Ungelesen, \\\"wichtig\\\"\" search id=0A0B modified=2019-03-04T05:06:07Z items=12 "
    "criteria=\"prop(class = \\\"IPM.Note\\\")\" scope=Inbox;Nowhere\n"
    "      folder \"Gr\xC3\xB6\xC3\x9F" "er als 5 MB\" search class=IPF.Note id=0C0D\n"
    "      folder \"A/B\" id=0E0F\n        folder \"Tab\\tund\\nZeile\" search id=1011 items=3\n"
    "        folder Chef search id=1213 modified=2030-01-01T00:00:00Z criteria=\"exist(0x12340003)\"\n"
    "      folder \"C:\\\\Temp\" search id=1617\n"
    "  store Archiv id=AA01\n    finder F\n      folder alt search id=1415\n"
    "profile Zweit missing=default\n  store S default id=AB00\nprofile Locked fail=Logon:0x80040111\n  store T default\n";

// A store whose name its row refuses as too long and which cannot be opened, beside one that can.
const std::string kLongName = "profile P default\n  store \"A long store name\" rowlimit=4 fail=OpenMsgStore:0x80040115 id=C1\n"
                              "  store Good default id=C2\n    finder F\n      folder x search id=01\n";

const std::string kListHeader = "profile,store,name,path,entryid,modified,items\r\n";
const std::string kDeleteHeader = "profile,store,name,path,entryid,modified,items,outcome,hr,reason\r\n";
const std::string kListCsv = kListHeader +
    "B\xC3\xBCro,Postfach J\xC3\xBCrgen,C:\\Temp,/Finder,1617,,0\r\n"
    "B\xC3\xBCro,Postfach J\xC3\xBCrgen,\"Ungelesen, \"\"wichtig\"\"\",/Finder,0A0B,2019-03-04T05:06:07Z,12\r\n"
    "B\xC3\xBCro,Postfach J\xC3\xBCrgen,Chef,/Finder/A/B,1213,2030-01-01T00:00:00Z,0\r\n"
    "B\xC3\xBCro,Postfach J\xC3\xBCrgen,\"Tab\tund\nZeile\",/Finder/A/B,1011,,3\r\n";

// Folders dated far in the past or the future, so that no clock moves them across an age.
const std::string kEvidence =
    "profile P default\n  store S default id=AA\n    folder Inbox\n    folder Projects\n    finder Finder\n"
    "      folder \"CRM Search 4711\" search id=01 modified=1990-01-01T00:00:00Z items=0 "
    "criteria=\"content(subject, \\\"invoice\\\", substring|ignorecase)\" scope=Inbox;Projects\n"
    "      folder \"CRM Search 12\" search id=02 modified=2090-01-01T00:00:00Z items=0 criteria=\"exist(subject)\" scope=Inbox\n"
    "      folder \"Cache 1a2b3c4d5e\" search id=03 items=7\n"
    "      folder \"Cache 99ff00aa11\" search id=04 modified=1995-05-05T00:00:00Z items=0 fail=GetSearchCriteria:0x80040115\n"
    "      folder Unread search id=05 modified=2000-01-01T00:00:00Z items=4 criteria=\"bitmask(flags, eqz, 0x00000001)\"\n"
    "  store T id=AB\n    finder F\n      folder \"CRM Search 1\" search id=06 modified=1990-06-01T00:00:00Z\n";

} // namespace

TEST_CASE("every command and format prints the exact records, evidence and criteria included")
{
    const std::string bu = "B\xC3\xBCro,Postfach J\xC3\xBCrgen,", ju = "{\"profile\": \"B\xC3\xBCro\", \"store\": \"Postfach J\xC3\xBCrgen\", ";
    const struct { const char* args; std::string out; } cases[] = {
        // A profile row without its default flag is a profile that is not the default.
        {"profiles", "name    default\r\nB\xC3\xBCro    true\r\nZweit   false\r\nLocked  false\r\n3 profiles\r\n"},
        {"profiles --format json", "[\r\n  {\"name\": \"B\xC3\xBCro\", \"default\": true},\r\n  {\"name\": \"Zweit\", \"default\": false},\r\n"
         "  {\"name\": \"Locked\", \"default\": false}\r\n]\r\n"},
        {"stores --format csv", "profile,name,default,entryid\r\nB\xC3\xBCro,Postfach J\xC3\xBCrgen,true,AA00\r\nB\xC3\xBCro,Archiv,false,AA01\r\n"},
        {"stores -p zweit --format json", "[\r\n  {\"profile\": \"Zweit\", \"name\": \"S\", \"default\": true, \"entryid\": \"AB00\"}\r\n]\r\n"},
        {"list", "profile  store            name                  path         entryid  modified              items\r\n"
                 "B\xC3\xBCro     Postfach J\xC3\xBCrgen  C:\\Temp               /Finder      1617                           0\r\n"
                 "B\xC3\xBCro     Postfach J\xC3\xBCrgen  Ungelesen, \"wichtig\"  /Finder      0A0B     2019-03-04T05:06:07Z  12\r\n"
                 "B\xC3\xBCro     Postfach J\xC3\xBCrgen  Chef                  /Finder/A/B  1213     2030-01-01T00:00:00Z  0\r\n"
                 "B\xC3\xBCro     Postfach J\xC3\xBCrgen  Tab\\tund\\nZeile       /Finder/A/B  1011                           3\r\n"
                 "4 search folders\r\n"},
        {"list --format csv", kListCsv},
        {"list -p B\xC3\x9CRO -s \"postfach j\xC3\xBCrgen\" --exact-walk --format csv", kListCsv},
        {"list --criteria --format csv", "profile,store,name,path,entryid,modified,items,criteria,scope\r\n" + bu + "C:\\Temp,/Finder,1617,,0,,\r\n" +
         bu + "\"Ungelesen, \"\"wichtig\"\"\",/Finder,0A0B,2019-03-04T05:06:07Z,12,\"prop(class = \"\"IPM.Note\"\")\",Inbox; 4E6F7768657265\r\n" +
         bu + "Chef,/Finder/A/B,1213,2030-01-01T00:00:00Z,0,exist(0x12340003),\r\n" + bu + "\"Tab\tund\nZeile\",/Finder/A/B,1011,,3,,\r\n"},
        {"list --criteria --format json", "[\r\n"
         "  " + ju + "\"name\": \"C:\\\\Temp\", \"path\": \"/Finder\", \"entryid\": \"1617\", \"modified\": null, \"items\": 0, \"criteria\": null, \"scope\": null},\r\n"
         "  " + ju + "\"name\": \"Ungelesen, \\\"wichtig\\\"\", \"path\": \"/Finder\", \"entryid\": \"0A0B\", \"modified\": \"2019-03-04T05:06:07Z\", \"items\": 12, "
         "\"criteria\": \"prop(class = \\\"IPM.Note\\\")\", \"scope\": [\"Inbox\", \"4E6F7768657265\"]},\r\n"
         "  " + ju + "\"name\": \"Chef\", \"path\": \"/Finder/A/B\", \"entryid\": \"1213\", \"modified\": \"2030-01-01T00:00:00Z\", \"items\": 0, "
         "\"criteria\": \"exist(0x12340003)\", \"scope\": []},\r\n"
         "  " + ju + "\"name\": \"Tab\\tund\\nZeile\", \"path\": \"/Finder/A/B\", \"entryid\": \"1011\", \"modified\": null, \"items\": 3, \"criteria\": null, \"scope\": null}\r\n"
         "]\r\n"},
        {"list --store-id aa01 --format csv", kListHeader + "B\xC3\xBCro,Archiv,alt,/F,1415,,0\r\n"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.args);
        Run run = Krvn(c.args, kStore);
        CHECK((run.code == 0 && run.err.empty()));
        CHECK(run.out == c.out);
        JsonFlat json;
        CHECK(ReadJson(run.out, json) == Contains(c.args, "json"));
    }
    std::string text = Krvn("list --criteria", kStore).out;  // the text format: scope joined, the summary says what could not be read
    CHECK((Contains(text, "  prop(class = \"IPM.Note\")  Inbox; 4E6F7768657265\r\n") && Contains(text, "\r\n4 search folders; criteria of 2 could not be read\r\n")));
}

TEST_CASE("which folders: --all, --name, --id and the evidence filters")
{
    // (delete acts on the same selection; the way back's campaign proves that on random stores)
    const std::string ungelesen = "Ungelesen, \"wichtig\"", tab = "Tab\tund\nZeile";
    const struct { const char* args; const std::string& store; std::vector<std::string> names; } cases[] = {
        {"list --name c?EF --name \"ungelesen*\"", kStore, {ungelesen, "Chef"}},
        {"list --id 1011 --id 1415 --id 0a0b", kStore, {ungelesen, tab}},  // 1415 is in another store; any case
        {"list --all-stores --name \"Gr*\"", kStore, {}},  // a folder with a container class is never listed, so never deleted
        {"list --older-than 0", kEvidence, {"Cache 99ff00aa11", "CRM Search 4711", "Unread"}},  // never a folder without a date
        {"list --older-than 73000", kEvidence, {}},
        {"list --older-than 200000", kEvidence, {}},  // more days than since 1601: nothing, not every dated folder
        {"list --older-than 999999999999999", kEvidence, {}},  // the largest taken
        {"list --empty", kEvidence, {"Cache 99ff00aa11", "CRM Search 12", "CRM Search 4711"}},
        {"list --criteria-like *INVOICE*", kEvidence, {"CRM Search 4711"}},
        {"list --criteria-like *", kEvidence, {"CRM Search 12", "CRM Search 4711", "Unread"}},  // never one whose criteria cannot be read
        {"list --name \"Cache *\"", kEvidence, {"Cache 1a2b3c4d5e", "Cache 99ff00aa11"}},  // a summary's group, as it stands
        {"delete --all --empty --older-than 0 --no-backup", kEvidence, {"Cache 99ff00aa11", "CRM Search 4711"}},
    };
    for (const auto& c : cases) {
        CAPTURE(c.args);
        Run run = Krvn(std::string(c.args) + " --format json", c.store);
        CHECK(run.code == 0);
        CHECK(JsonColumn(run.out, "name") == c.names);
    }
}

TEST_CASE("exit codes with a message naming the trouble, after what could be done; check's line; help and version")
{
    const std::string odd = "profile P default\n  store \"\xE4\xB8\xAD\xE5\x9B\xBD\" id=C1\n    finder F\n      folder x search id=01\n"
                            "  store Twin default id=D1\n    finder F\n      folder t1 search id=03\n  store twin id=D2\n    finder F\n"
                            "      folder t2 search id=04\n  store Nameless missing=name id=E1\n  store NoId missing=entryid\n";
    const struct { const char* args; std::string store; int code; const char* err; std::string out; } cases[] = {
        {"", "", 2, "krvn: no command given\r\nTry 'krvn --help'.\r\n"},
        {"bogus", "", 2, "krvn: unknown command 'bogus'\r\n"},
        {"delete", "", 2, "'delete' needs --all, --name PATTERN or --id HEX"},
        {"delete --all --name x", "", 2, "'--all' excludes"},
        {"list --format xml", "", 2, "unknown format 'xml'"},
        {"list -p", "", 2, "'-p' needs a value"},
        {"delete --all --id 0G", "", 2, "'--id 0G' is not an entry identifier in hex"},
        {"delete --all --id \"\"", "", 2, "'--id ' is not an entry identifier in hex"},
        {"list --id \xEF\xBC\x91\xEF\xBC\x92", "", 2, "is not an entry identifier in hex"},  // full-width digits
        {"list --store-id AA -s x", "", 2, "'-s', '--store-id' and '--all-stores' exclude each other"},
        {"list --older-than -1", "", 2, "krvn: '--older-than -1' is not a whole number of days\r\n"},
        {"delete --all --older-than 3x", "", 2, "'--older-than 3x' is not a whole number of days"},
        {"list --older-than 5 --older-than 6", "", 2, "'--older-than' is given twice"},
        {"list --older-than 99999999999999999999", "", 2, "'--older-than 99999999999999999999' is too large: the largest accepted is 999999999999999"},
        {"check --name x", "", 2, "'check' needs --over N"},
        {"list -p Nobody", kStore, 3, "krvn: no profile named 'Nobody'\r\n"},
        {"list -s Nowhere", kStore, 3, "krvn: no store named 'Nowhere' in profile 'B\xC3\xBCro'\r\n"},
        {"list -p zweit", kStore, 3, "krvn: store 'S' has no finder folder that could be opened (hr=0x80004005)\r\n"},
        {"stores -p Locked", kStore, 3, "krvn: the logon to profile 'Locked' failed (hr=0x80040111)\r\n"},
        {"list", "profile P\n", 3, "krvn: there is no default profile\r\n"},
        {"profiles", "", 0, "", "0 profiles\r\n"},
        {"--version", "", 0, "", "krvn 1.0.0.1\r\n"},
        {"profiles", "profile P default\nprofile Q missing=name\n", 3, "krvn: 1 row of the profile table without a name left out\r\n",
         "name  default\r\nP     true\r\n1 profile\r\n"},
        {"list", "mapi fail=MAPIInitialize:0x80004005\n", 3, "krvn: MAPI could not be initialised (hr=0x80004005)"},
        {"list", "profile P default\n  store S default fail=OpenMsgStore:0x80040115\n", 3,
         "krvn: store 'S' could not be opened (hr=0x80040115)\r\n"},
        {"list --all-stores --format csv", "profile P default\n  store Good default\n    finder F\n      folder x search id=01\n  store Bad\n", 3,
         "krvn: store 'Bad' has no finder folder that could be opened (hr=0x80004005); left out\r\n", kListHeader + "P,Good,x,/F,01,,0\r\n"},
        {"delete --all --all-stores --format csv", "profile P default\n  store Bad\n  store Good default\n    finder F\n      folder x search id=01\n", 3,
         "krvn: store 'Bad' has no finder folder that could be opened (hr=0x80004005); left out\r\n",
         kDeleteHeader + "P,Good,x,/F,01,,0,deleted,,\r\n"},
        {"delete --all --all-stores --format csv",  // a failed deletion comes before what was not reached
         "profile P default\n  store Bad\n  store Good default\n    finder F\n      folder x search id=01 fail=DeleteFolder:0x80070005\n", 1,
         "krvn: store 'Bad' has no finder folder that could be opened (hr=0x80004005); left out\r\n",
         kDeleteHeader + "P,Good,x,/F,01,,0,failed,0x80070005,DeleteFolder failed\r\n"},
        // Store names outside the ANSI code page, two stores of one name, rows without a name or an identifier.
        {"list -s \xE4\xB8\xAD\xE5\x9B\xBD --format csv", odd, 0, "", kListHeader + "P,\xE4\xB8\xAD\xE5\x9B\xBD,x,/F,01,,0\r\n"},
        {"list -s TWIN", odd, 2, "krvn: 2 stores of profile 'P' are named 'TWIN' (entryid D1, D2); choose one with --store-id HEX\r\n"},
        {"list --store-id d2 --format csv", odd, 0, "", kListHeader + "P,twin,t2,/F,04,,0\r\n"},
        {"list --all-stores --format csv", odd, 3,
         "krvn: a store of profile 'P' has no name in the store table (entryid E1); left out\r\n"
         "krvn: a store of profile 'P' has no entry identifier in the store table ('NoId'); left out\r\n",
         kListHeader + "P,\xE4\xB8\xAD\xE5\x9B\xBD,x,/F,01,,0\r\nP,Twin,t1,/F,03,,0\r\nP,twin,t2,/F,04,,0\r\n"},
        {"list -s noid", odd, 3, "krvn: store 'NoId' has no entry identifier in the store table; it cannot be opened\r\n"},
        // A name too long for the store table, of a store that cannot be opened: neither "no store named" nor "no name".
        {"list -s \"A long store name\"", kLongName, 3, "krvn: no store of profile 'P' is named 'A long store name' as far as could be read: "
         "the store with entryid C1 of profile 'P' could not be opened (hr=0x80040115), so its name, too long for the store table, "
         "could not be read; it may be that store\r\n"},
        {"list --all-stores --format csv", kLongName, 3, "krvn: the store with entryid C1 of profile 'P' could not be opened (hr=0x80040115), "
         "so its name, too long for the store table, could not be read; left out\r\n", kListHeader + "P,Good,x,/F,01,,0\r\n"},
        // A provider's success without the object it hands out is a failure, never a crash.
        {"profiles", "mapi fail=MAPIAdminProfiles:0x0\n", 3, "the profile table could not be read (hr=0x80004005)"},
        {"stores", "profile P default fail=Logon:0x0\n", 3, "the logon to profile 'P' failed (hr=0x80004005)"},
        {"stores", "profile P default fail=GetMsgStoresTable:0x0\n", 3, "the stores of profile 'P' could not be read (hr=0x80004005)"},
        {"list", Store("F fail=Open:0x0", ""), 3, "store 'S' has no finder folder that could be opened (hr=0x80004005)"},
        {"list", Store("F fail=GetHierarchyTable:0x0", "      folder x search\n"), 3, "in /F was reached: GetHierarchyTable failed (hr=0x80004005)", "0 search folders\r\n"},
        {"list", Store("F fail=QueryRows:0x0", "      folder x search\n"), 3, "in /F was reached: QueryRows failed (hr=0x80004005)", "0 search folders\r\n"},
        {"delete --all --format csv", Store("F fail=Open:0x0@2", "      folder x search id=01\n"), 1, "",  // the parent, opened to delete from
         kDeleteHeader + "P,S,x,/F,01,,0,failed,0x80004005,the folder that holds it could not be opened: OpenEntry failed\r\n"},
        // check: one line, exit 1 over the limit and 0 within it, nothing on standard error.
        {"check --over 4", kEvidence, 1, "", "5 search folders in 'S' match, over the limit of 4\r\n"},
        {"check --over 5", kEvidence, 0, "", "5 search folders in 'S' match, within the limit of 5\r\n"},
        {"check --over 999999999999999", kEvidence, 0, "", "5 search folders in 'S' match, within the limit of 999999999999999\r\n"},
        {"check --all-stores --over 6", kEvidence, 0, "", "6 search folders in 2 stores match, within the limit of 6\r\n"},
        {"check --name crm* --older-than 0 --over 0", kEvidence, 1, "", "1 search folder in 'S' matches, over the limit of 0\r\n"},
        {"check --criteria-like *invoice* --all-stores --over 1 --format json", kEvidence, 0, "",
         "{\"count\": 1, \"over\": 1, \"stores\": 2, \"exceeded\": false}\r\n"},
    };
    for (const auto& c : cases) {
        CAPTURE(c.args);
        Run run = Krvn(c.args, c.store);
        CHECK(run.code == c.code);
        CHECK((*c.err ? Contains(run.err, c.err) : run.err.empty()));
        CHECK(run.out == c.out);
    }
    std::string help = Krvn("--help", kStore).out;
    CHECK(Contains(help, "krvn check    [-p PROFILE] [STORES] [FILTERS] --over N"));
    CHECK(Contains(help, "[--exact-walk]"));
    CHECK(Contains(help, "5 interrupted by Ctrl+C or Ctrl+Break"));
}

TEST_CASE("names outside the code page: listed, grouped, selected and deleted as they are, by the table and the walk alike")
{
    REQUIRE(GetACP() != CP_UTF8);  // a code page that cannot hold most of these names
    const std::string store =
        "profile \"\u041F\u0440\u043E\u0444\u0438\u043B\u044C\" default\n  store \"\u041F\u043E\u0447\u0442\u0430 \u4E2D\u6587\" default id=AA\n"
        "    folder \"\u0412\u0445\u043E\u0434\u044F\u0449\u0438\u0435\" id=10\n    folder \"\u0395\u03B9\u03C3\u03B5\u03C1\u03C7\u03CC\u03BC\u03B5\u03BD\u03B1\" id=11\n"
        "    finder \"\u041F\u043E\u0438\u0441\u043A\"\n"
        "      folder \"\u041F\u043E\u0438\u0441\u043A 2023\" search id=01 criteria=\"exist(subject)\" "
        "scope=\"\u0412\u0445\u043E\u0434\u044F\u0449\u0438\u0435;\u0395\u03B9\u03C3\u03B5\u03C1\u03C7\u03CC\u03BC\u03B5\u03BD\u03B1\"\n"
        "      folder \"\u05D7\u05D9\u05E4\u05D5\u05E9\" search id=02\n"
        "      folder \"\u641C\u7D22 \U0001F600\" id=03\n        folder \"\U0001F600 Suche\" search id=04\n        folder Hello search id=05\n"
        "      folder \"\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC\" search id=06\n";
    const std::string at = "\u041F\u0440\u043E\u0444\u0438\u043B\u044C,\u041F\u043E\u0447\u0442\u0430 \u4E2D\u6587,", finder = "/\u041F\u043E\u0438\u0441\u043A";
    const std::string greek = "\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC", search = "\u041F\u043E\u0438\u0441\u043A 2023",
                      hebrew = "\u05D7\u05D9\u05E4\u05D5\u05E9", emoji = "\U0001F600 Suche";
    const std::string listed = "profile,store,name,path,entryid,modified,items,criteria,scope\r\n" +
        at + greek + "," + finder + ",06,,0,,\r\n" +
        at + search + "," + finder + ",01,,0,exist(subject),\u0412\u0445\u043E\u0434\u044F\u0449\u0438\u0435; \u0395\u03B9\u03C3\u03B5\u03C1\u03C7\u03CC\u03BC\u03B5\u03BD\u03B1\r\n" +
        at + hebrew + "," + finder + ",02,,0,,\r\n" + at + "Hello," + finder + "/\u641C\u7D22 \U0001F600,05,,0,,\r\n" +
        at + emoji + "," + finder + "/\u641C\u7D22 \U0001F600,04,,0,,\r\n";
    for (const char* walk : {"", " --exact-walk"}) {
        CAPTURE(walk);
        CHECK(Krvn(std::string("list --criteria --format csv") + walk, store).out == listed);
    }
    CHECK(Contains(Krvn("summary --format csv", store).out, ",\u041F\u043E\u0438\u0441\u043A *,1,1,"));
}

TEST_CASE("text is safe to print: control characters shown, long fields cut, a line per record; csv keeps every name exact")
{
    const std::string store = "profile \"P\x1B[2J\" default\n  store \"S\\rT\" default\n    finder F\n      folder \"" + std::string(10000, 'x') +
                              "\" search id=01\n      folder \"a\\tb\x7F\" search id=02\n      folder \"G\x1B]0;t\x07\u2066\" fail=GetHierarchyTable:0x80040115\n"
                              "      folder \"invoice\u202Efdp.exe\" search id=03\n      folder \"line\u2028two\u2029\" search id=04\n";
    Run text = Krvn("list --exact-walk", store);
    CHECK(text.code == 3);
    std::vector<std::string> lines = SplitLines(text.out);
    CHECK(lines.size() == 6);
    for (const std::string& line : lines)
        CHECK(std::none_of(line.begin(), line.end(), [](char c) { return (c >= 0 && c < 0x20) || c == 0x7F; }));
    CHECK((Contains(text.out, "P\\x1B[2J  S\\rT") && Contains(text.out, "a\\tb\\x7F") && Contains(text.out, std::string(79, 'x') + "\xE2\x80\xA6 ")));
    CHECK((Contains(text.out, "invoice\\u202Efdp.exe ") && Contains(text.out, "line\\u2028two\\u2029 ")));
    CHECK(!Contains(text.out, std::string(80, 'x')));
    CHECK(text.err == "krvn: store 'S\\rT': not everything in /F/G\\x1B]0;t\\x07\\u2066 was reached: GetHierarchyTable failed (hr=0x80040115)\r\n");
    Run csv = Krvn("list --format csv", store);
    CHECK((Contains(csv.out, "\"S\rT\"," + std::string(10000, 'x') + ",") && Contains(csv.out, "a\tb\x7F,") &&
           Contains(csv.out, "invoice\u202Efdp.exe,")));

    // No name passes for another: invisible and format characters are shown too, a character beyond
    // the BMP as one escape; CSV keeps them.
    const std::string invisible = Store("F", "      folder \"In\u200Bbox\" search id=01\n      folder \"soft\u00ADhy\u2060phen\" search id=02\n"
                                             "      folder \"\uFEFFtag\U000E0041\u061C\" search id=03\n      folder Inbox search id=04\n");
    Run shown = Krvn("list", invisible);
    for (const char* escaped : {"In\\u200Bbox ", "soft\\xADhy\\u2060phen ", "\\uFEFFtag\\U000E0041\\u061C "}) CHECK(Contains(shown.out, escaped));
    CHECK(Contains(Krvn("list --format csv", invisible).out, "P,S,In\u200Bbox,/F,01,"));

    // Every message that names a file shows it as names are shown: one line, its direction kept.
    std::string odd = TempPath("odd") + "\u202E\u2028", notFolder = TempPath("plain");
    WriteTextFile(notFolder, "");
    HANDLE oddFile = CreateFileW(FromUtf8(odd + ".jsonl").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    CHECK((WriteFile(oddFile, "not a record\n", 13, &written, nullptr) && CloseHandle(oddFile)));
    const struct { std::string args, message; } messages[] = {
        {"check --over 1 --log \"" + notFolder + "\\" + odd.substr(odd.rfind('\\') + 1) + "\"", "the log file '"},
        {"delete --all --backup \"" + notFolder + "\\x\u202E.jsonl\"", "the backup file '"},
        {"restore --from \"" + odd + "-none.jsonl\"", "the backup file '"},
        {"restore --from \"" + odd + ".jsonl\"", "line 1: not a JSON object; left out"},
    };
    for (const auto& m : messages) {
        CAPTURE(m.args);
        Run run = Krvn(m.args, kEvidence);
        CHECK(run.code == 3);
        CHECK((Contains(run.err, m.message) && Contains(run.err, "\\u202E") && !Contains(run.err, "\u202E") && !Contains(run.err, "\u2028")));
        CHECK(SplitLines(run.err).size() == 1);
    }
}

TEST_CASE("a store left out is named as not read: in delete's json and the record, with its reason; the summary does not count it")
{
    const std::string store = "profile P default\n  store Good default\n    finder F\n      folder x search id=01\n"
                              "  store Bad fail=OpenMsgStore:0x80040115\n  store NoId missing=entryid\n"
                              "  store \"A long name\" rowlimit=4 fail=OpenMsgStore:0x80040116\n";
    std::string log = TempPath("left-out.log");
    Run del = Krvn("delete --all --all-stores --format json --log \"" + log + "\"", store);
    CHECK(del.code == 3);
    JsonFlat out, record;
    REQUIRE((ReadJson(del.out, out) && ReadJson(ReadTextFile(log), record)));
    for (JsonFlat* json : {&out, &record}) {
        JsonFlat& j = *json;
        CHECK(j["incomplete.#"] == "3");
        CHECK((j["incomplete.0.store"] == "NoId" && j["incomplete.0.path"] == "null" && j["incomplete.0.step"] == "store table"));
        // A name the store table refused, of a store that cannot be opened: the opening's HRESULT.
        CHECK((j["incomplete.1.store"] == "null" && j["incomplete.1.step"] == "OpenMsgStore" && j["incomplete.1.hr"] == "0x80040116" &&
               j["incomplete.1.reason"] == "the store could not be opened (hr=0x80040116)"));
        CHECK((j["incomplete.2.store"] == "Bad" && j["incomplete.2.path"] == "null" && j["incomplete.2.hr"] == "0x80040115" &&
               j["incomplete.2.reason"] == "the store could not be opened (hr=0x80040115)"));
    }
    CHECK((record["stores.#"] == "1" && record["stores.0"] == "Good" && record["deleted"] == "1"));
    Run summary = Krvn("summary --all-stores", store);
    CHECK(summary.code == 3);
    CHECK((Contains(summary.out, "\r\n1 store, 1 search folder; 3 stores left out, not read\r\n") && !Contains(summary.out, "Bad")));
}

TEST_CASE("a damaged store: everything reached is listed and acted on, each damaged place reported, exit 3")
{
    auto with = [](const std::string& g) {  // G's attributes
        return "      folder a search id=01\n      folder G" + g + "\n        folder g1 search id=11\n        folder g2 search id=12\n"
               "      folder z search id=02\n";
    };
    // |walk| and |deep|: the names listed and the trouble reported; the deep table reaches more where
    // only the opening or reading of a folder fails, as it needs neither.
    const struct { std::string finder, body; std::vector<std::string> walk; const char* walkErr; std::vector<std::string> deep; const char* deepErr; } cases[] = {
        {"F", with(" fail=GetHierarchyTable:0x80040115"), {"a", "z"}, "not everything in /F/G was reached: GetHierarchyTable failed (hr=0x80040115)",
         {"a", "z", "g1", "g2"}, ""},
        {"F", with(" fail=Open:0x8004010f"), {"a"}, "not everything in /F was reached: OpenEntry failed (hr=0x8004010F)", {"a", "z", "g1", "g2"}, ""},
        {"F", with(" fail=GetProps:0x80040115"), {"a", "z"}, "not everything in /F was reached: GetProps failed (hr=0x80040115)", {"a", "z", "g1", "g2"}, ""},
        {"F", with(" missing=name"), {"a", "z"}, "not everything in /F was reached: a folder lacks its name, folder type or entry identifier (hr=0x80004005)",
         {"a", "z"}, "not everything in /F was reached: a folder lacks its name, folder type or entry identifier (hr=0x8004010F)"},
        {"F", with(" missing=entryid"), {"a"}, "not everything in /F was reached: a folder's row has no entry identifier (hr=0x80004005)",
         {"a", "z"}, "not everything in /F was reached: a folder's row has no entry identifier (hr=0x8004010F)"},
        {"F nodeep=0x80040102 batch=2 fail=QueryRows:0x80040115@2", with(""), {"a", "g1", "g2"},
         "not everything in /F was reached: QueryRows failed (hr=0x80040115)", {"a", "g1", "g2"}, "not everything in /F was reached: QueryRows failed (hr=0x80040115)"},
        {"F fail=GetProps:0x80040115", with(""), {}, "the finder folder could not be read: GetProps failed (hr=0x80040115)",
         {}, "the finder folder could not be read: GetProps failed (hr=0x80040115)"},
        // A name as long as a table's usual cut is read again from its folder: when that fails, it is not taken as whole.
        {"F", "      folder " + std::string(255, 'n') + " search id=01 fail=GetProps:0x80040115\n      folder z search id=02\n", {"z"},
         "not everything in /F was reached: GetProps failed (hr=0x80040115)", {"z"}, "not everything in /F was reached: GetProps failed (hr=0x80040115)"},
    };
    for (const auto& c : cases) {
        for (bool walk : {true, false}) {
            CAPTURE(c.finder + c.body);
            CAPTURE(walk);
            std::string store = Store(c.finder, c.body), err = walk ? c.walkErr : c.deepErr;
            Run run = Krvn(std::string("list --format json") + (walk ? " --exact-walk" : ""), store);
            CHECK(JsonColumn(run.out, "name") == (walk ? c.walk : c.deep));
            CHECK(run.code == (err.empty() ? 0 : 3));
            CHECK(run.err == (err.empty() ? "" : "krvn: store 'S': " + err + "\r\n"));
        }
    }
    // A deletion acts on what was reached, and its record says what was not.
    Run run = Krvn("delete --all --format json", Store("F nodeep=0x80040102 batch=2 fail=QueryRows:0x80040115@2", with("")));
    CHECK(run.code == 3);
    CHECK(FolderNames(run.storeAfter) == std::vector<std::string>{"G", "z"});
    CHECK(Contains(run.out, "\"incomplete\": [\r\n    {\"store\": \"S\", \"path\": \"/F\", \"step\": \"QueryRows\", \"hr\": \"0x80040115\", "
                            "\"reason\": \"not everything in /F was reached: QueryRows failed (hr=0x80040115)\"}\r\n  ]\r\n}\r\n"));
}

TEST_CASE("a provider that cuts its rows' identifiers or names never makes krvn reach another folder")
{
    // Cut identifiers collide, or no longer name the finder: the walk decides. Cut names are read from the folders.
    const std::string collide = Store("F id=0F tablecut=2", "      folder A search id=0102\n      folder B search id=010203\n");
    Run b = Krvn("delete --name B --format csv", collide);
    CHECK(b.out == kDeleteHeader + "P,S,B,/F,010203,,0,deleted,,\r\n");
    CHECK(FolderNames(b.storeAfter) == std::vector<std::string>{"A"});
    const std::string longIds = Store("F id=00112233445566778899AABBCCDDEEFF tablecut=10",
                                      "      folder A search id=0102030405060708090A0B0C0D0E0F10\n"
                                      "      folder B search id=1112131415161718191A1B1C1D1E1F20\n");
    Run all = Krvn("delete --all --format csv", longIds);
    CHECK((all.code == 0 && FolderNames(all.storeAfter).empty()));
    // Only the longer of two identifiers is cut: it is the one compared with its folder's own.
    Run cut = Krvn("delete --name B --format csv", Store("F id=0F tablecut=3", "      folder A search id=0102\n      folder B search id=0102030405\n"));
    CHECK(cut.out == kDeleteHeader + "P,S,B,/F,0102030405,,0,deleted,,\r\n");
    CHECK(FolderNames(cut.storeAfter) == std::vector<std::string>{"A"});
    const std::string names = Store("F id=0F tablecut=3", "      folder CRM-keep search id=01\n      folder CRM-gone search id=02\n");
    Run gone = Krvn("delete --name crm-gone --format csv", names);
    CHECK(gone.out == kDeleteHeader + "P,S,CRM-gone,/F,02,,0,deleted,,\r\n");
    CHECK(FolderNames(gone.storeAfter) == std::vector<std::string>{"CRM-keep"});
}

TEST_CASE("one order of records, folder by folder, whatever order the provider hands out; deletion follows it")
{
    const std::string body = "      folder zeta search id=01\n      folder Beta\n        folder b2 search id=02\n        folder B1 search id=03\n"
                             "      folder alpha search id=04\n      folder \"a b\"\n        folder x search id=05\n"
                             "      folder a\n        folder b\n          folder y search id=06 fail=DeleteFolder:0x80070005\n";
    const std::string expected = kDeleteHeader + "P,S,alpha,/F,04,,0,deleted,,\r\nP,S,zeta,/F,01,,0,deleted,,\r\n"
                                 "P,S,y,/F/a/b,06,,0,failed,0x80070005,DeleteFolder failed\r\nP,S,x,/F/a b,05,,0,not-reached,,\r\n"
                                 "P,S,B1,/F/Beta,03,,0,not-reached,,\r\nP,S,b2,/F/Beta,02,,0,not-reached,,\r\n";
    for (const char* provider : {"", " deeporder=breadth", " deeporder=reverse", " depthbase=0", " nodeep=0x80040102"}) {
        for (const char* walk : {"", " --exact-walk"}) {
            CAPTURE(provider);
            CAPTURE(walk);
            Run run = Krvn(std::string("delete --all --format csv") + walk, Store(std::string("F") + provider, body));
            CHECK(run.out == expected);
            CHECK(FolderNames(run.storeAfter) == std::vector<std::string>{"Beta", "b2", "B1", "a b", "x", "a", "b", "y"});
        }
    }
}

TEST_CASE("where output goes: unwritable, exit 4 after the work; on a console, the progress line gone before the records; Ctrl+C, exit 5")
{
    Run unwritable = Krvn("delete --all --format csv", Store("F", "      folder x search\n"), Io::ReadOnlyOut);
    CHECK(unwritable.code == 4);
    CHECK(Contains(unwritable.err, "krvn: the output could not be written (Access denied)"));
    CHECK(FolderNames(unwritable.storeAfter).empty());
    OnConsole();
    ClearConsole();
    Run list = Krvn("list --format csv", kStore, Io::Console);
    CHECK(list.code == 0);
    CHECK(ConsoleRow(0) == L"profile,store,name,path,entryid,modified,items");

    std::string body;
    for (int i = 0; i < 6; ++i) body += "      folder s" + std::to_string(i) + " search\n";
    MapiSim files(Store("F", body), true, false);
    std::string log = files.logPath;
    // Each call takes 200 ms; once the first folder is gone, Ctrl+C.
    SetEnvironmentVariableA("MAPISIM_LATENCY_US", "200000");
    ProcessRun run = RunProcess("\"" + ProgramFolder() + "krvn.exe\" delete --all --format json", Io::FilesOnConsole, [](void* context) {
        if (!Contains(ReadTextFile(*static_cast<std::string*>(context)), "DeleteFolder ")) return true;
        PressCtrlC();
        return false;
    }, &log);
    SetEnvironmentVariableA("MAPISIM_LATENCY_US", nullptr);
    CHECK(run.code == 5);
    std::vector<std::string> outcomes = JsonColumn(run.out, "outcome");
    REQUIRE(outcomes.size() == 6);
    size_t deleted = std::count(outcomes.begin(), outcomes.end(), "deleted");
    CHECK((deleted >= 1 && deleted < 6));
    CHECK(std::count(outcomes.begin(), outcomes.end(), "not-reached") == long(6 - deleted));
    CHECK(FolderNames(files.StoreText()).size() == 6 - deleted);
}

TEST_CASE("the samples: the PowerShell scripts run what the README shows, the cmd scripts under cmd")
{
    std::string readme = ReadTextFile(ProgramFolder() + "README.md");
    for (const char* script : {"detect.ps1", "remediate.ps1"}) {
        // Each calls krvn.exe with its arguments and passes its exit code on, as the README shows.
        std::vector<std::string> lines = SplitLines(ReadTextFile(ProgramFolder() + script));
        CAPTURE(script);
        REQUIRE(lines.size() >= 2);
        const std::string call = lines[lines.size() - 2], prefix = "& \"C:\\Program Files\\Korvane\\krvn.exe\" ";
        REQUIRE(call.compare(0, prefix.size(), prefix) == 0);
        CHECK((lines.back() == "exit $LASTEXITCODE" && Contains(readme, call + "\n" + lines.back() + "\n")));
        Run run = Krvn(call.substr(prefix.size()), kStore);
        CHECK((run.code == 0 && run.err.empty()));
    }
    auto sample = [](const char* script, const char* args) { return Start("cmd.exe /c \"" + ProgramFolder() + script + "\" " + args, kStore); };
    CHECK(sample("detect.cmd", "3").code == 1);
    CHECK(sample("detect.cmd", "4").code == 0);
    CHECK(FolderNames(sample("remediate.cmd", "c*").storeAfter) ==
          std::vector<std::string>{"Ungelesen, \"wichtig\"", "Gr\xC3\xB6\xC3\x9F" "er als 5 MB", "A/B", "Tab\tund\nZeile", "alt"});
}

TEST_CASE("after a deep scan, the backup reads each folder once, then deletion opens each parent once from the identifier its row names")
{
    Run run = Krvn("delete --all --format csv", Store("F", "      folder G\n        folder x1 search id=01\n        folder x2 search id=03\n"
                                                         "      folder y search id=02\n"));
    CHECK(run.code == 0);
    std::vector<std::string> calls;
    for (const std::string& line : SplitLines(run.log))
        for (const char* call : {"OpenEntry ", "DeleteFolder ", "GetSearchCriteria "})
            if (line.compare(0, strlen(call), call) == 0) calls.push_back(line);
    auto read = [](const std::string& folder) {
        return std::vector<std::string>{"OpenEntry on=\"P/S\" target=\"P/S/F/" + folder + "\" iid=null flags=0x00000000 -> 0x00000000",
                                        "GetSearchCriteria object=\"P/S/F/" + folder + "\" flags=0x80000000 -> 0x80040605"};
    };
    std::vector<std::string> expected = {"OpenEntry on=\"P/S\" target=\"P/S/F\" iid=null flags=0x00000001 -> 0x00000000"};  // the scan's finder
    for (const char* folder : {"y", "G/x1", "G/x2"}) for (const std::string& line : read(folder)) expected.push_back(line);
    expected.insert(expected.end(), {
        "OpenEntry on=\"P/S\" target=\"P/S/F\" iid=null flags=0x00000001 -> 0x00000000",
        "DeleteFolder on=\"P/S/F\" target=\"P/S/F/y\" ui=null progress=null flags=0x00000004 -> 0x00000000",
        "OpenEntry on=\"P/S\" target=\"P/S/F/G\" iid=null flags=0x00000001 -> 0x00000000",
        "DeleteFolder on=\"P/S/F/G\" target=\"P/S/F/G/x1\" ui=null progress=null flags=0x00000004 -> 0x00000000",
        "DeleteFolder on=\"P/S/F/G\" target=\"P/S/F/G/x2\" ui=null progress=null flags=0x00000004 -> 0x00000000"});
    CHECK(calls == expected);
}

TEST_CASE("the renderer: the language read back as written, what it does not know as unknown, any depth or breadth cut at the limit")
{
    // Restrictions as mapisim builds them from the language for GetSearchCriteria in Unicode.
    auto build = [](const std::string& text) {
        std::string error;
        LPSRestriction built = nullptr;
        mapisim::BuildRestriction(*mapisim::ParseRestriction(text, error), true, &built);
        return std::shared_ptr<SRestriction>(built, [](SRestriction* r) { mapisim::FreeBuffer(r); });
    };
    for (const char* text : {  // every restriction, both string types, every value type
             "and(prop(class = \"IPM.Note\"), content(subject, \"in\\\\voice \\\"2\\\"\", substring|ignorecase), not(bitmask(flags, nez, 0x00000001)))",
             "or(prop(importance >= 2), prop(has_attachments = true), prop(received < 2020-02-29T23:59:59Z), prop(0x12340102 != bin:00FF))",
             "and(content(0x0037001E, \"ANSI \xC3\xBC\", prefix|loose), content(body, \"x\", full|ignorecase|loose), prop(flag_status <= -1))",
             "or(compare(sent > modified), size(message_size like 4096), exist(0x12340003), prop(to > false))",
             "sub(recipients, or(content(address, \"@example.com\", substring), prop(sender_address = \"a@b\")))"}) {
        std::wstring rendered;
        CHECK(RenderRestriction(build(text).get(), rendered));
        CHECK(rendered == FromUtf8(text));
    }
    // Then made what no store file can say.
    auto known = build("or(prop(0x12340003 > 1), content(0x0037001E, \"a\\\"b\\\\c\", full), prop(sent < 2020-01-01T00:00:00Z), exist(body))");
    SRestriction* r = known->res.resOr.lpRes;
    r[0].res.resProperty.lpProp->ulPropTag = 0x12340005;  // a double
    r[1].res.resContent.ulFuzzyLevel = 7 | FL_IGNORECASE;
    r[2].res.resProperty.relop = 9;
    r[2].res.resProperty.lpProp->Value.ft = {0xFFFFFFFF, 0xFFFFFFFF};
    r[3].rt = RES_COMMENT;
    std::wstring text;
    CHECK(RenderRestriction(known.get(), text));
    CHECK(text == L"or(prop(0x12340003 > unknown(0x05)), content(0x0037001E, \"a\\\"b\\\\c\", unknown(0x07)|ignorecase), "
                  L"prop(sent unknown(0x09) unknown(0x40)), unknown(0x0A))");
    // A cut never splits a character of two UTF-16 units.
    std::wstring pair;
    CHECK_FALSE(RenderRestriction(build("prop(body = \"" + std::string(kCriteriaLimit - 15, 'x') + "\xF0\x9F\x98\x80yy\")").get(), pair));
    CHECK(pair == L"prop(body = \"" + std::wstring(kCriteriaLimit - 15, L'x') + L"\u2026");
    // Hostile shapes: 10,000 deep, 100,000 branches, a string of 100,000 characters.
    std::vector<SRestriction> deep(10000, *build("exist(body)"));
    for (size_t i = 0; i + 1 < deep.size(); ++i) deep[i].rt = RES_NOT, deep[i].res.resNot = {0, &deep[i + 1]};
    std::string branches = "or(exist(body)";
    for (int i = 1; i < 100000; ++i) branches += ", exist(body)";
    auto wide = build(branches + ")"), huge = build("prop(body = \"" + std::string(100000, 'x') + "\")");
    for (const SRestriction* hostile : {&deep[0], wide.get(), huge.get()}) {
        Found folder = {};
        folder.criteria.read = true;
        folder.criteria.cut = !RenderRestriction(hostile, folder.criteria.text);
        CHECK(folder.criteria.cut);
        CHECK(folder.criteria.text.size() == kCriteriaLimit);
        CHECK(folder.criteria.text.back() == L'\u2026');
        Options options;  // a text cut short cannot be judged: no pattern matches it
        options.hasCriteriaLike = true;
        options.criteriaLike = L"*";
        CHECK_FALSE(PassesCriteria(options, folder));
    }
}

TEST_CASE("summary: counts, empties, oldest and newest per store; names grouped as --name matches them, each group's selection counted")
{
    Run csv = Krvn("summary --all-stores --format csv", kEvidence);
    CHECK(csv.code == 0);
    const std::string s = "P,S,5,3,1990-01-01T00:00:00Z,2090-01-01T00:00:00Z,";
    CHECK(csv.out == "profile,store,search_folders,empty,oldest,newest,pattern,count,selects,group_oldest,group_newest\r\n" +
                     s + "Cache *,2,2,1995-05-05T00:00:00Z,1995-05-05T00:00:00Z\r\n" + s + "CRM Search *,2,2,1990-01-01T00:00:00Z,2090-01-01T00:00:00Z\r\n" +
                     s + "Unread,1,1,2000-01-01T00:00:00Z,2000-01-01T00:00:00Z\r\n"
                     "P,T,1,1,1990-06-01T00:00:00Z,1990-06-01T00:00:00Z,CRM Search *,1,1,1990-06-01T00:00:00Z,1990-06-01T00:00:00Z\r\n");
    Run json = Krvn("summary --empty --format json", kEvidence);
    CHECK(json.out == "{\r\n  \"stores\": [\r\n    {\"profile\": \"P\", \"store\": \"S\", \"search_folders\": 3, \"empty\": 3, "
                      "\"oldest\": \"1990-01-01T00:00:00Z\", \"newest\": \"2090-01-01T00:00:00Z\", \"groups\": ["
                      "{\"pattern\": \"CRM Search *\", \"count\": 2, \"selects\": 2, \"oldest\": \"1990-01-01T00:00:00Z\", \"newest\": \"2090-01-01T00:00:00Z\"}, "
                      "{\"pattern\": \"Cache *\", \"count\": 1, \"selects\": 1, \"oldest\": \"1995-05-05T00:00:00Z\", \"newest\": \"1995-05-05T00:00:00Z\"}]}\r\n  ],\r\n"
                      "  \"incomplete\": []\r\n}\r\n");
    const struct { const char* name, *pattern; } groups[] = {
        {"CRM Search 4711", "CRM Search *"}, {"Cache 1a2b3c4d5e", "Cache *"}, {"deadbeefcafe", "deadbeefcafe"}, {"abc12345678def x9", "* x*"},
        {"v2 2024-01-05", "v* *-*-*"}, {"id 1234abc", "id *abc"}, {"x 1234abcd", "x *"}, {"*?[", "*?["},
    };
    for (const auto& g : groups) {
        std::wstring name = FromUtf8(g.name), pattern = GroupPattern(name);
        CHECK(pattern == FromUtf8(g.pattern));
        CHECK(MatchesPattern(name, pattern));
    }
    // Case variants make one group; bare identifiers group as "*"; a pattern may pick bystanders too:
    // each group's "selects" is exactly what delete --name picks with it.
    const std::string store = Store("F", "      folder \"CRM Search 4711\" search\n      folder \"crm search 7\" search\n"
                                         "      folder \"CRM Search 12\" search\n      folder 3f2504e04f8911d3 search\n      folder a1b2c3d4e5f60718 search\n"
                                         "      folder \"Hello 1\" search\n      folder \"Hello 1 2\" search\n      folder Hello search\n");
    JsonFlat summary;
    REQUIRE(ReadJson(Krvn("summary --format json", store).out, summary));
    REQUIRE(summary["stores.0.groups.#"] == "5");
    CHECK((summary["stores.0.groups.0.pattern"] == "CRM Search *" && summary["stores.0.groups.0.count"] == "3"));
    for (int i = 0; i < 5; ++i) {
        std::string group = "stores.0.groups." + std::to_string(i) + ".";
        CAPTURE(summary[group + "pattern"]);
        Run dry = Krvn("delete --dry-run --format json --name \"" + summary[group + "pattern"] + "\"", store);
        CHECK(std::to_string(JsonColumn(dry.out, "name").size()) == summary[group + "selects"]);
    }
    std::string text = Krvn("summary", store).out;  // the text marks a group that selects more, and one that selects any name
    CHECK((Contains(text, "  Hello *       1      2 (+1 others)\r\n") && Contains(text, "  * (any name)  2      8 (+6 others)\r\n")));
}

TEST_CASE("--log: one JSON record per run, appended whole by runs at once; a log that cannot be opened stops all")
{
    std::string folder = TempPath("audit"), log = folder + "\\deeper\\audit.log";
    DeleteFileA(log.c_str());  // from an earlier run of this program
    SetEnvironmentVariableA("KRVN_TEST_LOG", log.c_str());
    const std::string krvn = "\"" + ProgramFolder() + "krvn.exe\" ";
    Krvn("delete --name cache* --dry-run --log %KRVN_TEST_LOG%", kEvidence);
    Krvn("delete --name unread --log \"%KRVN_TEST_LOG%\"", kEvidence);
    Krvn("check --over 1 --log %KRVN_TEST_LOG%", kEvidence);
    std::vector<std::string> lines = SplitLines(ReadTextFile(log));
    REQUIRE(lines.size() == 3);
    JsonFlat dry, real, check;
    REQUIRE((ReadJson(lines[0], dry) && ReadJson(lines[1], real) && ReadJson(lines[2], check)));
    CHECK((dry["command.#"] == "6" && dry["command.5"] == "%KRVN_TEST_LOG%"));  // the arguments as given
    CHECK((dry["would_delete"] == "2" && dry["folders.#"] == "2" && dry["folders.1.outcome"] == "would-delete"));
    CHECK((real["profile"] == "P" && real["stores.0"] == "S" && real["deleted"] == "1" && real["exit_code"] == "0"));
    CHECK((real["folders.0.name"] == "Unread" && real["folders.0.modified"] == "2000-01-01T00:00:00Z" && real["folders.0.items"] == "4"));
    CHECK((check["count"] == "5" && check["over"] == "1" && check["exceeded"] == "true" && check["exit_code"] == "1"));
    CHECK((check["time"].size() == 20 && !check["computer"].empty() && !check["user"].empty()));

    // Runs appending at once: every record whole, none lost.
    std::string many;
    for (int i = 0; i < 300; ++i) many += "      folder \"search folder with a long name " + std::to_string(i) + "\" search\n";
    MapiSim files(Store("F", many), false, false);
    for (const ProcessRun& run : RunProcesses(std::vector<std::string>(8, krvn + "delete --all --dry-run --log %KRVN_TEST_LOG%")))
        CHECK((run.code == 0 && run.err.empty()));
    lines = SplitLines(ReadTextFile(log));
    REQUIRE(lines.size() == 11);
    for (size_t i = 3; i < 11; ++i) CHECK((ReadJson(lines[i], check) && check["folders.#"] == "300"));
    // They take turns by a lock on the byte at 2^63 - 2: while another holds it, a run waits to append.
    struct Turn { HANDLE file; OVERLAPPED at; int polls; std::string log; bool waited; } turn = {
        CreateFileA(log.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr), {}, 0, log, false};
    turn.at.Offset = 0xFFFFFFFE;
    turn.at.OffsetHigh = 0x7FFFFFFF;
    REQUIRE(LockFileEx(turn.file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn.at));
    RunProcess(krvn + "check --over 1 --log %KRVN_TEST_LOG%", Io::Files, [](void* context) {
        Turn& t = *static_cast<Turn*>(context);
        if (++t.polls < 30) return true;
        t.waited = SplitLines(ReadTextFile(t.log)).size() == 11;
        UnlockFileEx(t.file, 0, 1, 0, &t.at);
        return false;
    }, &turn);
    CloseHandle(turn.file);
    CHECK(turn.waited);
    CHECK(SplitLines(ReadTextFile(log)).size() == 12);

    // A relative path makes its folders too, whatever the length of the first.
    char here[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, here);
    SetCurrentDirectoryA(folder.c_str());
    DeleteFileA("ab\\s.log");
    Krvn("check --over 1 --log ab\\s.log", kEvidence);
    SetCurrentDirectoryA(here);
    CHECK(SplitLines(ReadTextFile(folder + "\\ab\\s.log")).size() == 1);

    // A log that cannot be opened: nothing is done, and the message names the file.
    WriteTextFile(folder + "-file", "");
    Run refused = Krvn("delete --all --log \"" + folder + "-file\\audit.log\"", kEvidence);
    CHECK(refused.code == 3);
    CHECK(Contains(refused.err, "krvn: the log file '" + folder + "-file\\audit.log' cannot be opened for appending ("));
    CHECK(refused.storeAfter == kEvidence);
    CHECK(refused.log.empty());
}
