#include "RestrictionForm.h"

#include <limits.h>
#include <math.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

#include "Conversions.h"

namespace {

// --- Text and numbers ---------------------------------------------------

std::string HexBytes(const void* data, size_t count)
{
    return ToUtf8(Hex(static_cast<const BYTE*>(data), static_cast<ULONG>(count)));
}

bool BytesFromHex(const Json& value, std::string& bytes)
{
    return value.is_string() && FromHex(value.get_ref<const std::string&>(), bytes);
}

// "0x" and 8 or 16 upper-case hex digits: tags, masks, errors, the bits of a real.
std::string HexNumber(unsigned long long value, int digits)
{
    char text[24];
    snprintf(text, sizeof(text), "0x%0*llX", digits, value);
    return text;
}

bool NumberFromHex(const Json& value, int digits, unsigned long long& out)
{
    std::string bytes;
    if (!value.is_string()) return false;
    const std::string& text = value.get_ref<const std::string&>();
    if (text.size() != 2u + digits || text.compare(0, 2, "0x") != 0 || !FromHex(text.substr(2), bytes)) return false;
    out = 0;
    for (unsigned char c : bytes) out = out << 8 | c;
    return true;
}

bool Hex32(const Json& value, ULONG& out)
{
    unsigned long long number = 0;
    if (!NumberFromHex(value, 8, number)) return false;
    out = static_cast<ULONG>(number);
    return true;
}

template <class T>
bool Integer(const Json& value, long long low, long long high, T& out)
{
    if (value.is_number_unsigned()) {  // what JSON holds of every number from 0 on
        unsigned long long number = value.get<unsigned long long>();
        if (number > static_cast<unsigned long long>(high)) return false;
        out = static_cast<T>(number);
        return true;
    }
    if (!value.is_number_integer() || value.get<long long>() < low) return false;
    out = static_cast<T>(value.get<long long>());
    return true;
}

std::string Ansi(const std::wstring& wide)
{
    int length = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(length > 0 ? length : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &out[0], length, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

bool WholeUtf16(const wchar_t* text)
{
    for (; *text; ++text) {
        if (IS_HIGH_SURROGATE(*text) && IS_LOW_SURROGATE(text[1])) ++text;
        else if (IS_HIGH_SURROGATE(*text) || IS_LOW_SURROGATE(*text)) return false;
    }
    return true;
}

// 8-bit text as the ANSI code page reads it; its bytes where that reading would not give them back.
Json Text8(const char* text)
{
    std::wstring wide = FromAnsi(text);
    if (Ansi(wide) == text) return ToUtf8(wide);
    return Json{{"bytes", HexBytes(text, strlen(text))}};
}


// A real number; its bits where JSON has no number for it (infinities, NaN).
Json Real(double value)
{
    if (isfinite(value)) return value;
    unsigned long long bits = 0;
    memcpy(&bits, &value, sizeof(bits));
    return HexNumber(bits, 16);
}

Json Real(float value)
{
    if (isfinite(value)) return static_cast<double>(value);
    ULONG bits = 0;
    memcpy(&bits, &value, sizeof(bits));
    return HexNumber(bits, 8);
}

template <class T>
bool RealFrom(const Json& value, T& out)
{
    if (value.is_number()) {
        out = static_cast<T>(value.get<double>());
        return true;
    }
    unsigned long long bits = 0;
    if (!NumberFromHex(value, 2 * sizeof(T), bits)) return false;
    memcpy(&out, &bits, sizeof(T));  // little-endian: the low bytes
    return true;
}

std::string GuidText(const GUID& guid)
{
    char text[40];
    snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", static_cast<unsigned long>(guid.Data1),
             guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
             guid.Data4[6], guid.Data4[7]);
    return text;
}

bool GuidFrom(const Json& value, GUID& guid)
{
    std::string bytes;
    if (!value.is_string()) return false;
    std::string text = value.get<std::string>();
    if (text.size() != 38 || text[0] != '{' || text[37] != '}' || text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-')
        return false;
    std::string hex = text.substr(1, 8) + text.substr(10, 4) + text.substr(15, 4) + text.substr(20, 4) + text.substr(25, 12);
    if (!FromHex(hex, bytes)) return false;
    const BYTE* b = reinterpret_cast<const BYTE*>(bytes.data());
    guid.Data1 = static_cast<unsigned long>(b[0]) << 24 | b[1] << 16 | b[2] << 8 | b[3];
    guid.Data2 = static_cast<unsigned short>(b[4] << 8 | b[5]);
    guid.Data3 = static_cast<unsigned short>(b[6] << 8 | b[7]);
    memcpy(guid.Data4, b + 8, 8);
    return true;
}

// --- Property values ------------------------------------------------------

// One value of a type without MV_FLAG, as the form writes it.
bool EncodeValue(ULONG type, const _PV& v, Json& out)
{
    switch (type) {
    case PT_I2: out = v.i; return true;
    case PT_LONG: out = v.l; return true;
    case PT_R4: out = Real(v.flt); return true;
    case PT_DOUBLE: out = Real(v.dbl); return true;
    case PT_APPTIME: out = Real(v.at); return true;
    case PT_CURRENCY: out = v.cur.int64; return true;
    case PT_I8: out = v.li.QuadPart; return true;
    case PT_SYSTIME: out = static_cast<unsigned long long>(v.ft.dwHighDateTime) << 32 | v.ft.dwLowDateTime; return true;
    case PT_BOOLEAN: out = v.b; return true;
    case PT_ERROR: out = HexNumber(static_cast<ULONG>(v.err), 8); return true;
    case PT_OBJECT:
    case PT_NULL: out = v.x; return true;
    case PT_STRING8: out = v.lpszA ? Text8(v.lpszA) : Json(); return true;
    case PT_UNICODE: out = v.lpszW ? TextForm(v.lpszW) : Json(); return true;
    case PT_CLSID: out = v.lpguid ? Json(GuidText(*v.lpguid)) : Json(); return true;
    case PT_BINARY: out = v.bin.lpb || !v.bin.cb ? Json(HexBytes(v.bin.lpb, v.bin.cb)) : Json(); return true;
    default: return false;
    }
}

bool DecodeValue(ULONG type, const Json& value, _PV& v, BuiltRestriction& memory)
{
    std::string bytes;
    switch (type) {
    case PT_I2: return Integer(value, -32768, 32767, v.i);
    case PT_LONG: return Integer(value, -2147483647LL - 1, 2147483647LL, v.l);
    case PT_R4: return RealFrom(value, v.flt);
    case PT_DOUBLE: return RealFrom(value, v.dbl);
    case PT_APPTIME: return RealFrom(value, v.at);
    case PT_CURRENCY: return Integer(value, LLONG_MIN, LLONG_MAX, v.cur.int64);
    case PT_I8: return Integer(value, LLONG_MIN, LLONG_MAX, v.li.QuadPart);
    case PT_SYSTIME: {
        if (!value.is_number_unsigned()) return false;
        unsigned long long ticks = value.get<unsigned long long>();
        v.ft = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        return true;
    }
    case PT_BOOLEAN: return Integer(value, 0, 65535, v.b);
    case PT_ERROR: {
        ULONG error = 0;
        if (!Hex32(value, error)) return false;
        v.err = static_cast<SCODE>(error);
        return true;
    }
    case PT_OBJECT:
    case PT_NULL: return Integer(value, -2147483647LL - 1, 2147483647LL, v.x);
    case PT_STRING8:
        v.lpszA = nullptr;
        if (value.is_null()) return true;
        if (value.is_string()) bytes = Ansi(FromUtf8(value.get<std::string>()));
        else if (!(value.is_object() && value.size() == 1 && value.contains("bytes") && BytesFromHex(value["bytes"], bytes))) return false;
        v.lpszA = memory.New<char>(bytes.size() + 1);
        memcpy(v.lpszA, bytes.data(), bytes.size());
        return true;
    case PT_UNICODE: {
        v.lpszW = nullptr;
        if (value.is_null()) return true;
        std::wstring wide;
        if (!TextFrom(value, wide)) return false;
        v.lpszW = memory.New<wchar_t>(wide.size() + 1);
        wmemcpy(v.lpszW, wide.data(), wide.size());
        return true;
    }
    case PT_CLSID:
        v.lpguid = nullptr;
        if (value.is_null()) return true;
        v.lpguid = memory.New<GUID>(1);
        return GuidFrom(value, *v.lpguid);
    case PT_BINARY:
        v.bin = {0, nullptr};
        if (value.is_null()) return true;
        if (!BytesFromHex(value, bytes)) return false;
        v.bin.cb = static_cast<ULONG>(bytes.size());
        v.bin.lpb = memory.New<BYTE>(bytes.size());
        memcpy(v.bin.lpb, bytes.data(), bytes.size());
        return true;
    default: return false;
    }
}

// The base types a multi-valued property may have, with the size of one element.
size_t ElementSize(ULONG base)
{
    switch (base) {
    case PT_I2: return sizeof(short);
    case PT_LONG: return sizeof(LONG);
    case PT_R4: return sizeof(float);
    case PT_DOUBLE:
    case PT_APPTIME: return sizeof(double);
    case PT_CURRENCY: return sizeof(CURRENCY);
    case PT_SYSTIME: return sizeof(FILETIME);
    case PT_STRING8: return sizeof(LPSTR);
    case PT_BINARY: return sizeof(SBinary);
    case PT_UNICODE: return sizeof(LPWSTR);
    case PT_CLSID: return sizeof(GUID);
    case PT_I8: return sizeof(LARGE_INTEGER);
    default: return 0;
    }
}

// Every multi-valued array is a count and a pointer to its elements.
struct MultiValue {
    ULONG cValues;
    BYTE* elements;
};

// Element |i| of an array of |base| elements, as a single value of that type, and back.
_PV Element(ULONG base, const BYTE* at)
{
    _PV v = {};
    if (base == PT_CLSID) v.lpguid = reinterpret_cast<LPGUID>(const_cast<BYTE*>(at));
    else memcpy(&v, at, ElementSize(base));
    return v;
}

void SetElement(ULONG base, BYTE* at, const _PV& v)
{
    if (base == PT_CLSID) memcpy(at, v.lpguid, sizeof(GUID));
    else memcpy(at, &v, ElementSize(base));
}

bool EncodeProp(const SPropValue& prop, Json& out)
{
    ULONG type = PROP_TYPE(prop.ulPropTag), base = type & ~MV_FLAG;
    Json value;
    if (!(type & MV_FLAG)) {
        if (!EncodeValue(type, prop.Value, value)) return false;
    } else {
        if (!ElementSize(base)) return false;
        MultiValue array;
        memcpy(&array, &prop.Value, sizeof(array));
        if (array.elements || !array.cValues) {
            value = Json::array();
            for (ULONG i = 0; i < array.cValues; ++i) {
                Json element;
                if (!EncodeValue(base, Element(base, array.elements + i * ElementSize(base)), element)) return false;
                value.push_back(std::move(element));
            }
        }
    }
    out = Json{{"tag", HexNumber(prop.ulPropTag, 8)}, {"value", std::move(value)}};
    return true;
}

bool DecodeProp(const Json& in, SPropValue& prop, BuiltRestriction& memory)
{
    if (!in.is_object() || !in.contains("tag") || !in.contains("value") || !Hex32(in["tag"], prop.ulPropTag)) return false;
    ULONG type = PROP_TYPE(prop.ulPropTag), base = type & ~MV_FLAG;
    const Json& value = in["value"];
    if (!(type & MV_FLAG)) return DecodeValue(type, value, prop.Value, memory);
    MultiValue array = {0, nullptr};
    if (!ElementSize(base) || !(value.is_null() || value.is_array())) return false;
    if (value.is_array()) {
        array.cValues = static_cast<ULONG>(value.size());
        array.elements = memory.New<BYTE>(value.size() * ElementSize(base));
        for (size_t i = 0; i < value.size(); ++i) {
            _PV element = {};
            if (!DecodeValue(base, value[i], element, memory)) return false;
            SetElement(base, array.elements + i * ElementSize(base), element);
        }
    }
    memcpy(&prop.Value, &array, sizeof(array));
    return true;
}

Json Props(ULONG count, const SPropValue* props, bool& ok)
{
    if (!props) return Json();
    Json out = Json::array();
    for (ULONG i = 0; ok && i < count; ++i) {
        Json prop;
        ok = EncodeProp(props[i], prop);
        out.push_back(std::move(prop));
    }
    return out;
}

Json Prop(const SPropValue* prop, bool& ok)
{
    Json out;
    if (prop) ok = EncodeProp(*prop, out);
    return out;
}

// --- Restrictions ---------------------------------------------------------

const char* const kTypeNames[] = {"and", "or", "not", "content", "property", "compare", "bitmask",
                                  "size", "exist", "sub", "comment", "count", "annotation"};

bool TypeFrom(const Json& node, ULONG& type)
{
    if (!node.contains("type") || !node["type"].is_string()) return false;
    for (ULONG i = 0; i < sizeof(kTypeNames) / sizeof(kTypeNames[0]); ++i)
        if (node["type"] == kTypeNames[i]) {
            type = i;
            return true;
        }
    return false;
}

} // namespace

Json TextForm(const wchar_t* text)
{
    if (WholeUtf16(text)) return ToUtf8(text);
    std::string units;
    for (; *text; ++text) units += HexNumber(static_cast<unsigned short>(*text), 4).substr(2);
    return Json{{"utf16", units}};
}

bool TextFrom(const Json& form, std::wstring& text)
{
    std::string bytes;
    if (form.is_string()) {
        text = FromUtf8(form.get_ref<const std::string&>());
        return true;
    }
    if (!(form.is_object() && form.size() == 1 && form.contains("utf16") && BytesFromHex(form["utf16"], bytes)) || bytes.size() % 2 != 0)
        return false;
    text.clear();
    for (size_t i = 0; i < bytes.size(); i += 2) text += static_cast<wchar_t>(static_cast<BYTE>(bytes[i]) << 8 | static_cast<BYTE>(bytes[i + 1]));
    return true;
}

bool RestrictionToJson(const SRestriction& restriction, Json& form, std::string& why)
{
    form = Json::array();
    std::vector<const SRestriction*> pending = {&restriction};  // what is still to write, next last
    while (!pending.empty()) {
        const SRestriction* r = pending.back();
        pending.pop_back();
        if (!r) {
            form.push_back(nullptr);
            continue;
        }
        if (r->rt >= sizeof(kTypeNames) / sizeof(kTypeNames[0])) {
            why = "a restriction of type " + HexNumber(r->rt, 8) + ", which MAPI does not define";
            return false;
        }
        Json node = {{"type", kTypeNames[r->rt]}};
        bool ok = true;
        switch (r->rt) {
        case RES_AND:
        case RES_OR:
            node["count"] = r->res.resAnd.cRes;
            if (r->res.resAnd.cRes && !r->res.resAnd.lpRes) {
                why = std::string("an ") + kTypeNames[r->rt] + "() without its operands";
                return false;
            }
            for (ULONG i = r->res.resAnd.cRes; i-- > 0;) pending.push_back(r->res.resAnd.lpRes + i);
            break;
        case RES_NOT:
            if (r->res.resNot.ulReserved) node["reserved"] = r->res.resNot.ulReserved;
            pending.push_back(r->res.resNot.lpRes);
            break;
        case kResCount:
            node["count"] = r->res.resNot.ulReserved;
            pending.push_back(r->res.resNot.lpRes);
            break;
        case RES_SUBRESTRICTION:
            node["object"] = HexNumber(r->res.resSub.ulSubObject, 8);
            pending.push_back(r->res.resSub.lpRes);
            break;
        case RES_COMMENT:
        case kResAnnotation:
            node["props"] = Props(r->res.resComment.cValues, r->res.resComment.lpProp, ok);
            pending.push_back(r->res.resComment.lpRes);
            break;
        case RES_CONTENT:
            node["fuzzy"] = HexNumber(r->res.resContent.ulFuzzyLevel, 8);
            node["tag"] = HexNumber(r->res.resContent.ulPropTag, 8);
            node["value"] = Prop(r->res.resContent.lpProp, ok);
            break;
        case RES_PROPERTY:
            node["relop"] = r->res.resProperty.relop;
            node["tag"] = HexNumber(r->res.resProperty.ulPropTag, 8);
            node["value"] = Prop(r->res.resProperty.lpProp, ok);
            break;
        case RES_COMPAREPROPS:
            node["relop"] = r->res.resCompareProps.relop;
            node["tag1"] = HexNumber(r->res.resCompareProps.ulPropTag1, 8);
            node["tag2"] = HexNumber(r->res.resCompareProps.ulPropTag2, 8);
            break;
        case RES_BITMASK:
            node["relop"] = r->res.resBitMask.relBMR;
            node["tag"] = HexNumber(r->res.resBitMask.ulPropTag, 8);
            node["mask"] = HexNumber(r->res.resBitMask.ulMask, 8);
            break;
        case RES_SIZE:
            node["relop"] = r->res.resSize.relop;
            node["tag"] = HexNumber(r->res.resSize.ulPropTag, 8);
            node["size"] = r->res.resSize.cb;
            break;
        default:  // RES_EXIST
            node["tag"] = HexNumber(r->res.resExist.ulPropTag, 8);
            if (r->res.resExist.ulReserved1) node["reserved1"] = r->res.resExist.ulReserved1;
            if (r->res.resExist.ulReserved2) node["reserved2"] = r->res.resExist.ulReserved2;
            break;
        }
        if (!ok) {
            why = "a property value of a type that a restriction cannot carry";
            return false;
        }
        form.push_back(std::move(node));
    }
    return true;
}

bool BuiltRestriction::Build(const Json& form, std::string& why)
{
    // Where the next nodes go: a restriction to fill, or a pointer to one that may be null.
    struct Slot {
        SRestriction* fill;
        LPSRestriction* pointer;
    };
    m_blocks.clear();
    m_root = New<SRestriction>(1);
    std::vector<Slot> slots = {{m_root, nullptr}};
    if (!form.is_array()) {
        why = "the restriction is not an array of nodes";
        return false;
    }
    for (size_t i = 0; i < form.size(); ++i) {
        const Json& node = form[i];
        why = "restriction node " + std::to_string(i + 1) + " ";
        if (slots.empty()) return why += "is more than the restriction holds", false;
        Slot slot = slots.back();
        slots.pop_back();
        if (node.is_null()) {
            if (!slot.pointer) return why += "is null where an operand must stand", false;
            *slot.pointer = nullptr;
            continue;
        }
        SRestriction* r = slot.fill ? slot.fill : (*slot.pointer = New<SRestriction>(1));
        auto optional = [&](const char* key, ULONG& out) { return !node.contains(key) || Integer(node[key], 0, 0xFFFFFFFFLL, out); };
        auto prop = [&](LPSPropValue& out) {
            out = nullptr;
            if (!node.contains("value")) return false;
            if (node["value"].is_null()) return true;
            out = New<SPropValue>(1);
            return DecodeProp(node["value"], *out, *this);
        };
        bool ok = node.is_object() && TypeFrom(node, r->rt);
        switch (ok ? r->rt : ~0UL) {
        case RES_AND:
        case RES_OR: {
            ULONG count = 0;
            // Every operand takes at least one node: a count beyond them is no restriction.
            ok = node.contains("count") && Integer(node["count"], 0, static_cast<long long>(form.size() - i - 1), count);
            r->res.resAnd = {count, count ? New<SRestriction>(count) : nullptr};
            for (ULONG k = count; ok && k-- > 0;) slots.push_back({r->res.resAnd.lpRes + k, nullptr});
            break;
        }
        case RES_NOT:
        case kResCount:
            ok = r->rt == RES_NOT ? optional("reserved", r->res.resNot.ulReserved)
                                  : node.contains("count") && Integer(node["count"], 0, 0xFFFFFFFFLL, r->res.resNot.ulReserved);
            slots.push_back({nullptr, &r->res.resNot.lpRes});
            break;
        case RES_SUBRESTRICTION:
            ok = node.contains("object") && Hex32(node["object"], r->res.resSub.ulSubObject);
            slots.push_back({nullptr, &r->res.resSub.lpRes});
            break;
        case RES_COMMENT:
        case kResAnnotation: {
            const Json& props = node.contains("props") ? node["props"] : Json(false);
            ok = props.is_null() || props.is_array();
            r->res.resComment.cValues = ok && props.is_array() ? static_cast<ULONG>(props.size()) : 0;
            r->res.resComment.lpProp = ok && props.is_array() ? New<SPropValue>(props.size()) : nullptr;
            for (ULONG k = 0; ok && k < r->res.resComment.cValues; ++k) ok = DecodeProp(props[k], r->res.resComment.lpProp[k], *this);
            slots.push_back({nullptr, &r->res.resComment.lpRes});
            break;
        }
        case RES_CONTENT:
            ok = node.contains("fuzzy") && Hex32(node["fuzzy"], r->res.resContent.ulFuzzyLevel) && node.contains("tag") &&
                 Hex32(node["tag"], r->res.resContent.ulPropTag) && prop(r->res.resContent.lpProp);
            break;
        case RES_PROPERTY:
            ok = node.contains("relop") && Integer(node["relop"], 0, 0xFFFFFFFFLL, r->res.resProperty.relop) && node.contains("tag") &&
                 Hex32(node["tag"], r->res.resProperty.ulPropTag) && prop(r->res.resProperty.lpProp);
            break;
        case RES_COMPAREPROPS:
            ok = node.contains("relop") && Integer(node["relop"], 0, 0xFFFFFFFFLL, r->res.resCompareProps.relop) &&
                 node.contains("tag1") && Hex32(node["tag1"], r->res.resCompareProps.ulPropTag1) && node.contains("tag2") &&
                 Hex32(node["tag2"], r->res.resCompareProps.ulPropTag2);
            break;
        case RES_BITMASK:
            ok = node.contains("relop") && Integer(node["relop"], 0, 0xFFFFFFFFLL, r->res.resBitMask.relBMR) && node.contains("tag") &&
                 Hex32(node["tag"], r->res.resBitMask.ulPropTag) && node.contains("mask") && Hex32(node["mask"], r->res.resBitMask.ulMask);
            break;
        case RES_SIZE:
            ok = node.contains("relop") && Integer(node["relop"], 0, 0xFFFFFFFFLL, r->res.resSize.relop) && node.contains("tag") &&
                 Hex32(node["tag"], r->res.resSize.ulPropTag) && node.contains("size") && Integer(node["size"], 0, 0xFFFFFFFFLL, r->res.resSize.cb);
            break;
        case RES_EXIST:
            ok = node.contains("tag") && Hex32(node["tag"], r->res.resExist.ulPropTag) && optional("reserved1", r->res.resExist.ulReserved1) &&
                 optional("reserved2", r->res.resExist.ulReserved2);
            break;
        default: ok = false;
        }
        if (!ok) return why += "is not a restriction krvn can read", false;
    }
    if (!slots.empty()) return why = "the restriction ends before all its operands", false;
    why.clear();
    return true;
}
