#include "props.h"

#include <string.h>

#include "runtime.h"

namespace mapisim {

namespace {

const ULONG kFolderRoot = 0, kFolderGeneric = 1, kFolderSearch = 2;

struct Value {
    ULONG type = PT_ERROR;
    LONG number = 0;
    ULONGLONG time = 0;  // PT_SYSTIME, as FILETIME ticks
    std::string bytes;  // PT_STRING8 text, PT_BINARY bytes, or PT_UNICODE text in UTF-8
};

bool Lookup(const Node* node, View view, ULONG tag, Value& value, int depth)
{
    auto binary = [&](const std::string& bytes) { value.type = PT_BINARY; value.bytes = bytes; return true; };
    auto text = [&](const std::string& s) { value.type = PT_STRING8; value.bytes = s; return true; };
    auto unicode = [&](const std::string& s) { value.type = PT_UNICODE; value.bytes = s; return true; };
    auto number = [&](LONG n) { value.type = PT_LONG; value.number = n; return true; };
    auto boolean = [&](bool b) { value.type = PT_BOOLEAN; value.number = b ? 1 : 0; return true; };
    auto time = [&](ULONGLONG ticks) { value.type = PT_SYSTIME; value.time = ticks; return true; };
    // The evidence of a folder's use, on the object and its rows alike.
    if ((view == View::HierarchyRow || view == View::FolderObject) && node->kind != Kind::Root) {
        if (tag == PR_LAST_MODIFICATION_TIME && node->hasModified) return time(node->modified);
        if (tag == PR_CONTENT_COUNT) return number(node->items);
        if (tag == PR_COMMENT_A && node->hasComment) return text(ToAnsi(node->comment));
        if (tag == PR_COMMENT_W && node->hasComment) return unicode(node->comment);
    }

    switch (view) {
    case View::ProfileRow:
        if (tag == PR_DISPLAY_NAME_A && !node->Lacks("name")) return text(node->ansiName);
        if (tag == PR_DISPLAY_NAME_W && !node->Lacks("name")) return unicode(node->name);
        if (tag == PR_DEFAULT_PROFILE && !node->Lacks("default")) return boolean(node->isDefault);
        return false;
    case View::StoreRow:
        if (tag == PR_ENTRYID && !node->Lacks("entryid")) return binary(node->id);
        if (tag == PR_DISPLAY_NAME_A && !node->Lacks("name")) return text(node->ansiName);
        if (tag == PR_DISPLAY_NAME_W && !node->Lacks("name")) return unicode(node->name);
        if (tag == PR_DEFAULT_STORE && !node->Lacks("default")) return boolean(node->isDefault);
        return false;
    case View::StoreObject:
        if (tag == PR_ENTRYID && !node->Lacks("entryid")) return binary(node->id);
        if (tag == PR_DISPLAY_NAME_A && !node->Lacks("name")) return text(node->ansiName);
        if (tag == PR_DISPLAY_NAME_W && !node->Lacks("name")) return unicode(node->name);
        if (tag == PR_FINDER_ENTRYID && node->finder && !node->Lacks("finder")) return binary(node->finder->id);
        return false;
    case View::HierarchyRow:
        if (tag == PR_ENTRYID && !node->Lacks("entryid")) return binary(node->id);
        if (tag == PR_DISPLAY_NAME_A && !node->Lacks("name")) return text(node->ansiName);
        if (tag == PR_DISPLAY_NAME_W && !node->Lacks("name")) return unicode(node->name);
        if (tag == PR_OBJECT_TYPE) return number(MAPI_FOLDER);
        if (tag == PR_DEPTH) return number(depth);
        if (tag == PR_FOLDER_TYPE && !node->Lacks("foldertype")) return number(node->search ? kFolderSearch : kFolderGeneric);
        if (tag == PR_CONTAINER_CLASS_A && node->hasClass) return text(node->ansiClass);
        if (tag == PR_PARENT_ENTRYID && !node->Lacks("parent")) {
            const Node* parent = node->kind == Kind::Finder ? node->store->root : node->parent;
            return binary(parent->id);
        }
        if (tag == PR_DISPLAY_TYPE) return number(0);
        if (tag == PR_STATUS) return number(0);
        return false;
    case View::FolderObject:
        if (tag == PR_ENTRYID && !node->Lacks("entryid")) return binary(node->id);
        if (tag == PR_DISPLAY_NAME_A && !node->Lacks("name"))
            return text(node->kind == Kind::Root ? std::string("Root") : node->ansiName);
        if (tag == PR_DISPLAY_NAME_W && !node->Lacks("name")) return unicode(node->kind == Kind::Root ? std::string("Root") : node->name);
        if (tag == PR_FOLDER_TYPE && !node->Lacks("foldertype"))
            return number(node->kind == Kind::Root ? kFolderRoot : node->search ? kFolderSearch : kFolderGeneric);
        if (tag == PR_CONTAINER_CLASS_A && node->hasClass) return text(node->ansiClass);
        if (tag == PR_PARENT_ENTRYID && node->kind != Kind::Root && !node->Lacks("parent")) {
            const Node* parent = node->kind == Kind::Finder ? node->store->root : node->parent;
            return binary(parent->id);
        }
        return false;
    }
    return false;
}

// A string's length in characters, 8-bit or Unicode alike.
size_t Characters(const Value& value)
{
    if (value.type == PT_UNICODE) return Utf16FromUtf8(value.bytes).size();
    return static_cast<size_t>(MultiByteToWideChar(CP_ACP, 0, value.bytes.data(), static_cast<int>(value.bytes.size()), nullptr, 0));
}

} // namespace

HRESULT BuildProps(const Node* node, View view, const SPropTagArray* tags, ULONG* count, LPSPropValue* props,
                   RowShape shape)
{
    ULONG n = tags->cValues;
    LPSPropValue array = nullptr;
    SCODE sc = Allocate(static_cast<ULONG>(sizeof(SPropValue) * (n ? n : 1)), reinterpret_cast<void**>(&array));
    if (FAILED(sc)) return sc;
    bool anyMissing = false;
    // A store's rowlimit= refuses long strings in its table rows, as some servers do.
    const bool row = view == View::HierarchyRow || view == View::StoreRow;
    const size_t limit = row && node->store ? static_cast<size_t>(node->store->rowLimit) : 0;
    for (ULONG i = 0; i < n; ++i) {
        ULONG tag = tags->aulPropTag[i];
        Value value;
        SPropValue& out = array[i];
        if (!Lookup(node, view, tag, value, shape.depth)) {
            out.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
            out.Value.err = MAPI_E_NOT_FOUND;
            anyMissing = true;
            continue;
        }
        if (limit && (value.type == PT_STRING8 || value.type == PT_UNICODE) && Characters(value) > limit) {
            out.ulPropTag = PROP_TAG(PT_ERROR, PROP_ID(tag));
            out.Value.err = MAPI_E_NOT_ENOUGH_MEMORY;
            anyMissing = true;
            continue;
        }
        out.ulPropTag = tag;
        if (shape.cut && (value.type == PT_STRING8 || value.type == PT_BINARY) && value.bytes.size() > shape.cut)
            value.bytes.resize(shape.cut);
        switch (value.type) {
        case PT_LONG: out.Value.l = value.number; break;
        case PT_BOOLEAN: out.Value.b = static_cast<unsigned short>(value.number); break;
        case PT_SYSTIME:
            out.Value.ft.dwLowDateTime = static_cast<DWORD>(value.time);
            out.Value.ft.dwHighDateTime = static_cast<DWORD>(value.time >> 32);
            break;
        case PT_STRING8: {
            void* text = nullptr;
            sc = AllocateMore(static_cast<ULONG>(value.bytes.size() + 1), array, &text);
            if (FAILED(sc)) { FreeBuffer(array); return sc; }
            memcpy(text, value.bytes.c_str(), value.bytes.size() + 1);
            out.Value.lpszA = static_cast<LPSTR>(text);
            break;
        }
        case PT_UNICODE: {
            std::wstring wide = Utf16FromUtf8(value.bytes);
            void* text = nullptr;
            sc = AllocateMore(static_cast<ULONG>((wide.size() + 1) * sizeof(wchar_t)), array, &text);
            if (FAILED(sc)) { FreeBuffer(array); return sc; }
            memcpy(text, wide.c_str(), (wide.size() + 1) * sizeof(wchar_t));
            out.Value.lpszW = static_cast<LPWSTR>(text);
            break;
        }
        case PT_BINARY: {
            void* bytes = nullptr;
            sc = AllocateMore(static_cast<ULONG>(value.bytes.size() ? value.bytes.size() : 1), array, &bytes);
            if (FAILED(sc)) { FreeBuffer(array); return sc; }
            memcpy(bytes, value.bytes.data(), value.bytes.size());
            out.Value.bin.cb = static_cast<ULONG>(value.bytes.size());
            out.Value.bin.lpb = static_cast<LPBYTE>(bytes);
            break;
        }
        }
    }
    *count = n;
    *props = array;
    return anyMissing ? MAPI_W_ERRORS_RETURNED : S_OK;
}

} // namespace mapisim
