#include "model.h"

#include <stdio.h>

#include <algorithm>

namespace mapisim {

namespace {

// Identifiers of generated ids keep counting across reloads, so that the id
// of a folder deleted in this process is never handed out again; a store line
// carries the count on (nextid=), so that no later process hands it out either.
unsigned long long g_nextId = 1;

bool IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

struct Token {
    std::string key;    // for key=value; empty for a plain word
    std::string value;  // the word, or the value
};

// Splits the rest of a line into tokens separated by single spaces. A word
// or a value may be double-quoted, with \" and \\ as escapes.
bool Tokenize(const std::string& line, size_t pos, std::vector<Token>& tokens, std::string& error)
{
    while (pos < line.size()) {
        Token token;
        std::string current;
        bool sawEquals = false;
        while (pos < line.size() && line[pos] != ' ') {
            char c = line[pos];
            if (c == '"') {
                ++pos;
                bool closed = false;
                while (pos < line.size()) {
                    char q = line[pos++];
                    if (q == '\\') {
                        if (pos >= line.size()) break;
                        char e = line[pos++];
                        // \n, \r and \t let a name hold line breaks and tabs.
                        if (e == 'n') e = '\n';
                        else if (e == 'r') e = '\r';
                        else if (e == 't') e = '\t';
                        else if (e != '"' && e != '\\') {
                            error = "unknown escape \\" + std::string(1, e) + " in quoted text";
                            return false;
                        }
                        current += e;
                    } else if (q == '"') {
                        closed = true;
                        break;
                    } else {
                        current += q;
                    }
                }
                if (!closed) {
                    error = "unterminated quote";
                    return false;
                }
                continue;
            }
            if (c == '=' && !sawEquals) {
                sawEquals = true;
                token.key = current;
                current.clear();
                ++pos;
                continue;
            }
            current += c;
            ++pos;
        }
        if (sawEquals && token.key.empty()) {
            error = "attribute without a name";
            return false;
        }
        token.value = current;
        tokens.push_back(token);
        if (pos < line.size()) {
            ++pos;  // the single space
            if (pos < line.size() && line[pos] == ' ') {
                error = "expected a single space between fields";
                return false;
            }
            if (pos == line.size()) {
                error = "trailing space";
                return false;
            }
        }
    }
    return true;
}

bool ParseHr(const std::string& text, HRESULT& hr)
{
    std::string digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) digits = digits.substr(2);
    if (digits.empty() || digits.size() > 8) return false;
    unsigned long value = 0;
    for (char c : digits) {
        if (!IsHex(c)) return false;
        value = value * 16 + HexValue(c);
    }
    hr = static_cast<HRESULT>(value);
    return true;
}

const std::set<std::string>& CallsOf(Kind kind)
{
    static const std::set<std::string> mapi = {"MAPIInitialize", "MAPIAdminProfiles", "GetProfileTable",
                                               "SetColumns", "QueryRows"};
    static const std::set<std::string> profile = {"Logon", "GetMsgStoresTable", "SetColumns", "QueryRows"};
    static const std::set<std::string> store = {"OpenMsgStore", "GetProps", "OpenEntry"};
    static const std::set<std::string> folder = {"Open", "GetProps", "GetHierarchyTable", "SetColumns", "QueryRows",
                                                 "DeleteFolder", "GetSearchCriteria", "CreateFolder", "SetSearchCriteria"};
    switch (kind) {
    case Kind::Mapi: return mapi;
    case Kind::Profile: return profile;
    case Kind::Store: return store;
    default: return folder;
    }
}

bool MissingAllowed(Kind kind, const std::string& name)
{
    if (name == "name" || name == "entryid") return true;
    if (name == "default") return kind == Kind::Profile || kind == Kind::Store;
    if (name == "finder") return kind == Kind::Store;
    if (name == "foldertype" || name == "parent") return kind == Kind::Finder || kind == Kind::Folder;
    return false;
}

const char* KeywordOf(Kind kind)
{
    switch (kind) {
    case Kind::Mapi: return "mapi";
    case Kind::Profile: return "profile";
    case Kind::Store: return "store";
    case Kind::Finder: return "finder";
    default: return "folder";
    }
}

} // namespace

