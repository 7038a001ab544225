// mapisim's data: profiles, stores, finders and folders read from a store
// file, with the faults and missing properties the file asks for.
#pragma once
#include <windows.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "restriction.h"

namespace mapisim {

struct Fault {
    std::string call;
    HRESULT hr = 0;
    int nth = 0;           // 0: every call fails
    std::string text;      // as written, for the canonical form
};

enum class Kind { Mapi, Profile, Store, Finder, Folder, Root };

struct Node {
    Kind kind = Kind::Folder;
    std::string name;          // UTF-8, as in the file
    std::string ansiName;      // in the process's ANSI code page
    bool isDefault = false;
    bool search = false;
    bool hasClass = false;
    std::string containerClass;  // UTF-8, as in the file
    std::string ansiClass;
    bool hasComment = false;
    std::string comment;         // comment=: PR_COMMENT, UTF-8 as in the file
    std::string id;            // entry identifier bytes
    bool explicitId = false;
    std::set<std::string> missing;
    std::vector<Fault> faults;
    int batch = 0;
    // How its hierarchy table answers CONVENIENT_DEPTH, as providers differ:
    HRESULT noDeep = 0;          // nodeep=HR: refused with HR
    int depthBase = 1;           // depthbase=N: PR_DEPTH of the direct sub-folders
    std::string deepOrder;       // deeporder=breadth|reverse: not depth first
    int tableCut = 0;            // tablecut=N: strings and binaries of its rows cut at N bytes
    int rowLimit = 0;            // rowlimit=N on a store: longer strings of its rows refused (PT_ERROR)
    // The evidence of its use, and a search folder's criteria:
    bool hasModified = false;
    ULONGLONG modified = 0;      // modified=: PR_LAST_MODIFICATION_TIME as FILETIME ticks
    std::string modifiedText;
    bool hasItems = false;
    LONG items = 0;              // items=: PR_CONTENT_COUNT
    std::string criteriaText;    // criteria=, as written
    std::unique_ptr<Rule> criteria;
    std::vector<std::string> scope;  // scope=: paths below the store's root
    bool hasSearchFlags = false;
    ULONG searchFlags = SEARCH_RUNNING | SEARCH_RECURSIVE;
    bool deleted = false;
    Node* parent = nullptr;
    std::vector<Node*> children;
    std::string path;          // for the call log
    unsigned long long pathHash = 0;  // of |path|, made as the path grows: a short name for a deep folder
    Node* store = nullptr;     // the store a finder or folder belongs to
    Node* root = nullptr;      // a store's implicit root folder
    Node* finder = nullptr;    // a store's finder

    bool Lacks(const char* property) const { return missing.count(property) != 0; }
    bool IsFolderLike() const { return kind == Kind::Finder || kind == Kind::Folder || kind == Kind::Root; }
};

class Model {
public:
    // Parses |text|; false with |error| ("line N: ...") on bad input.
    bool Parse(const std::string& text, std::string& error);
    // The store file's canonical text; |without| and everything below it left out.
    std::string Canonical(const Node* without = nullptr) const;

    Node* mapi() { return mapi_; }
    const std::vector<Node*>& profiles() const { return profiles_; }
    Node* FindById(const std::string& id) const;
    // The identifier that a scope= path stands for: the folder's, or the path's
    // own bytes (which open nothing) when it names no folder of |store|.
    std::string ScopeId(const Node* store, const std::string& path) const;
    Node* FindProfile(const std::string& ansiName) const;
    Node* FindProfileByName(const std::string& utf8Name) const;
    // Removes |folder| and everything below it.
    void Delete(Node* folder);
    // A new folder, last among |parent|'s sub-folders, with a new identifier
    // (written out, so that it stays when the file is read again), or |id|.
    Node* AddFolder(Node* parent, const std::string& utf8Name, bool search, const std::string& id = std::string());
    // Takes back the folder just added (when it could not be saved).
    void RemoveAdded(Node* folder);
    // The sub-folder of |parent| of that name (ordinal, ignoring case), if any.
    Node* FindChild(const Node* parent, const std::string& utf8Name) const;

private:
    Node* NewNode(Kind kind);
    void AssignIds();
    void MarkDeleted(Node* node);

    std::vector<std::unique_ptr<Node>> nodes_;
    Node* mapi_ = nullptr;
    std::vector<Node*> profiles_;
    std::map<std::string, Node*> byId_;
    std::map<std::string, Node*> byPath_;  // folders by the path the call log names them by
};

std::string ToAnsi(const std::string& utf8);
// FNV-1a over |text|, going on from |hash| (a path's hash grows with the path).
unsigned long long HashMore(unsigned long long hash, const std::string& text);
std::string Utf8FromWide(const wchar_t* wide);
std::wstring Utf16FromUtf8(const std::string& utf8);
std::string Utf8FromAnsi(const char* ansi);
std::string QuoteIfNeeded(const std::string& text);

} // namespace mapisim
