#include "Criteria.h"

#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "Holders.h"
#include "Conversions.h"
#include "trace.h"
#include "utlis.h"

namespace {

const struct { ULONG tag; const wchar_t* name; } kNames[] = {
    {0x0037001F, L"subject"}, {0x001A001F, L"class"}, {0x0C1A001F, L"sender"}, {0x0C1F001F, L"sender_address"},
    {0x0E04001F, L"to"}, {0x0E03001F, L"cc"}, {0x1000001F, L"body"}, {0x0E070003, L"flags"},
    {0x00170003, L"importance"}, {0x0E080003, L"message_size"}, {0x0E1B000B, L"has_attachments"},
    {0x0E060040, L"received"}, {0x00390040, L"sent"}, {0x30080040, L"modified"}, {0x10900003, L"flag_status"},
    {0x0E12000D, L"recipients"}, {0x0E13000D, L"attachments"}, {0x3707001F, L"attachment_name"}, {0x3003001F, L"address"},
};

std::wstring Printed(const wchar_t* format, unsigned long value)
{
    wchar_t text[32];
    swprintf(text, 32, format, value);
    return text;
}

std::wstring Unknown(unsigned long type)
{
    return Printed(L"unknown(0x%02lX)", type);
}

std::wstring TagText(ULONG tag)
{
    for (const auto& known : kNames)
        if (known.tag == tag) return known.name;
    return Printed(L"0x%08lX", tag);
}

std::wstring RelopText(ULONG relop)
{
    static const wchar_t* const relops[] = {L"<", L"<=", L">", L">=", L"=", L"!=", L"like"};
    return relop < 7 ? relops[relop] : Unknown(relop);
}

std::wstring Quoted(const std::wstring& text)
{
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') out += L'\\';
        out += c;
    }
    return out + L"\"";
}

std::wstring ValueText(const SPropValue* value)
{
    if (!value) return L"null";
    switch (PROP_TYPE(value->ulPropTag)) {
    // A string is read no further than a criteria text shows.
    case PT_UNICODE: return value->Value.lpszW ? Quoted(std::wstring(value->Value.lpszW, wcsnlen(value->Value.lpszW, kCriteriaLimit + 1))) : L"null";
    case PT_STRING8:
        return value->Value.lpszA ? Quoted(FromAnsi(std::string(value->Value.lpszA, strnlen(value->Value.lpszA, kCriteriaLimit + 1)).c_str()))
                                  : L"null";
    case PT_LONG: return std::to_wstring(value->Value.l);
    case PT_BOOLEAN: return value->Value.b ? L"true" : L"false";
    case PT_BINARY: return L"bin:" + (value->Value.bin.lpb || !value->Value.bin.cb ? Hex(value->Value.bin.lpb, value->Value.bin.cb) : L"");
    case PT_SYSTIME: {
        std::wstring time = UtcText(value->Value.ft);
        return time.empty() ? Unknown(PT_SYSTIME) : time;
    }
    default: return Unknown(PROP_TYPE(value->ulPropTag));
    }
}

std::wstring FuzzyText(ULONG fuzzy)
{
    static const wchar_t* const levels[] = {L"full", L"substring", L"prefix"};
    ULONG level = fuzzy & 0xFFFF;
    std::wstring text = level < 3 ? levels[level] : Unknown(level);
    if (fuzzy & FL_IGNORECASE) text += L"|ignorecase";
    if (fuzzy & FL_LOOSE) text += L"|loose";
    return text;
}

// The text of a restriction without its operands: all of it for a leaf, the
// opening for and(), or(), not() and sub().
std::wstring Opening(const SRestriction& r)
{
    switch (r.rt) {
    case RES_AND: return L"and(";
    case RES_OR: return L"or(";
    case RES_NOT: return L"not(";
    case RES_SUBRESTRICTION: return L"sub(" + TagText(r.res.resSub.ulSubObject) + L", ";
    case RES_CONTENT:
        return L"content(" + TagText(r.res.resContent.ulPropTag) + L", " + ValueText(r.res.resContent.lpProp) + L", " +
               FuzzyText(r.res.resContent.ulFuzzyLevel) + L")";
    case RES_PROPERTY:
        return L"prop(" + TagText(r.res.resProperty.ulPropTag) + L" " + RelopText(r.res.resProperty.relop) + L" " +
               ValueText(r.res.resProperty.lpProp) + L")";
    case RES_COMPAREPROPS:
        return L"compare(" + TagText(r.res.resCompareProps.ulPropTag1) + L" " + RelopText(r.res.resCompareProps.relop) + L" " +
               TagText(r.res.resCompareProps.ulPropTag2) + L")";
    case RES_BITMASK:
        return L"bitmask(" + TagText(r.res.resBitMask.ulPropTag) + (r.res.resBitMask.relBMR == BMR_EQZ ? L", eqz, " : L", nez, ") +
               Printed(L"0x%08lX", r.res.resBitMask.ulMask) + L")";
    case RES_SIZE:
        return L"size(" + TagText(r.res.resSize.ulPropTag) + L" " + RelopText(r.res.resSize.relop) + L" " +
               std::to_wstring(r.res.resSize.cb) + L")";
    case RES_EXIST: return L"exist(" + TagText(r.res.resExist.ulPropTag) + L")";
    default: return Unknown(r.rt);
    }
}