std::string ToAnsi(const std::string& utf8)
{
    if (utf8.empty()) return utf8;
    int wide = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (wide <= 0) return utf8;
    std::wstring w(wide, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &w[0], wide);
    int narrow = WideCharToMultiByte(CP_ACP, 0, w.data(), wide, nullptr, 0, nullptr, nullptr);
    if (narrow <= 0) return utf8;
    std::string a(narrow, '\0');
    WideCharToMultiByte(CP_ACP, 0, w.data(), wide, &a[0], narrow, nullptr, nullptr);
    return a;
}

std::wstring Utf16FromUtf8(const std::string& utf8)
{
    int length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(length > 0 ? length : 0, L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], length);
    return wide;
}

unsigned long long HashMore(unsigned long long hash, const std::string& text)
{
    if (!hash) hash = 14695981039346656037ull;
    for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

std::string Utf8FromWide(const wchar_t* wide)
{
    int length = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) return std::string();
    std::string out(length, '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, &out[0], length, nullptr, nullptr);
    out.resize(length - 1);
    return out;
}

std::string Utf8FromAnsi(const char* ansi)
{
    int length = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    if (length <= 1) return std::string();
    std::wstring wide(length, L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, &wide[0], length);
    return Utf8FromWide(wide.c_str());
}

std::string QuoteIfNeeded(const std::string& text)
{
    bool needs = text.empty() || text[0] == '#';
    for (char c : text)
        if (c == ' ' || c == '=' || c == '"' || c == '\\' || c == '\n' || c == '\r' || c == '\t') needs = true;
    if (!needs) return text;
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n') { out += "\\n"; continue; }
        if (c == '\r') { out += "\\r"; continue; }
        if (c == '\t') { out += "\\t"; continue; }
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

Node* Model::NewNode(Kind kind)
{
    nodes_.push_back(std::make_unique<Node>());
    Node* node = nodes_.back().get();
    node->kind = kind;
    return node;
}

bool Model::Parse(const std::string& input, std::string& error)
{
    std::string text = input;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text = text.substr(3);
    std::vector<Node*> last;  // the last node seen at each indentation level
    int lineNumber = 0;
    size_t start = 0;
    auto fail = [&](const std::string& what) {
        error = "line " + std::to_string(lineNumber) + ": " + what;
        return false;
    };
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t indent = 0;
        while (indent < line.size() && line[indent] == ' ') ++indent;
        if (indent == line.size()) {
            if (end == text.size()) break;
            continue;  // blank
        }
        if (line[indent] == '#') continue;
        if (line[indent] == '\t') return fail("tab in indentation; indent with two spaces per level");
        if (indent % 2) return fail("indentation of " + std::to_string(indent) + " spaces; expected a multiple of two");
        int level = static_cast<int>(indent / 2);
        if (last.size() < static_cast<size_t>(level) + 1) last.resize(level + 1, nullptr);

        size_t space = line.find(' ', indent);
        std::string keyword = line.substr(indent, space == std::string::npos ? std::string::npos : space - indent);
        std::vector<Token> tokens;
        std::string tokenError;
        if (space != std::string::npos && !Tokenize(line, space + 1, tokens, tokenError)) return fail(tokenError);

        Kind kind;
        Node* parent = nullptr;
        if (keyword == "mapi") {
            if (level != 0) return fail("'mapi' must not be indented");
            if (mapi_) return fail("a second 'mapi' line; at most one is allowed");
            kind = Kind::Mapi;
        } else if (keyword == "profile") {
            if (level != 0) return fail("'profile' must not be indented");
            kind = Kind::Profile;
        } else if (keyword == "store") {
            if (level != 1 || !last[0] || last[0]->kind != Kind::Profile)
                return fail("'store' must be indented one level below a profile");
            kind = Kind::Store;
            parent = last[0];
        } else if (keyword == "finder") {
            if (level != 2 || !last[1] || last[1]->kind != Kind::Store)
                return fail("'finder' must be indented two levels, below a store");
            if (last[1]->finder) return fail("a second finder in one store");
            kind = Kind::Finder;
            parent = last[1];
        } else if (keyword == "folder") {
            kind = Kind::Folder;
            if (level == 2 && last[1] && last[1]->kind == Kind::Store) {
                parent = last[1]->root;  // a folder of the store's root, beside the finder
            } else {
                if (level < 3 || !last[level - 1] || !last[level - 1]->IsFolderLike() || last[level - 1]->kind == Kind::Root)
                    return fail("'folder' must be indented one level below a store, a finder or a folder");
                parent = last[level - 1];
            }
        } else {
            return fail("unknown keyword '" + keyword + "'; expected mapi, profile, store, finder or folder");
        }

        Node* node = NewNode(kind);
        size_t first = 0;
        if (kind != Kind::Mapi) {
            if (tokens.empty() || !tokens[0].key.empty())
                return fail("expected a name after '" + keyword + "'");
            node->name = tokens[0].value;
            node->ansiName = ToAnsi(node->name);
            first = 1;
        }
        for (size_t i = first; i < tokens.size(); ++i) {
            const Token& t = tokens[i];
            if (t.key.empty()) {
                if (t.value == "default" && (kind == Kind::Profile || kind == Kind::Store)) node->isDefault = true;
                else if (t.value == "search" && (kind == Kind::Folder || kind == Kind::Finder)) node->search = true;
                else return fail("unexpected word '" + t.value + "' on a " + keyword + " line");
            } else if (t.key == "id" && kind != Kind::Mapi) {
                if (t.value.size() % 2) return fail("bad hex in id=: odd number of digits");
                if (t.value.size() > 512) return fail("id= longer than 256 bytes");
                std::string bytes;
                for (size_t k = 0; k < t.value.size(); k += 2) {
                    if (!IsHex(t.value[k]) || !IsHex(t.value[k + 1])) return fail("bad hex in id=: '" + t.value + "'");
                    bytes += static_cast<char>(HexValue(t.value[k]) * 16 + HexValue(t.value[k + 1]));
                }
                if (byId_.count(bytes)) return fail("id=" + t.value + " is used twice");
                node->id = bytes;
                node->explicitId = true;
                byId_[bytes] = node;
            } else if (t.key == "missing" && kind != Kind::Mapi) {
                size_t p = 0;
                while (p <= t.value.size()) {
                    size_t comma = t.value.find(',', p);
                    std::string name = t.value.substr(p, comma == std::string::npos ? std::string::npos : comma - p);
                    if (!MissingAllowed(kind, name)) return fail("missing=" + name + " is not a property of a " + keyword);
                    node->missing.insert(name);
                    if (comma == std::string::npos) break;
                    p = comma + 1;
                }
            } else if (t.key == "fail") {
                size_t colon = t.value.find(':');
                if (colon == std::string::npos) return fail("expected fail=CALL:HR[@N]");
                Fault fault;
                fault.text = t.value;
                fault.call = t.value.substr(0, colon);
                std::string rest = t.value.substr(colon + 1);
                size_t at = rest.find('@');
                if (at != std::string::npos) {
                    std::string n = rest.substr(at + 1);
                    rest = rest.substr(0, at);
                    if (n.empty() || n.size() > 9 || n.find_first_not_of("0123456789") != std::string::npos || std::stoi(n) < 1)
                        return fail("bad @N in fail=" + t.value + "; expected a number from 1");
                    fault.nth = std::stoi(n);
                }
                if (!CallsOf(kind).count(fault.call))
                    return fail("fail=" + fault.call + " is not a call of a " + keyword);
                if (!ParseHr(rest, fault.hr)) return fail("bad hex result in fail=" + t.value);
                node->faults.push_back(fault);
            } else if (t.key == "class" && (kind == Kind::Folder || kind == Kind::Finder)) {
                node->hasClass = true;
                node->containerClass = t.value;
                node->ansiClass = ToAnsi(t.value);
            } else if (t.key == "comment" && kind == Kind::Folder) {
                node->hasComment = true;
                node->comment = t.value;
            } else if (t.key == "batch" && (kind == Kind::Finder || kind == Kind::Folder)) {
                if (t.value.empty() || t.value.size() > 9 || t.value.find_first_not_of("0123456789") != std::string::npos ||
                    std::stoi(t.value) < 1)
                    return fail("bad batch=" + t.value + "; expected a number from 1");
                node->batch = std::stoi(t.value);
            } else if (t.key == "nodeep" && (kind == Kind::Finder || kind == Kind::Folder)) {
                if (!ParseHr(t.value, node->noDeep)) return fail("bad hex result in nodeep=" + t.value);
            } else if (t.key == "depthbase" && (kind == Kind::Finder || kind == Kind::Folder)) {
                if (t.value != "0" && t.value != "1") return fail("bad depthbase=" + t.value + "; expected 0 or 1");
                node->depthBase = std::stoi(t.value);
            } else if (t.key == "deeporder" && (kind == Kind::Finder || kind == Kind::Folder)) {
                if (t.value != "breadth" && t.value != "reverse")
                    return fail("bad deeporder=" + t.value + "; expected breadth or reverse");
                node->deepOrder = t.value;
            } else if (t.key == "tablecut" && (kind == Kind::Finder || kind == Kind::Folder)) {
                if (t.value.empty() || t.value.size() > 9 || t.value.find_first_not_of("0123456789") != std::string::npos ||
                    std::stoi(t.value) < 1)
                    return fail("bad tablecut=" + t.value + "; expected a number from 1");
                node->tableCut = std::stoi(t.value);
            } else if ((t.key == "rowlimit" || t.key == "nextid") && kind == Kind::Store) {
                if (t.value.empty() || t.value.size() > 9 || t.value.find_first_not_of("0123456789") != std::string::npos ||
                    std::stoi(t.value) < 1)
                    return fail("bad " + t.key + "=" + t.value + "; expected a number from 1");
                if (t.key == "rowlimit") node->rowLimit = std::stoi(t.value);
                else g_nextId = std::max<unsigned long long>(g_nextId, std::stoull(t.value));
            } else if (t.key == "modified" && (kind == Kind::Finder || kind == Kind::Folder)) {
                if (!ParseUtcTime(t.value, node->modified)) return fail("bad modified=" + t.value + "; expected YYYY-MM-DDTHH:MM:SSZ");
                node->hasModified = true;
                node->modifiedText = t.value;
            } else if (t.key == "items" && (kind == Kind::Finder || kind == Kind::Folder)) {
                if (t.value.empty() || t.value.size() > 10 || t.value.find_first_not_of("0123456789") != std::string::npos ||
                    std::stoll(t.value) > 2147483647LL)
                    return fail("bad items=" + t.value + "; expected a number from 0 to 2147483647");
                node->hasItems = true;
                node->items = static_cast<LONG>(std::stoll(t.value));
            } else if (t.key == "criteria" && (kind == Kind::Finder || kind == Kind::Folder)) {
                std::string why;
                node->criteria = ParseRestriction(t.value, why);
                if (!node->criteria) return fail("bad criteria=: " + why);
                node->criteriaText = t.value;
            } else if (t.key == "scope" && (kind == Kind::Finder || kind == Kind::Folder)) {
                node->scope.clear();
                for (size_t p = 0; p <= t.value.size();) {
                    size_t semicolon = std::min(t.value.find(';', p), t.value.size());
                    node->scope.push_back(t.value.substr(p, semicolon - p));
                    p = semicolon + 1;
                }
            } else if (t.key == "searchflags" && (kind == Kind::Finder || kind == Kind::Folder)) {
                HRESULT flags = 0;
                if (!ParseHr(t.value, flags)) return fail("bad searchflags=" + t.value + "; expected hex");
                node->hasSearchFlags = true;
                node->searchFlags = static_cast<ULONG>(flags);
            } else {
                return fail("unknown attribute '" + t.key + "' on a " + keyword + " line");
            }
        }

        last.resize(level + 1);
        last[level] = node;
        if (kind == Kind::Mapi) {
            mapi_ = node;
            continue;
        }
        node->parent = parent;
        if (kind == Kind::Profile) {
            node->path = node->name;
            node->pathHash = HashMore(0, node->name);
            profiles_.push_back(node);
        } else {
            parent->children.push_back(node);
            // A folder of the root is named below its store, as the finder is.
            const Node* above = parent->kind == Kind::Root ? parent->store : parent;
            node->path = above->path + "/" + node->name;
            node->pathHash = HashMore(above->pathHash, "/" + node->name);
        }
        if (node->IsFolderLike()) byPath_[node->path] = node;
        if (kind == Kind::Store) {
            node->store = node;
            Node* root = NewNode(Kind::Root);
            root->path = node->path + "/";
            root->pathHash = HashMore(node->pathHash, "/");
            root->store = node;
            node->root = root;
        } else if (kind == Kind::Finder) {
            node->store = parent;
            parent->finder = node;
        } else if (kind == Kind::Folder) {
            node->store = parent->store;
        }
        if (end == text.size()) break;
    }
    if (!mapi_) mapi_ = NewNode(Kind::Mapi);
    AssignIds();
    return true;
}

void Model::AssignIds()
{
    for (auto& owned : nodes_) {
        Node* node = owned.get();
        if (node->kind == Kind::Mapi || node->explicitId) continue;
        // A root folder is on no line: its identifier follows from its store's, so that it lasts as the store's does.
        std::string id = node->kind == Kind::Root ? "MSIMR" + node->store->id : std::string();
        if (!id.empty() && !byId_.count(id)) {
            node->id = id;
            byId_[id] = node;
            continue;
        }
        do {
            char buffer[32];
            snprintf(buffer, sizeof(buffer), "MSIM%c%011llu", "MPSFDR"[static_cast<int>(node->kind)], g_nextId++);
            id = buffer;
        } while (byId_.count(id));
        node->id = id;
        byId_[id] = node;
    }
}

Node* Model::FindById(const std::string& id) const
{
    auto it = byId_.find(id);
    if (it == byId_.end() || it->second->deleted) return nullptr;
    return it->second;
}

std::string Model::ScopeId(const Node* store, const std::string& path) const
{
    auto it = byPath_.find(store->path + "/" + path);
    return it != byPath_.end() && !it->second->deleted ? it->second->id : path;
}

Node* Model::FindProfile(const std::string& ansiName) const
{
    for (Node* profile : profiles_)
        if (profile->ansiName == ansiName) return profile;
    return nullptr;
}

Node* Model::FindProfileByName(const std::string& utf8Name) const
{
    for (Node* profile : profiles_)
        if (profile->name == utf8Name) return profile;
    return nullptr;
}

void Model::MarkDeleted(Node* node)
{
    node->deleted = true;
    for (Node* child : node->children) MarkDeleted(child);
}

void Model::Delete(Node* folder)
{
    MarkDeleted(folder);
    Node* parent = folder->kind == Kind::Finder ? folder->store->root : folder->parent;
    if (folder->kind == Kind::Finder) folder->store->finder = nullptr;
    if (parent) {
        auto& siblings = folder->kind == Kind::Finder ? folder->store->children : parent->children;
        for (auto it = siblings.begin(); it != siblings.end(); ++it) {
            if (*it == folder) {
                siblings.erase(it);
                break;
            }
        }
    }
}

Node* Model::AddFolder(Node* parent, const std::string& utf8Name, bool search, const std::string& id)
{
    Node* node = NewNode(Kind::Folder);
    node->name = utf8Name;
    node->ansiName = ToAnsi(utf8Name);
    node->search = search;
    node->parent = parent;
    node->store = parent->store;
    const Node* above = parent->kind == Kind::Root ? parent->store : parent;
    node->path = above->path + "/" + node->name;
    node->pathHash = HashMore(above->pathHash, "/" + node->name);
    node->id = id;
    while (node->id.empty() || byId_.count(node->id)) {
        char buffer[32];
        snprintf(buffer, sizeof(buffer), "MSIMD%011llu", g_nextId++);
        node->id = buffer;
    }
    node->explicitId = true;
    byId_[node->id] = node;
    byPath_[node->path] = node;
    parent->children.push_back(node);
    return node;
}

void Model::RemoveAdded(Node* folder)
{
    folder->parent->children.pop_back();
    byId_.erase(folder->id);
    byPath_.erase(folder->path);
    folder->deleted = true;
}

Node* Model::FindChild(const Node* parent, const std::string& utf8Name) const
{
    std::wstring wanted = Utf16FromUtf8(utf8Name);
    for (Node* child : parent->children) {
        std::wstring name = Utf16FromUtf8(child->name);
        if (!child->deleted && CompareStringOrdinal(name.data(), static_cast<int>(name.size()), wanted.data(),
                                                    static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL)
            return child;
    }
    return nullptr;
}

namespace {

void WriteNode(const Node* node, int level, const Node* without, std::string& out)
{
    if (node == without) return;
    out.append(level * 2, ' ');
    out += KeywordOf(node->kind);
    out += ' ';
    out += QuoteIfNeeded(node->name);
    if (node->isDefault) out += " default";
    if (node->search) out += " search";
    if (node->hasClass) out += " class=" + QuoteIfNeeded(node->containerClass);
    if (node->hasComment) out += " comment=" + QuoteIfNeeded(node->comment);
    // Every identifier, generated ones too: they last across processes as a real store's do.
    static const char digits[] = "0123456789ABCDEF";
    out += " id=";
    for (unsigned char c : node->id) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    if (!node->missing.empty()) {
        out += " missing=";
        bool first = true;
        for (const auto& m : node->missing) {
            if (!first) out += ',';
            out += m;
            first = false;
        }
    }
    for (const auto& f : node->faults) out += " fail=" + QuoteIfNeeded(f.text);
    if (node->batch) out += " batch=" + std::to_string(node->batch);
    if (node->noDeep) {
        char hr[16];
        snprintf(hr, sizeof(hr), "0x%08lX", static_cast<unsigned long>(node->noDeep));
        out += std::string(" nodeep=") + hr;
    }
    if (node->depthBase != 1) out += " depthbase=" + std::to_string(node->depthBase);
    if (!node->deepOrder.empty()) out += " deeporder=" + node->deepOrder;
    if (node->tableCut) out += " tablecut=" + std::to_string(node->tableCut);
    if (node->rowLimit) out += " rowlimit=" + std::to_string(node->rowLimit);
    if (node->kind == Kind::Store) out += " nextid=" + std::to_string(g_nextId);
    if (node->hasModified) out += " modified=" + node->modifiedText;
    if (node->hasItems) out += " items=" + std::to_string(node->items);
    if (node->criteria) out += " criteria=" + QuoteIfNeeded(node->criteriaText);
    if (!node->scope.empty()) {
        std::string scope;
        for (const std::string& path : node->scope) scope += (scope.empty() ? "" : ";") + path;
        out += " scope=" + QuoteIfNeeded(scope);
    }
    if (node->hasSearchFlags) {
        char flags[16];
        snprintf(flags, sizeof(flags), "0x%lX", static_cast<unsigned long>(node->searchFlags));
        out += std::string(" searchflags=") + flags;
    }
    out += '\n';
    for (const Node* child : node->children) WriteNode(child, level + 1, without, out);
    if (node->kind == Kind::Store)  // the root's own folders, beside the finder
        for (const Node* child : node->root->children) WriteNode(child, level + 1, without, out);
}

} // namespace

std::string Model::Canonical(const Node* without) const
{
    std::string out;
    if (mapi_ && !mapi_->faults.empty()) {
        out += "mapi";
        for (const auto& f : mapi_->faults) out += " fail=" + QuoteIfNeeded(f.text);
        out += '\n';
    }
    for (const Node* profile : profiles_) WriteNode(profile, 0, without, out);
    return out;
}

} // namespace mapisim
