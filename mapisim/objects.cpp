#include <windows.h>
// The interface identifiers are defined here, once for the DLL.
#include <initguid.h>
#define USES_IID_IMAPITable
#define USES_IID_IMAPIFolder
#define USES_IID_IMAPIContainer
#define USES_IID_IMAPIProp
#define USES_IID_IMsgStore
#define USES_IID_IMAPISession
#define USES_IID_IProfAdmin
#include <mapiguid.h>

#include "objects.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <vector>

#include "props.h"
#include "restriction.h"
#include "runtime.h"

namespace mapisim {

namespace {

// A method that mapisim does not implement: logged, and refused.
#define NOT_SUPPORTED(method, ...) \
    HRESULT STDMETHODCALLTYPE method(__VA_ARGS__) override { return Unsupported(#method); }

std::string EntryKey(ULONG cb, LPENTRYID id)
{
    return cb && id ? std::string(reinterpret_cast<const char*>(id), cb) : std::string();
}

std::string IidField(LPCIID iid)
{
    return iid ? "nonnull" : "null";
}

// IUnknown over one MAPI interface, with the object counted while it lives.
template <class Interface>
class Unknown : public Interface, public ObjectBase {
public:
    explicit Unknown(const char* name) : ObjectBase(name) {}
    virtual ~Unknown() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, LPVOID* object) override
    {
        if (dead()) {
            Misused("QueryInterface");
            return E_UNEXPECTED;
        }
        HRESULT hr = S_OK;
        if (!object) {
            hr = E_INVALIDARG;
        } else if (IsEqualIID(riid, IID_IUnknown) || Supports(riid)) {
            *object = static_cast<Interface*>(this);
            AddRef();
        } else {
            *object = nullptr;
            hr = E_NOINTERFACE;
        }
        LogCall(Named("QueryInterface"), hr);
        return hr;
    }
    ULONG STDMETHODCALLTYPE AddRef() override
    {
        if (dead()) Misused("AddRef");
        return dead() ? 0 : ++refs_;
    }
    ULONG STDMETHODCALLTYPE Release() override
    {
        if (dead()) {
            Misused("Release");
            return 0;
        }
        ULONG left = --refs_;
        if (!left) Bury();
        return left;
    }

protected:
    virtual bool Supports(REFIID riid) const = 0;

    // "Method interface=I description" for the call log.
    std::string Named(const char* method) const
    {
        std::string line = std::string(method) + " interface=" + interfaceName();
        std::string about = description();
        if (!about.empty()) line += " " + about;
        return line;
    }
    HRESULT Unsupported(const char* method) const
    {
        LogCall(Named(method), MAPI_E_NO_SUPPORT);
        return MAPI_E_NO_SUPPORT;
    }

private:
    ULONG refs_ = 1;
};

// IMAPIProp::GetProps of a store or folder object, with its faults and log line.
HRESULT ObjectGetProps(const Node* node, View view, LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* props)
{
    HRESULT hr = S_OK;
    if (!Injected(node, "GetProps", hr)) {
        if (node->deleted) hr = MAPI_E_OBJECT_DELETED;
        else if (!tags || !count || !props) hr = MAPI_E_NO_SUPPORT;
        else hr = BuildProps(node, view, tags, count, props);
    }
    LogCall("GetProps object=" + Quote(node->path) + " count=" + std::to_string(tags ? tags->cValues : 0) +
                " flags=" + Hex(flags), hr);
    return hr;
}

// IMAPIProp methods that no object of mapisim supports.
#define UNSUPPORTED_PROP_METHODS \
    NOT_SUPPORTED(GetLastError, HRESULT, ULONG, LPMAPIERROR*) \
    NOT_SUPPORTED(SaveChanges, ULONG) \
    NOT_SUPPORTED(GetPropList, ULONG, LPSPropTagArray*) \
    NOT_SUPPORTED(OpenProperty, ULONG, LPCIID, ULONG, ULONG, LPUNKNOWN*) \
    NOT_SUPPORTED(SetProps, ULONG, LPSPropValue, LPSPropProblemArray*) \
    NOT_SUPPORTED(DeleteProps, LPSPropTagArray, LPSPropProblemArray*) \
    NOT_SUPPORTED(CopyTo, ULONG, LPCIID, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG, LPSPropProblemArray*) \
    NOT_SUPPORTED(CopyProps, LPSPropTagArray, ULONG, LPMAPIPROGRESS, LPCIID, LPVOID, ULONG, LPSPropProblemArray*) \
    NOT_SUPPORTED(GetNamesFromIDs, LPSPropTagArray*, LPGUID, ULONG, ULONG*, LPMAPINAMEID**) \
    NOT_SUPPORTED(GetIDsFromNames, ULONG, LPMAPINAMEID*, ULONG, LPSPropTagArray*)

// ---------------------------------------------------------------------------

class Table : public Unknown<IMAPITable> {
public:
    // |owner| carries the SetColumns and QueryRows faults; |name| names the table
    // in the log (empty: the owner's path, for a hierarchy table).
    Table(std::shared_ptr<Model> model, const Node* owner, std::string name, View view, std::vector<const Node*> rows, int batch)
        : Unknown("IMAPITable"), model_(std::move(model)), owner_(owner),
          fixedName_(std::move(name)), view_(view), rows_(std::move(rows)), batch_(batch), columns_(DefaultColumns(view)) {}

    std::string description() const override { return "table=" + Quote(Name()); }

    // The depth and cut of each row, for a table of all folders below.
    void SetShapes(std::vector<RowShape> shapes) { shapes_ = std::move(shapes); }

    HRESULT STDMETHODCALLTYPE SetColumns(LPSPropTagArray tags, ULONG flags) override
    {
        HRESULT hr = S_OK;
        if (!Injected(owner_, "SetColumns", hr)) {
            if (!tags) hr = MAPI_E_INVALID_PARAMETER;
            else columns_.assign(tags->aulPropTag, tags->aulPropTag + tags->cValues);
        }
        LogCall("SetColumns table=" + Quote(Name()) + " count=" + std::to_string(tags ? tags->cValues : 0) +
                    " flags=" + Hex(flags), hr);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE QueryRows(LONG count, ULONG flags, LPSRowSet* out) override
    {
        HRESULT hr = S_OK;
        ULONG returned = 0;
        if (!Injected(owner_, "QueryRows", hr)) hr = FetchRows(count, out, returned);
        LogCall("QueryRows table=" + Quote(Name()) + " rows=" + std::to_string(count) + " flags=" + Hex(flags) +
                    " returned=" + std::to_string(returned), hr);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE GetRowCount(ULONG flags, ULONG* count) override
    {
        HRESULT hr = S_OK;
        if (!count) hr = MAPI_E_INVALID_PARAMETER;
        else *count = static_cast<ULONG>(rows_.size());
        LogCall("GetRowCount table=" + Quote(Name()) + " flags=" + Hex(flags), hr);
        return hr;
    }

    NOT_SUPPORTED(GetLastError, HRESULT, ULONG, LPMAPIERROR*)
    NOT_SUPPORTED(Advise, ULONG, LPMAPIADVISESINK, ULONG*)
    NOT_SUPPORTED(Unadvise, ULONG)
    NOT_SUPPORTED(GetStatus, ULONG*, ULONG*)
    NOT_SUPPORTED(QueryColumns, ULONG, LPSPropTagArray*)
    NOT_SUPPORTED(SeekRow, BOOKMARK, LONG, LONG*)
    NOT_SUPPORTED(SeekRowApprox, ULONG, ULONG)
    NOT_SUPPORTED(QueryPosition, ULONG*, ULONG*, ULONG*)
    NOT_SUPPORTED(FindRow, LPSRestriction, BOOKMARK, ULONG)
    NOT_SUPPORTED(Restrict, LPSRestriction, ULONG)
    NOT_SUPPORTED(CreateBookmark, BOOKMARK*)
    NOT_SUPPORTED(FreeBookmark, BOOKMARK)
    NOT_SUPPORTED(SortTable, LPSSortOrderSet, ULONG)
    NOT_SUPPORTED(QuerySortOrder, LPSSortOrderSet*)
    NOT_SUPPORTED(Abort)
    NOT_SUPPORTED(ExpandRow, ULONG, LPBYTE, ULONG, ULONG, LPSRowSet*, ULONG*)
    NOT_SUPPORTED(CollapseRow, ULONG, LPBYTE, ULONG, ULONG*)
    NOT_SUPPORTED(WaitForCompletion, ULONG, ULONG, ULONG*)
    NOT_SUPPORTED(GetCollapseState, ULONG, ULONG, LPBYTE, ULONG*, LPBYTE*)
    NOT_SUPPORTED(SetCollapseState, ULONG, ULONG, LPBYTE, BOOKMARK*)

protected:
    bool Supports(REFIID riid) const override { return IsEqualIID(riid, IID_IMAPITable); }

private:
    static std::vector<ULONG> DefaultColumns(View view)
    {
        switch (view) {
        case View::ProfileRow: return {PR_DISPLAY_NAME_A, PR_DEFAULT_PROFILE};
        case View::StoreRow: return {PR_ENTRYID, PR_DISPLAY_NAME_A, PR_DEFAULT_STORE};
        default: return {PR_ENTRYID, PR_DISPLAY_NAME_A, PR_OBJECT_TYPE, PR_DEPTH, PR_DISPLAY_TYPE, PR_STATUS};
        }
    }

    HRESULT FetchRows(LONG count, LPSRowSet* out, ULONG& returned)
    {
        if (!out || count < 0) return MAPI_E_INVALID_PARAMETER;
        size_t left = rows_.size() - position_;
        size_t n = static_cast<size_t>(count) < left ? static_cast<size_t>(count) : left;
        if (batch_ > 0 && n > static_cast<size_t>(batch_)) n = batch_;
        LPSRowSet rows = nullptr;
        SCODE sc = Allocate(static_cast<ULONG>(CbNewSRowSet(n ? n : 1)), reinterpret_cast<void**>(&rows));
        if (FAILED(sc)) return sc;
        rows->cRows = 0;
        // An SPropTagArray is a count followed by the tags.
        std::vector<ULONG> tagBlock(1 + columns_.size());
        tagBlock[0] = static_cast<ULONG>(columns_.size());
        for (size_t i = 0; i < columns_.size(); ++i) tagBlock[1 + i] = columns_[i];
        const SPropTagArray* tags = reinterpret_cast<const SPropTagArray*>(tagBlock.data());
        for (size_t i = 0; i < n; ++i) {
            SRow& row = rows->aRow[i];
            row.ulAdrEntryPad = 0;
            RowShape shape = position_ + i < shapes_.size() ? shapes_[position_ + i] : RowShape();
            HRESULT hr = BuildProps(rows_[position_ + i], view_, tags, &row.cValues, &row.lpProps, shape);
            if (FAILED(hr)) {
                for (ULONG k = 0; k < rows->cRows; ++k) FreeBuffer(rows->aRow[k].lpProps);
                FreeBuffer(rows);
                return hr;
            }
            rows->cRows = static_cast<ULONG>(i + 1);
        }
        position_ += n;
        returned = static_cast<ULONG>(n);
        *out = rows;
        return S_OK;
    }

    const std::string& Name() const { return fixedName_.empty() ? owner_->path : fixedName_; }

    std::shared_ptr<Model> model_;
    const Node* owner_;
    std::string fixedName_;
    View view_;
    std::vector<const Node*> rows_;
    int batch_;
    size_t position_ = 0;
    std::vector<ULONG> columns_;
    std::vector<RowShape> shapes_;
};

// The rows of a table with CONVENIENT_DEPTH: every folder below |top|, depth
// first in file order (or as the top's deeporder= says). A search folder has
// no hierarchy table, so nothing below one is listed.
void DeepRows(const Node* top, std::vector<const Node*>& rows, std::vector<RowShape>& shapes)
{
    struct Entry {
        const Node* node;
        int depth;
    };
    std::vector<Entry> entries;
    size_t cut = static_cast<size_t>(top->tableCut);
    auto below = [&](const Node* node) {
        std::vector<const Node*> children;
        if (!node->search) children.assign(node->children.begin(), node->children.end());
        return children;
    };
    if (top->deepOrder == "breadth") {
        std::vector<Entry> level;
        for (const Node* child : below(top)) level.push_back({child, 1});
        while (!level.empty()) {
            std::vector<Entry> next;
            for (const Entry& e : level) {
                entries.push_back(e);
                for (const Node* child : below(e.node)) next.push_back({child, e.depth + 1});
            }
            level.swap(next);
        }
    } else {
        std::vector<Entry> stack;
        std::vector<const Node*> first = below(top);
        for (auto it = first.rbegin(); it != first.rend(); ++it) stack.push_back({*it, 1});
        while (!stack.empty()) {
            Entry e = stack.back();
            stack.pop_back();
            entries.push_back(e);
            std::vector<const Node*> children = below(e.node);
            for (auto it = children.rbegin(); it != children.rend(); ++it) stack.push_back({*it, e.depth + 1});
        }
        if (top->deepOrder == "reverse") std::reverse(entries.begin(), entries.end());
    }
    for (const Entry& e : entries) {
        rows.push_back(e.node);
        shapes.push_back({e.depth - 1 + top->depthBase, cut});
    }
}

// ---------------------------------------------------------------------------

class Folder : public Unknown<IMAPIFolder> {
public:
    Folder(std::shared_ptr<Model> model, Node* node)
        : Unknown("IMAPIFolder"), model_(std::move(model)), node_(node) {}

    std::string description() const override { return "folder=" + Quote(node_->path); }

    HRESULT STDMETHODCALLTYPE GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* props) override
    {
        return ObjectGetProps(node_, View::FolderObject, tags, flags, count, props);
    }

    HRESULT STDMETHODCALLTYPE GetHierarchyTable(ULONG flags, LPMAPITABLE* table) override
    {
        HRESULT hr = S_OK;
        if (!Injected(node_, "GetHierarchyTable", hr)) {
            if (node_->deleted) hr = MAPI_E_OBJECT_DELETED;
            else if (node_->search) hr = MAPI_E_NO_SUPPORT;
            else if (!table) hr = MAPI_E_INVALID_PARAMETER;
            else if (flags & CONVENIENT_DEPTH) {
                if (node_->noDeep) {
                    hr = node_->noDeep;
                } else {
                    std::vector<const Node*> rows;
                    std::vector<RowShape> shapes;
                    DeepRows(node_, rows, shapes);
                    Table* deep = new Table(model_, node_, "", View::HierarchyRow, std::move(rows), node_->batch);
                    deep->SetShapes(std::move(shapes));
                    *table = deep;
                }
            } else {
                std::vector<const Node*> rows;
                if (node_->kind == Kind::Root) {
                    if (node_->store->finder) rows.push_back(node_->store->finder);
                } else {
                    rows.assign(node_->children.begin(), node_->children.end());
                }
                *table = new Table(model_, node_, "", View::HierarchyRow, std::move(rows), node_->batch);
            }
        }
        LogCall("GetHierarchyTable object=" + Quote(node_->path) + " flags=" + Hex(flags), hr);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG cb, LPENTRYID id, LPCIID iid, ULONG flags, ULONG* type,
                                        LPUNKNOWN* object) override;

    HRESULT STDMETHODCALLTYPE DeleteFolder(ULONG cb, LPENTRYID id, ULONG ui, LPMAPIPROGRESS progress, ULONG flags) override
    {
        HRESULT hr = S_OK;
        Node* target = model_->FindById(EntryKey(cb, id));
        bool child = target && target->store == node_->store &&
                     (target->kind == Kind::Finder ? node_->kind == Kind::Root : target->parent == node_);
        if (!(target && Injected(target, "DeleteFolder", hr))) {
            if (node_->deleted || !child) hr = MAPI_E_NOT_FOUND;
            else if (!target->children.empty() && !(flags & DEL_FOLDERS)) hr = MAPI_E_HAS_FOLDERS;
            else hr = Remove(target, flags);
        }
        LogCall("DeleteFolder on=" + Quote(node_->path) + " target=" + Quote(target ? target->path : "?") +
                    " ui=" + (ui ? "nonnull" : "null") + " progress=" + (progress ? "nonnull" : "null") +
                    " flags=" + Hex(flags), hr);
        return hr;
    }

    // The restriction and the searched folders, each one MAPI buffer.
    HRESULT STDMETHODCALLTYPE GetSearchCriteria(ULONG flags, LPSRestriction* restriction, LPENTRYLIST* containers,
                                                ULONG* state) override
    {
        HRESULT hr = S_OK;
        if (!Injected(node_, "GetSearchCriteria", hr)) {
            if (node_->deleted) hr = MAPI_E_OBJECT_DELETED;
            else if (!node_->search) hr = MAPI_E_NO_SUPPORT;
            else if (!node_->criteria) hr = MAPI_E_NOT_INITIALIZED;
            else hr = SearchCriteria(flags, restriction, containers, state);
        }
        LogCall("GetSearchCriteria object=" + Quote(node_->path) + " flags=" + Hex(flags), hr);
        return hr;
    }

    // A new folder below this one, or with OPEN_IF_EXISTS the one of that name.
    HRESULT STDMETHODCALLTYPE CreateFolder(ULONG type, LPTSTR name, LPTSTR comment, LPCIID iid, ULONG flags,
                                           LPMAPIFOLDER* folder) override
    {
        bool unicode = (flags & MAPI_UNICODE) != 0;
        auto utf8 = [&](LPTSTR text) { return unicode ? Utf8FromWide(reinterpret_cast<const wchar_t*>(text)) : Utf8FromAnsi(text); };
        std::string folderName = name ? utf8(name) : std::string();
        HRESULT hr = S_OK;
        if (!Injected(node_, "CreateFolder", hr)) {
            Node* existing = nullptr;
            if (node_->deleted) hr = MAPI_E_OBJECT_DELETED;
            else if (node_->search) hr = MAPI_E_NO_SUPPORT;
            else if ((type != FOLDER_GENERIC && type != FOLDER_SEARCH) || folderName.empty() || !folder ||
                     (iid && !IsEqualIID(*iid, IID_IMAPIFolder)))
                hr = MAPI_E_INVALID_PARAMETER;
            else if ((existing = model_->FindChild(node_, folderName)) != nullptr)
                hr = flags & OPEN_IF_EXISTS ? S_OK : MAPI_E_COLLISION;
            else hr = Create(type == FOLDER_SEARCH, folderName, comment ? utf8(comment) : std::string(), comment != nullptr, existing);
            if (hr == S_OK) *folder = new Folder(model_, existing);
        }
        LogCall("CreateFolder on=" + Quote(node_->path) + " type=" + Hex(type) + " name=" + Quote(folderName) + " flags=" + Hex(flags), hr);
        return hr;
    }

    // The restriction and the searched folders of a search folder, written to the store file at once.
    HRESULT STDMETHODCALLTYPE SetSearchCriteria(LPSRestriction restriction, LPENTRYLIST containers, ULONG flags) override
    {
        HRESULT hr = S_OK;
        if (!Injected(node_, "SetSearchCriteria", hr)) {
            if (node_->deleted) hr = MAPI_E_OBJECT_DELETED;
            else if (!node_->search) hr = MAPI_E_NO_SUPPORT;
            else hr = ApplyCriteria(restriction, containers, flags);
        }
        LogCall("SetSearchCriteria object=" + Quote(node_->path) + " flags=" + Hex(flags), hr);
        return hr;
    }

    UNSUPPORTED_PROP_METHODS
    NOT_SUPPORTED(GetContentsTable, ULONG, LPMAPITABLE*)
    NOT_SUPPORTED(CreateMessage, LPCIID, ULONG, LPMESSAGE*)
    NOT_SUPPORTED(CopyMessages, LPENTRYLIST, LPCIID, LPVOID, ULONG, LPMAPIPROGRESS, ULONG)
    NOT_SUPPORTED(DeleteMessages, LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG)
    NOT_SUPPORTED(CopyFolder, ULONG, LPENTRYID, LPCIID, LPVOID, LPTSTR, ULONG, LPMAPIPROGRESS, ULONG)
    NOT_SUPPORTED(SetReadFlags, LPENTRYLIST, ULONG, LPMAPIPROGRESS, ULONG)
    NOT_SUPPORTED(GetMessageStatus, ULONG, LPENTRYID, ULONG, ULONG*)
    NOT_SUPPORTED(SetMessageStatus, ULONG, LPENTRYID, ULONG, ULONG, ULONG*)
    NOT_SUPPORTED(SaveContentsSort, LPSSortOrderSet, ULONG)
    NOT_SUPPORTED(EmptyFolder, ULONG, LPMAPIPROGRESS, ULONG)

protected:
    bool Supports(REFIID riid) const override
    {
        return IsEqualIID(riid, IID_IMAPIFolder) || IsEqualIID(riid, IID_IMAPIContainer) ||
               IsEqualIID(riid, IID_IMAPIProp);
    }

private:
    // Deletes |target| from the store file, and then from the model: nothing is deleted unless it is on
    // disk. Where another process deleted it from the file already, it is gone here too: MAPI_E_NOT_FOUND.
    HRESULT Remove(Node* target, ULONG flags)
    {
        StoreTurn turn;
        Model* current = turn.Current();
        Node* there = current ? current->FindById(target->id) : nullptr;
        if (current && !there) {
            model_->Delete(target);
            return MAPI_E_NOT_FOUND;
        }
        if (there && !there->children.empty() && !(flags & DEL_FOLDERS)) return MAPI_E_HAS_FOLDERS;
        if (there) current->Delete(there);
        if (!turn.Write(current ? current->Canonical() : model_->Canonical(target))) return MAPI_E_DISK_ERROR;
        model_->Delete(target);
        ++rt().foldersDeleted;
        return S_OK;
    }

    // Adds the folder and saves the store file; nothing is added unless it is on disk. Where another
    // process changed the file, it is added there too, under an identifier new to both.
    HRESULT Create(bool search, const std::string& name, const std::string& comment, bool hasComment, Node*& made)
    {
        StoreTurn turn;
        Model* current = turn.Current();
        Node* parent = current ? current->FindById(node_->id) : nullptr;
        if (current && !parent) return MAPI_E_OBJECT_DELETED;
        if (parent && current->FindChild(parent, name)) return MAPI_E_COLLISION;
        Node* copy = parent ? current->AddFolder(parent, name, search) : nullptr;
        made = model_->AddFolder(node_, name, search, copy ? copy->id : std::string());
        Describe(made, comment, hasComment);
        if (copy) Describe(copy, comment, hasComment);
        if (turn.Write(current ? current->Canonical() : model_->Canonical())) return S_OK;
        model_->RemoveAdded(made);
        return MAPI_E_DISK_ERROR;
    }

    // A new folder's comment, modification time (now, whole seconds) and item count.
    static void Describe(Node* made, const std::string& comment, bool hasComment)
    {
        made->hasComment = hasComment;
        made->comment = comment;
        SYSTEMTIME now;
        GetSystemTime(&now);
        now.wMilliseconds = 0;
        FILETIME time;
        SystemTimeToFileTime(&now, &time);
        made->hasModified = true;
        made->modified = (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
        char text[32];
        snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02uZ", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
                 now.wSecond);
        made->modifiedText = text;
        made->hasItems = true;
    }

    HRESULT ApplyCriteria(LPSRestriction restriction, LPENTRYLIST containers, ULONG flags)
    {
        auto both = [&](ULONG a, ULONG b) { return (flags & a) && (flags & b); };
        if (both(STOP_SEARCH, RESTART_SEARCH) || both(RECURSIVE_SEARCH, SHALLOW_SEARCH) || both(FOREGROUND_SEARCH, BACKGROUND_SEARCH) ||
            (containers && containers->cValues && !containers->lpbin))
            return MAPI_E_INVALID_PARAMETER;
        std::unique_ptr<Rule> rule;
        if (restriction && !(rule = RuleFromRestriction(*restriction))) return MAPI_E_TOO_COMPLEX;
        std::vector<std::string> scope;
        const std::string prefix = node_->store->path + "/";
        for (ULONG i = 0; containers && i < containers->cValues; ++i) {
            const Node* searched = model_->FindById(EntryKey(containers->lpbin[i].cb, reinterpret_cast<LPENTRYID>(containers->lpbin[i].lpb)));
            if (!searched || searched->kind == Kind::Root || !searched->IsFolderLike() || searched->store != node_->store)
                return MAPI_E_NOT_FOUND;
            scope.push_back(searched->path.substr(prefix.size()));
        }
        // The new criteria, scope and state of |node| (the state follows from its old one).
        auto apply = [&](Node* node, std::unique_ptr<Rule> newRule) {
            ULONG state = node->searchFlags & ~static_cast<ULONG>(SEARCH_REBUILD);
            state = flags & STOP_SEARCH ? state & ~static_cast<ULONG>(SEARCH_RUNNING) : state | SEARCH_RUNNING;
            if (flags & RECURSIVE_SEARCH) state |= SEARCH_RECURSIVE;
            if (flags & SHALLOW_SEARCH) state &= ~static_cast<ULONG>(SEARCH_RECURSIVE);
            if (flags & FOREGROUND_SEARCH) state |= SEARCH_FOREGROUND;
            if (flags & BACKGROUND_SEARCH) state &= ~static_cast<ULONG>(SEARCH_FOREGROUND);
            if (newRule) {
                node->criteriaText = WriteRestriction(*newRule);
                node->criteria = std::move(newRule);
            }
            if (containers) node->scope = scope;
            node->hasSearchFlags = true;
            node->searchFlags = state;
        };
        StoreTurn turn;
        if (turn.Changed()) {  // made to what the file holds now, then here
            Model* current = turn.Current();
            Node* there = current ? current->FindById(node_->id) : nullptr;
            if (current && !there) return MAPI_E_OBJECT_DELETED;
            for (ULONG i = 0; there && containers && i < containers->cValues; ++i)
                if (!current->FindById(EntryKey(containers->lpbin[i].cb, reinterpret_cast<LPENTRYID>(containers->lpbin[i].lpb))))
                    return MAPI_E_NOT_FOUND;
            if (there) apply(there, restriction ? RuleFromRestriction(*restriction) : nullptr);
            if (!turn.Write(current ? current->Canonical() : std::string())) return MAPI_E_DISK_ERROR;
            apply(node_, std::move(rule));
            return S_OK;
        }
        // The old state kept until the file holds the new.
        std::unique_ptr<Rule> oldRule;
        if (restriction) oldRule = std::move(node_->criteria);
        std::string oldText = node_->criteriaText;
        std::vector<std::string> oldScope = node_->scope;
        bool oldHasFlags = node_->hasSearchFlags;
        ULONG oldFlags = node_->searchFlags;
        apply(node_, std::move(rule));
        if (turn.Write(model_->Canonical())) return S_OK;
        if (restriction) node_->criteria = std::move(oldRule);
        node_->criteriaText = oldText;
        node_->scope = oldScope;
        node_->hasSearchFlags = oldHasFlags;
        node_->searchFlags = oldFlags;
        return MAPI_E_DISK_ERROR;
    }

    HRESULT SearchCriteria(ULONG flags, LPSRestriction* restriction, LPENTRYLIST* containers, ULONG* state)
    {
        LPSRestriction built = nullptr;
        LPENTRYLIST list = nullptr;
        HRESULT hr = restriction ? BuildRestriction(*node_->criteria, (flags & MAPI_UNICODE) != 0, &built) : S_OK;
        if (SUCCEEDED(hr) && containers) hr = Allocate(sizeof(ENTRYLIST), reinterpret_cast<void**>(&list));
        if (SUCCEEDED(hr) && list) {
            list->cValues = static_cast<ULONG>(node_->scope.size());
            hr = AllocateMore(static_cast<ULONG>(sizeof(SBinary) * (list->cValues ? list->cValues : 1)), list,
                              reinterpret_cast<void**>(&list->lpbin));
            for (ULONG i = 0; SUCCEEDED(hr) && i < list->cValues; ++i) {
                std::string id = model_->ScopeId(node_->store, node_->scope[i]);
                list->lpbin[i].cb = static_cast<ULONG>(id.size());
                hr = AllocateMore(static_cast<ULONG>(id.size() ? id.size() : 1), list, reinterpret_cast<void**>(&list->lpbin[i].lpb));
                if (SUCCEEDED(hr)) memcpy(list->lpbin[i].lpb, id.data(), id.size());
            }
        }
        if (FAILED(hr)) {
            FreeBuffer(built);
            FreeBuffer(list);
            return hr;
        }
        if (restriction) *restriction = built;
        if (containers) *containers = list;
        if (state) *state = node_->searchFlags;
        return S_OK;
    }

    std::shared_ptr<Model> model_;
    Node* node_;
};

// OpenEntry of a store or a folder: finds a folder of |store| by its
// identifier (the store's root when the identifier is empty and no folder has it).
HRESULT OpenFolderEntry(const std::shared_ptr<Model>& model, Node* store, ULONG cb, LPENTRYID id, LPCIID iid,
                        ULONG* type, LPUNKNOWN* object, Node*& target)
{
    target = model->FindById(EntryKey(cb, id));
    if (!target && cb == 0) target = store->root;
    if (!target || !target->IsFolderLike() || target->store != store) {
        target = nullptr;
        return MAPI_E_NOT_FOUND;
    }
    HRESULT hr = S_OK;
    if (Injected(target, "Open", hr)) return hr;
    if (iid && !IsEqualIID(*iid, IID_IMAPIFolder) && !IsEqualIID(*iid, IID_IMAPIContainer) &&
        !IsEqualIID(*iid, IID_IMAPIProp) && !IsEqualIID(*iid, IID_IUnknown))
        return MAPI_E_INTERFACE_NOT_SUPPORTED;
    if (!object) return MAPI_E_INVALID_PARAMETER;
    *object = static_cast<IMAPIFolder*>(new Folder(model, target));
    if (type) *type = MAPI_FOLDER;
    return S_OK;
}

std::string OpenEntryLine(const std::string& on, const Node* target, ULONG cb, LPENTRYID id, LPCIID iid, ULONG flags)
{
    std::string targetText;
    if (target) {
        targetText = target->path;
    } else {
        static const char digits[] = "0123456789ABCDEF";
        targetText = "unknown:";
        for (ULONG i = 0; id && i < cb; ++i) {
            targetText += digits[reinterpret_cast<const BYTE*>(id)[i] >> 4];
            targetText += digits[reinterpret_cast<const BYTE*>(id)[i] & 15];
        }
    }
    return "OpenEntry on=" + Quote(on) + " target=" + Quote(targetText) + " iid=" + IidField(iid) +
           " flags=" + Hex(flags);
}

HRESULT STDMETHODCALLTYPE Folder::OpenEntry(ULONG cb, LPENTRYID id, LPCIID iid, ULONG flags, ULONG* type,
                                            LPUNKNOWN* object)
{
    Node* target = nullptr;
    HRESULT hr = node_->deleted ? MAPI_E_OBJECT_DELETED
                                : OpenFolderEntry(model_, node_->store, cb, id, iid, type, object, target);
    LogCall(OpenEntryLine(node_->path, target, cb, id, iid, flags), hr);
    return hr;
}

// ---------------------------------------------------------------------------

class MsgStore : public Unknown<IMsgStore> {
public:
    MsgStore(std::shared_ptr<Model> model, Node* store)
        : Unknown("IMsgStore"), model_(std::move(model)), store_(store) {}

    std::string description() const override { return "store=" + Quote(store_->path); }

    HRESULT STDMETHODCALLTYPE GetProps(LPSPropTagArray tags, ULONG flags, ULONG* count, LPSPropValue* props) override
    {
        return ObjectGetProps(store_, View::StoreObject, tags, flags, count, props);
    }

    HRESULT STDMETHODCALLTYPE OpenEntry(ULONG cb, LPENTRYID id, LPCIID iid, ULONG flags, ULONG* type,
                                        LPUNKNOWN* object) override
    {
        Node* target = nullptr;
        HRESULT hr = S_OK;
        if (!Injected(store_, "OpenEntry", hr)) hr = OpenFolderEntry(model_, store_, cb, id, iid, type, object, target);
        LogCall(OpenEntryLine(store_->path, target, cb, id, iid, flags), hr);
        return hr;
    }

    UNSUPPORTED_PROP_METHODS
    NOT_SUPPORTED(Advise, ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG*)
    NOT_SUPPORTED(Unadvise, ULONG)
    NOT_SUPPORTED(CompareEntryIDs, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*)
    NOT_SUPPORTED(SetReceiveFolder, LPTSTR, ULONG, ULONG, LPENTRYID)
    NOT_SUPPORTED(GetReceiveFolder, LPTSTR, ULONG, ULONG*, LPENTRYID*, LPTSTR*)
    NOT_SUPPORTED(GetReceiveFolderTable, ULONG, LPMAPITABLE*)
    NOT_SUPPORTED(StoreLogoff, ULONG*)
    NOT_SUPPORTED(AbortSubmit, ULONG, LPENTRYID, ULONG)
    NOT_SUPPORTED(GetOutgoingQueue, ULONG, LPMAPITABLE*)
    NOT_SUPPORTED(SetLockState, LPMESSAGE, ULONG)
    NOT_SUPPORTED(FinishedMsg, ULONG, ULONG, LPENTRYID)
    NOT_SUPPORTED(NotifyNewMail, LPNOTIFICATION)

protected:
    bool Supports(REFIID riid) const override
    {
        return IsEqualIID(riid, IID_IMsgStore) || IsEqualIID(riid, IID_IMAPIProp);
    }

private:
    std::shared_ptr<Model> model_;
    Node* store_;
};

// ---------------------------------------------------------------------------

class Session : public Unknown<IMAPISession> {
public:
    Session(std::shared_ptr<Model> model, Node* profile, int number)
        : Unknown("IMAPISession"), model_(std::move(model)), profile_(profile), number_(number) {}

    std::string description() const override
    {
        return "session=" + std::to_string(number_) + " profile=" + Quote(profile_->path);
    }

    HRESULT STDMETHODCALLTYPE GetMsgStoresTable(ULONG flags, LPMAPITABLE* table) override
    {
        HRESULT hr = S_OK;
        if (!Injected(profile_, "GetMsgStoresTable", hr)) {
            if (loggedOff_) hr = MAPI_E_END_OF_SESSION;
            else if (!table) hr = MAPI_E_INVALID_PARAMETER;
            else {
                std::vector<const Node*> rows(profile_->children.begin(), profile_->children.end());
                *table = new Table(model_, profile_, profile_->path + ":stores", View::StoreRow, std::move(rows), 0);
            }
        }
        LogCall("GetMsgStoresTable session=" + std::to_string(number_) + " flags=" + Hex(flags), hr);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE OpenMsgStore(ULONG_PTR ui, ULONG cb, LPENTRYID id, LPCIID iid, ULONG flags,
                                           LPMDB* store) override
    {
        Node* target = model_->FindById(EntryKey(cb, id));
        if (target && (target->kind != Kind::Store || target->parent != profile_)) target = nullptr;
        HRESULT hr = S_OK;
        if (!(target && Injected(target, "OpenMsgStore", hr))) {
            if (loggedOff_) hr = MAPI_E_END_OF_SESSION;
            else if (!target) hr = MAPI_E_NOT_FOUND;
            else if (!store) hr = MAPI_E_INVALID_PARAMETER;
            else *store = new MsgStore(model_, target);
        }
        LogCall("OpenMsgStore session=" + std::to_string(number_) + " store=" + Quote(target ? target->path : "?") +
                    " iid=" + IidField(iid) + " flags=" + Hex(flags), hr);
        return hr;
    }

    HRESULT STDMETHODCALLTYPE Logoff(ULONG_PTR ui, ULONG flags, ULONG reserved) override
    {
        HRESULT hr = S_OK;
        if (loggedOff_) Misused("Logoff");  // a second time, or after the last Release
        if (!loggedOff_) {
            loggedOff_ = true;
            rt().openSessions.erase(number_);
            ++rt().logoffs;
        }
        LogCall("Logoff session=" + std::to_string(number_) + " ui=" + Hex(static_cast<ULONG>(ui)) +
                    " flags=" + Hex(flags), hr);
        return hr;
    }

    NOT_SUPPORTED(GetLastError, HRESULT, ULONG, LPMAPIERROR*)
    NOT_SUPPORTED(OpenAddressBook, ULONG_PTR, LPCIID, ULONG, LPADRBOOK*)
    NOT_SUPPORTED(OpenProfileSection, LPMAPIUID, LPCIID, ULONG, LPPROFSECT*)
    NOT_SUPPORTED(GetStatusTable, ULONG, LPMAPITABLE*)
    NOT_SUPPORTED(OpenEntry, ULONG, LPENTRYID, LPCIID, ULONG, ULONG*, LPUNKNOWN*)
    NOT_SUPPORTED(CompareEntryIDs, ULONG, LPENTRYID, ULONG, LPENTRYID, ULONG, ULONG*)
    NOT_SUPPORTED(Advise, ULONG, LPENTRYID, ULONG, LPMAPIADVISESINK, ULONG*)
    NOT_SUPPORTED(Unadvise, ULONG)
    NOT_SUPPORTED(MessageOptions, ULONG_PTR, ULONG, LPTSTR, LPMESSAGE)
    NOT_SUPPORTED(QueryDefaultMessageOpt, LPTSTR, ULONG, ULONG*, LPSPropValue*)
    NOT_SUPPORTED(EnumAdrTypes, ULONG, ULONG*, LPTSTR**)
    NOT_SUPPORTED(QueryIdentity, ULONG*, LPENTRYID*)
    NOT_SUPPORTED(SetDefaultStore, ULONG, ULONG, LPENTRYID)
    NOT_SUPPORTED(AdminServices, ULONG, LPSERVICEADMIN*)
    NOT_SUPPORTED(ShowForm, ULONG_PTR, LPMDB, LPMAPIFOLDER, LPCIID, ULONG, LPMESSAGE, ULONG, ULONG, ULONG, ULONG, LPSTR)
    NOT_SUPPORTED(PrepareForm, LPCIID, LPMESSAGE, ULONG*)

protected:
    bool Supports(REFIID riid) const override { return IsEqualIID(riid, IID_IMAPISession); }

private:
    std::shared_ptr<Model> model_;
    Node* profile_;
    int number_;
    bool loggedOff_ = false;
};

// ---------------------------------------------------------------------------

class ProfAdmin : public Unknown<IProfAdmin> {
public:
    explicit ProfAdmin(std::shared_ptr<Model> model) : Unknown("IProfAdmin"), model_(std::move(model)) {}

    std::string description() const override { return ""; }

    HRESULT STDMETHODCALLTYPE GetProfileTable(ULONG flags, LPMAPITABLE* table) override
    {
        HRESULT hr = S_OK;
        if (!Injected(model_->mapi(), "GetProfileTable", hr)) {
            if (!table) hr = MAPI_E_INVALID_PARAMETER;
            else {
                std::vector<const Node*> rows(model_->profiles().begin(), model_->profiles().end());
                *table = new Table(model_, model_->mapi(), "profiles", View::ProfileRow, std::move(rows), 0);
            }
        }
        LogCall("GetProfileTable flags=" + Hex(flags), hr);
        return hr;
    }

    NOT_SUPPORTED(GetLastError, HRESULT, ULONG, LPMAPIERROR*)
    NOT_SUPPORTED(CreateProfile, LPTSTR, LPTSTR, ULONG_PTR, ULONG)
    NOT_SUPPORTED(DeleteProfile, LPTSTR, ULONG)
    NOT_SUPPORTED(ChangeProfilePassword, LPTSTR, LPTSTR, LPTSTR, ULONG)
    NOT_SUPPORTED(CopyProfile, LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG)
    NOT_SUPPORTED(RenameProfile, LPTSTR, LPTSTR, LPTSTR, ULONG_PTR, ULONG)
    NOT_SUPPORTED(SetDefaultProfile, LPTSTR, ULONG)
    NOT_SUPPORTED(AdminServices, LPTSTR, LPTSTR, ULONG_PTR, ULONG, LPSERVICEADMIN*)

protected:
    bool Supports(REFIID riid) const override { return IsEqualIID(riid, IID_IProfAdmin); }

private:
    std::shared_ptr<Model> model_;
};

} // namespace

LPPROFADMIN NewProfAdmin(std::shared_ptr<Model> model)
{
    return new ProfAdmin(std::move(model));
}

LPMAPISESSION NewSession(std::shared_ptr<Model> model, Node* profile, int number)
{
    return new Session(std::move(model), profile, number);
}

} // namespace mapisim