// The operands of an and(), or(), not() or sub(): count and first.
ULONG Operands(const SRestriction& r, const SRestriction*& first)
{
    switch (r.rt) {
    case RES_AND: first = r.res.resAnd.lpRes; return r.res.resAnd.cRes;
    case RES_OR: first = r.res.resOr.lpRes; return r.res.resOr.cRes;
    case RES_NOT: first = r.res.resNot.lpRes; return 1;
    case RES_SUBRESTRICTION: first = r.res.resSub.lpRes; return 1;
    default: first = nullptr; return 0;
    }
}

} // namespace

bool RenderRestriction(const SRestriction* restriction, std::wstring& text, size_t limit)
{
    // Depth first with the open restrictions on the heap: no nesting can
    // exhaust the stack, and the limit ends any breadth, depth or cycle.
    struct Open {
        const SRestriction* operands;
        ULONG count, next;
    };
    std::vector<Open> open;
    const SRestriction* current = restriction;
    text.clear();
    for (;;) {
        if (current) {
            text += Opening(*current);
            const SRestriction* first = nullptr;
            ULONG count = Operands(*current, first);
            bool grouping = current->rt == RES_AND || current->rt == RES_OR || current->rt == RES_NOT || current->rt == RES_SUBRESTRICTION;
            current = nullptr;
            if (grouping) open.push_back({first, count, 0});
        }
        if (text.size() > limit) {
            text.resize(limit - 1);
            if (IS_HIGH_SURROGATE(text.back())) text.pop_back();  // a character stays whole
            text += L"\u2026";
            return false;
        }
        if (open.empty()) return true;
        Open& top = open.back();
        if (top.next == top.count) {
            text += L")";
            open.pop_back();
            continue;
        }
        if (top.next) text += L", ";
        if (!top.operands) {
            text += L"null";
            ++top.next;
            continue;
        }
        current = top.operands + top.next++;
    }
}

Criteria CriteriaReader::Read(const std::string& entryId, bool comment)
{
    Criteria criteria;
    Ref<IMAPIFolder> folder;
    MapiBuffer<SRestriction> restriction;
    MapiBuffer<ENTRYLIST> scope;
    ULONG type = 0, state = 0;
    HRESULT hr = m_store->OpenEntry(static_cast<ULONG>(entryId.size()), reinterpret_cast<LPENTRYID>(const_cast<char*>(entryId.data())),
                                    nullptr, 0, &type, PutUnknown(folder));
    hr = Delivered(hr, folder);
    if (FAILED(hr)) {
        TRACE_FAILED("OpenEntry", hr);
        criteria.hr = hr;
        criteria.step = "OpenEntry";
        return criteria;
    }
    criteria.reached = true;
    PropTags<1> commentTag = {1, {PR_COMMENT_W}};
    ULONG count = 0;
    MapiBuffer<SPropValue> props;
    if (comment && SUCCEEDED(folder->GetProps(commentTag.get(), 0, &count, props.Put())) && count == 1 && props &&
        props->ulPropTag == PR_COMMENT_W && props->Value.lpszW) {
        criteria.hasComment = true;
        criteria.comment = props->Value.lpszW;
    }
    hr = folder->GetSearchCriteria(MAPI_UNICODE, restriction.Put(), scope.Put(), &state);
    hr = Delivered(hr, restriction);
    if (FAILED(hr)) {
        TRACE_FAILED("GetSearchCriteria", hr);
        criteria.hr = hr;
        criteria.step = "GetSearchCriteria";
        return criteria;
    }
    criteria.read = true;
    criteria.state = state;
    criteria.cut = !RenderRestriction(restriction.Get(), criteria.text);
    for (ULONG i = 0; scope && scope->lpbin && i < scope->cValues; ++i) {
        const SBinary& id = scope->lpbin[i];
        criteria.scopeIds.emplace_back(reinterpret_cast<const char*>(id.lpb), id.lpb ? id.cb : 0);
        criteria.scope.push_back(ScopeName(id));
    }
    if (m_keep) criteria.restriction.reset(restriction.Detach(), [](const SRestriction* r) { MAPIFreeBuffer(const_cast<SRestriction*>(r)); });
    return criteria;
}

std::wstring CriteriaReader::ScopeName(const SBinary& id)
{
    std::string key(reinterpret_cast<const char*>(id.lpb), id.lpb ? id.cb : 0);
    auto known = m_names.find(key);
    if (known != m_names.end()) return known->second;
    std::wstring name = Hex(id.lpb, id.lpb ? id.cb : 0);  // a folder that cannot be opened shows as its identifier
    Ref<IMAPIProp> folder;
    ULONG type = 0, count = 0;
    HRESULT hr = m_store->OpenEntry(static_cast<ULONG>(key.size()), reinterpret_cast<LPENTRYID>(&key[0]), nullptr, 0, &type,
                                    PutUnknown(folder));
    MapiBuffer<SPropValue> props;
    PropTags<2> tags = {2, {kTagDisplayNameW, kTagDisplayName}};
    if (SUCCEEDED(Delivered(hr, folder)) && SUCCEEDED(folder->GetProps(tags.get(), 0, &count, props.Put())) && count == 2 && props)
        TextOf(props.Get()[0], props.Get()[1], name);
    m_names[key] = name;
    return name;
}
