// What a search folder searches for: its restriction, rendered in the
// restriction language, and the folders it searches.
#pragma once
#include <windows.h>
#include <mapix.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

struct Criteria {
    bool reached = false;  // the folder was opened (else it could not be backed up)
    bool read = false;     // GetSearchCriteria answered
    HRESULT hr = S_OK;     // else why not:
    const char* step = "";  // the call that failed (OpenMsgStore, OpenEntry or GetSearchCriteria) and its HRESULT
    bool hasComment = false;  // the folder's own comment, where it was asked for
    std::wstring comment;
    bool cut = false;   // longer than kCriteriaLimit: the text ends in "…"
    std::wstring text;
    std::vector<std::wstring> scope;     // the searched folders' display names, or their identifiers in hex
    std::vector<std::string> scopeIds;   // their entry identifiers
    ULONG state = 0;                     // the search state (SEARCH_RUNNING, SEARCH_RECURSIVE, …)
    std::shared_ptr<const SRestriction> restriction;  // as the provider gave it, where it is kept
};

// The longest criteria text krvn reports: a spreadsheet cell holds no more.
const size_t kCriteriaLimit = 32767;

// Renders |restriction| in the restriction language: and(…), or(…), not(…),
// content(TAG, VALUE, FUZZY), prop(TAG OP VALUE), compare(TAG OP TAG),
// bitmask(TAG, eqz|nez, MASK), size(TAG OP N), exist(TAG), sub(TAG, …); tags
// by name where the language names them; what it does not know as
// unknown(0xHH). Whatever its depth or breadth, the text stops at |limit|
// characters (then it ends in "…" and the result is false).
bool RenderRestriction(const SRestriction* restriction, std::wstring& text, size_t limit = kCriteriaLimit);

// Reads the criteria of search folders of one store: one OpenEntry and one
// GetSearchCriteria per folder, one OpenEntry and GetProps per searched
// folder. With |keepRestrictions| each restriction is kept as it was read.
class CriteriaReader {
public:
    CriteriaReader(LPMDB store, bool keepRestrictions = false) : m_store(store), m_keep(keepRestrictions) {}
    // With |comment|, also the folder's own comment (a table may have cut or refused it).
    Criteria Read(const std::string& entryId, bool comment = false);

private:
    std::wstring ScopeName(const SBinary& id);

    LPMDB m_store;
    bool m_keep;
    std::map<std::string, std::wstring> m_names;  // of the searched folders, by identifier
};
