#include "restriction.h"

#include <stdio.h>
#include <string.h>

#include "model.h"
#include "runtime.h"

namespace mapisim {

namespace {

// The names of the language; mapisim keeps its own copy, so that a reader of
// criteria tested against mapisim is checked against a second reading.
const struct { const char* name; ULONG tag; } kNames[] = {
    {"subject", 0x0037001F}, {"class", 0x001A001F}, {"sender", 0x0C1A001F}, {"sender_address", 0x0C1F001F},
    {"to", 0x0E04001F}, {"cc", 0x0E03001F}, {"body", 0x1000001F}, {"flags", 0x0E070003},
    {"importance", 0x00170003}, {"message_size", 0x0E080003}, {"has_attachments", 0x0E1B000B},
    {"received", 0x0E060040}, {"sent", 0x00390040}, {"modified", 0x30080040}, {"flag_status", 0x10900003},
    {"recipients", 0x0E12000D}, {"attachments", 0x0E13000D}, {"attachment_name", 0x3707001F}, {"address", 0x3003001F},
};
const struct { const char* text; ULONG relop; } kRelops[] = {
    {"<=", RELOP_LE}, {">=", RELOP_GE}, {"!=", RELOP_NE}, {"<", RELOP_LT}, {">", RELOP_GT}, {"=", RELOP_EQ}, {"like", RELOP_RE},
};
const int kMaxDepth = 1000;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

class Parser {
public:
    explicit Parser(const std::string& text) : m_text(text) {}

    std::unique_ptr<Rule> Parse(std::string& error)
    {
        std::unique_ptr<Rule> rule = Restriction(0);
        if (rule && m_at != m_text.size()) Fail("unexpected text after the restriction");
        if (!m_error.empty()) {
            error = m_error + " at character " + std::to_string(m_at + 1);
            return nullptr;
        }
        return rule;
    }

private:
    bool Fail(const std::string& what)
    {
        if (m_error.empty()) m_error = what;
        return false;
    }
    bool Take(const char* literal)
    {
        size_t n = strlen(literal);
        if (m_text.compare(m_at, n, literal) != 0) return false;
        m_at += n;
        return true;
    }
    bool Expect(const char* literal) { return Take(literal) || Fail(std::string("expected '") + literal + "'"); }
    std::string Word()
    {
        size_t start = m_at;
        while (m_at < m_text.size() && (isalnum(static_cast<unsigned char>(m_text[m_at])) || m_text[m_at] == '_')) ++m_at;
        return m_text.substr(start, m_at - start);
    }
    bool Hex32(ULONG& value)
    {
        if (!Take("0x") && !Take("0X")) return Fail("expected 0xHHHHHHHH");
        value = 0;
        for (int i = 0; i < 8; ++i, ++m_at) {
            int digit = m_at < m_text.size() ? HexDigit(m_text[m_at]) : -1;
            if (digit < 0) return Fail("expected eight hex digits");
            value = value * 16 + static_cast<ULONG>(digit);
        }
        return true;
    }
    bool Tag(ULONG& tag)
    {
        if (m_text.compare(m_at, 2, "0x") == 0 || m_text.compare(m_at, 2, "0X") == 0) return Hex32(tag);
        std::string name = Word();
        for (const auto& known : kNames)
            if (name == known.name) {
                tag = known.tag;
                return true;
            }
        return Fail("unknown property name '" + name + "'");
    }
    bool Relop(ULONG& relop)
    {
        for (const auto& op : kRelops)
            if (Take(op.text)) {
                relop = op.relop;
                return true;
            }
        return Fail("expected an operator");
    }
    bool Integer(LONGLONG& value, LONGLONG low, LONGLONG high)
    {
        bool negative = Take("-");
        size_t start = m_at;
        value = 0;
        while (m_at < m_text.size() && isdigit(static_cast<unsigned char>(m_text[m_at])) && m_at - start < 12)
            value = value * 10 + (m_text[m_at++] - '0');
        if (m_at == start) return Fail("expected a number");
        if (negative) value = -value;
        return (value >= low && value <= high) || Fail("number out of range");
    }
    bool Value(Rule& rule)
    {
        if (Take("\"")) {
            rule.valueType = PT_UNICODE;
            for (;;) {
                if (m_at >= m_text.size()) return Fail("unterminated text");
                char c = m_text[m_at++];
                if (c == '"') return true;
                if (c == '\\') {
                    if (m_at >= m_text.size() || (m_text[m_at] != '"' && m_text[m_at] != '\\')) return Fail("unknown escape");
                    c = m_text[m_at++];
                }
                rule.text += c;
            }
        }
        for (bool truth : {true, false})
            if (Take(truth ? "true" : "false")) {
                rule.valueType = PT_BOOLEAN;
                rule.integer = truth;
                return true;
            }
        if (Take("bin:")) {
            rule.valueType = PT_BINARY;
            while (m_at + 1 < m_text.size() && HexDigit(m_text[m_at]) >= 0 && HexDigit(m_text[m_at + 1]) >= 0) {
                rule.text += static_cast<char>(HexDigit(m_text[m_at]) * 16 + HexDigit(m_text[m_at + 1]));
                m_at += 2;
            }
            return true;
        }
        ULONGLONG ticks = 0;
        if (ParseUtcTime(m_text.substr(m_at, 20), ticks)) {
            rule.valueType = PT_SYSTIME;
            rule.integer = static_cast<LONGLONG>(ticks);
            m_at += 20;
            return true;
        }
        rule.valueType = PT_LONG;
        return Integer(rule.integer, -2147483648LL, 2147483647LL);
    }
    bool Fuzzy(ULONG& fuzzy)
    {
        if (Take("full")) fuzzy = FL_FULLSTRING;
        else if (Take("substring")) fuzzy = FL_SUBSTRING;
        else if (Take("prefix")) fuzzy = FL_PREFIX;
        else return Fail("expected full, substring or prefix");
        for (;;) {
            if (Take("|ignorecase")) fuzzy |= FL_IGNORECASE;
            else if (Take("|loose")) fuzzy |= FL_LOOSE;
            else return true;
        }
    }

    std::unique_ptr<Rule> Restriction(int depth)
    {
        if (depth > kMaxDepth) {
            Fail("restriction nested deeper than " + std::to_string(kMaxDepth));
            return nullptr;
        }
        auto rule = std::make_unique<Rule>();
        std::string word = Word();
        if (!Expect("(")) return nullptr;
        bool ok = true;
        if (word == "and" || word == "or") {
            rule->type = word == "and" ? RES_AND : RES_OR;
            do {
                rule->children.push_back(Restriction(depth + 1));
                ok = rule->children.back() != nullptr;
            } while (ok && Take(", "));
        } else if (word == "not") {
            rule->type = RES_NOT;
            rule->children.push_back(Restriction(depth + 1));
            ok = rule->children.back() != nullptr;
        } else if (word == "content") {
            rule->type = RES_CONTENT;
            ok = Tag(rule->tag) && Expect(", ") && Value(*rule) && Expect(", ") && Fuzzy(rule->fuzzy);
        } else if (word == "prop") {
            rule->type = RES_PROPERTY;
            ok = Tag(rule->tag) && Expect(" ") && Relop(rule->relop) && Expect(" ") && Value(*rule);
        } else if (word == "compare") {
            rule->type = RES_COMPAREPROPS;
            ok = Tag(rule->tag) && Expect(" ") && Relop(rule->relop) && Expect(" ") && Tag(rule->tag2);
        } else if (word == "bitmask") {
            rule->type = RES_BITMASK;
            ok = Tag(rule->tag) && Expect(", ");
            if (ok && Take("eqz")) rule->relop = BMR_EQZ;
            else if (ok && Take("nez")) rule->relop = BMR_NEZ;
            else ok = ok && Fail("expected eqz or nez");
            ok = ok && Expect(", ") && Hex32(rule->number);
        } else if (word == "size") {
            rule->type = RES_SIZE;
            LONGLONG size = 0;
            ok = Tag(rule->tag) && Expect(" ") && Relop(rule->relop) && Expect(" ") && Integer(size, 0, 0xFFFFFFFFLL);
            rule->number = static_cast<ULONG>(size);
        } else if (word == "exist") {
            rule->type = RES_EXIST;
            ok = Tag(rule->tag);
        } else if (word == "sub") {
            rule->type = RES_SUBRESTRICTION;
            ok = Tag(rule->tag) && Expect(", ");
            if (ok) {
                rule->children.push_back(Restriction(depth + 1));
                ok = rule->children.back() != nullptr;
            }
        } else {
            ok = Fail("unknown restriction '" + word + "'");
        }
        if (!ok || !Expect(")")) return nullptr;
        return rule;
    }

    const std::string& m_text;
    size_t m_at = 0;
    std::string m_error;
};

// One restriction built into MAPI memory chained to |root|.
class Builder {
public:
    Builder(void* root, bool unicode) : m_root(root), m_unicode(unicode) {}

    HRESULT Fill(const Rule& rule, SRestriction& out)
    {
        out.rt = rule.type;
        switch (rule.type) {
        case RES_AND:
        case RES_OR: {
            LPSRestriction children = nullptr;
            HRESULT hr = More(sizeof(SRestriction) * rule.children.size(), reinterpret_cast<void**>(&children));
            for (size_t i = 0; SUCCEEDED(hr) && i < rule.children.size(); ++i) hr = Fill(*rule.children[i], children[i]);
            out.res.resAnd.cRes = static_cast<ULONG>(rule.children.size());
            out.res.resAnd.lpRes = children;
            return hr;
        }
        case RES_NOT:
        case RES_SUBRESTRICTION: {
            LPSRestriction child = nullptr;
            HRESULT hr = More(sizeof(SRestriction), reinterpret_cast<void**>(&child));
            if (SUCCEEDED(hr)) hr = Fill(*rule.children[0], *child);
            if (rule.type == RES_NOT) {
                out.res.resNot.ulReserved = 0;
                out.res.resNot.lpRes = child;
            } else {
                out.res.resSub.ulSubObject = rule.tag;
                out.res.resSub.lpRes = child;
            }
            return hr;
        }
        case RES_CONTENT:
            out.res.resContent.ulFuzzyLevel = rule.fuzzy;
            out.res.resContent.ulPropTag = Tag(rule.tag);
            return Value(rule, &out.res.resContent.lpProp);
        case RES_PROPERTY:
            out.res.resProperty.relop = rule.relop;
            out.res.resProperty.ulPropTag = Tag(rule.tag);
            return Value(rule, &out.res.resProperty.lpProp);
        case RES_COMPAREPROPS:
            out.res.resCompareProps = {rule.relop, Tag(rule.tag), Tag(rule.tag2)};
            return S_OK;
        case RES_BITMASK:
            out.res.resBitMask = {rule.relop, Tag(rule.tag), rule.number};
            return S_OK;
        case RES_SIZE:
            out.res.resSize = {rule.relop, Tag(rule.tag), rule.number};
            return S_OK;
        default:
            out.res.resExist = {0, Tag(rule.tag), 0};
            return S_OK;
        }
    }

private:
    HRESULT More(size_t size, void** out) { return AllocateMore(static_cast<ULONG>(size ? size : 1), m_root, out); }
    ULONG Tag(ULONG tag) const
    {
        return !m_unicode && PROP_TYPE(tag) == PT_UNICODE ? CHANGE_PROP_TYPE(tag, PT_STRING8) : tag;
    }
    HRESULT Value(const Rule& rule, LPSPropValue* out)
    {
        LPSPropValue value = nullptr;
        HRESULT hr = More(sizeof(SPropValue), reinterpret_cast<void**>(&value));
        if (FAILED(hr)) return hr;
        *out = value;
        ULONG type = rule.valueType;
        // Text takes the tag's string type when it has one written as PT_STRING8, else the call's.
        if (type == PT_UNICODE && (!m_unicode || PROP_TYPE(rule.tag) == PT_STRING8)) type = PT_STRING8;
        value->ulPropTag = PROP_TAG(type, PROP_ID(rule.tag));
        value->dwAlignPad = 0;
        switch (type) {
        case PT_UNICODE: {
            int length = MultiByteToWideChar(CP_UTF8, 0, rule.text.data(), static_cast<int>(rule.text.size()), nullptr, 0);
            hr = More((length + 1) * sizeof(wchar_t), reinterpret_cast<void**>(&value->Value.lpszW));
            if (FAILED(hr)) return hr;
            MultiByteToWideChar(CP_UTF8, 0, rule.text.data(), static_cast<int>(rule.text.size()), value->Value.lpszW, length);
            value->Value.lpszW[length] = L'\0';
            return S_OK;
        }
        case PT_STRING8: {
            std::string ansi = ToAnsi(rule.text);
            hr = More(ansi.size() + 1, reinterpret_cast<void**>(&value->Value.lpszA));
            if (SUCCEEDED(hr)) memcpy(value->Value.lpszA, ansi.c_str(), ansi.size() + 1);
            return hr;
        }
        case PT_BINARY:
            value->Value.bin.cb = static_cast<ULONG>(rule.text.size());
            hr = More(rule.text.size(), reinterpret_cast<void**>(&value->Value.bin.lpb));
            if (SUCCEEDED(hr)) memcpy(value->Value.bin.lpb, rule.text.data(), rule.text.size());
            return hr;
        case PT_SYSTIME:
            value->Value.ft.dwLowDateTime = static_cast<DWORD>(rule.integer);
            value->Value.ft.dwHighDateTime = static_cast<DWORD>(static_cast<ULONGLONG>(rule.integer) >> 32);
            return S_OK;
        case PT_BOOLEAN:
            value->Value.b = static_cast<unsigned short>(rule.integer);
            return S_OK;
        default:
            value->Value.l = static_cast<LONG>(rule.integer);
            return S_OK;
        }
    }

    void* m_root;
    bool m_unicode;
};

std::string TagText(ULONG tag)
{
    for (const auto& known : kNames)
        if (known.tag == tag) return known.name;
    char text[16];
    snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(tag));
    return text;
}

std::string RelopText(ULONG relop)
{
    for (const auto& op : kRelops)
        if (op.relop == relop) return op.text;
    return "?";
}

std::string ValueText(const Rule& rule)
{
    static const char digits[] = "0123456789ABCDEF";
    switch (rule.valueType) {
    case PT_UNICODE: {
        std::string out = "\"";
        for (char c : rule.text) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        return out + "\"";
    }
    case PT_BOOLEAN: return rule.integer ? "true" : "false";
    case PT_BINARY: {
        std::string out = "bin:";
        for (unsigned char c : rule.text) {
            out += digits[c >> 4];
            out += digits[c & 15];
        }
        return out;
    }
    case PT_SYSTIME: {
        FILETIME file = {static_cast<DWORD>(rule.integer), static_cast<DWORD>(static_cast<ULONGLONG>(rule.integer) >> 32)};
        SYSTEMTIME t = {};
        FileTimeToSystemTime(&file, &t);
        char text[32];
        snprintf(text, sizeof(text), "%04u-%02u-%02uT%02u:%02u:%02uZ", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
        return text;
    }
    default: return std::to_string(rule.integer);
    }
}

void Write(const Rule& rule, std::string& out)
{
    auto operands = [&](const char* opening) {
        out += opening;
        for (size_t i = 0; i < rule.children.size(); ++i) {
            if (i) out += ", ";
            Write(*rule.children[i], out);
        }
        out += ")";
    };
    switch (rule.type) {
    case RES_AND: return operands("and(");
    case RES_OR: return operands("or(");
    case RES_NOT: return operands("not(");
    case RES_SUBRESTRICTION: return operands(("sub(" + TagText(rule.tag) + ", ").c_str());
    case RES_CONTENT: {
        static const char* const levels[] = {"full", "substring", "prefix"};
        out += "content(" + TagText(rule.tag) + ", " + ValueText(rule) + ", " + levels[rule.fuzzy & 0xFFFF];
        if (rule.fuzzy & FL_IGNORECASE) out += "|ignorecase";
        if (rule.fuzzy & FL_LOOSE) out += "|loose";
        out += ")";
        return;
    }
    case RES_PROPERTY: out += "prop(" + TagText(rule.tag) + " " + RelopText(rule.relop) + " " + ValueText(rule) + ")"; return;
    case RES_COMPAREPROPS: out += "compare(" + TagText(rule.tag) + " " + RelopText(rule.relop) + " " + TagText(rule.tag2) + ")"; return;
    case RES_BITMASK: {
        char mask[16];
        snprintf(mask, sizeof(mask), "0x%08lX", static_cast<unsigned long>(rule.number));
        out += "bitmask(" + TagText(rule.tag) + (rule.relop == BMR_EQZ ? ", eqz, " : ", nez, ") + mask + ")";
        return;
    }
    case RES_SIZE: out += "size(" + TagText(rule.tag) + " " + RelopText(rule.relop) + " " + std::to_string(rule.number) + ")"; return;
    default: out += "exist(" + TagText(rule.tag) + ")"; return;
    }
}

// The value of a content() or prop() restriction, as the language holds it.
bool ValueFrom(ULONG tag, const SPropValue* value, Rule& rule)
{
    if (!value || PROP_ID(value->ulPropTag) != PROP_ID(tag)) return false;
    rule.valueType = PROP_TYPE(value->ulPropTag);
    switch (rule.valueType) {
    case PT_UNICODE:  // text in the tag's own string type, when it has one
        if (PROP_TYPE(tag) == PT_STRING8 || !value->Value.lpszW) return false;
        rule.text = Utf8FromWide(value->Value.lpszW);
        return true;
    case PT_STRING8:
        if (PROP_TYPE(tag) != PT_STRING8 || !value->Value.lpszA) return false;
        rule.text = Utf8FromAnsi(value->Value.lpszA);
        rule.valueType = PT_UNICODE;
        return true;
    case PT_LONG: rule.integer = value->Value.l; return true;
    case PT_BOOLEAN: rule.integer = value->Value.b; return value->Value.b <= 1;
    case PT_BINARY:
        if (!value->Value.bin.lpb && value->Value.bin.cb) return false;
        rule.text.assign(reinterpret_cast<const char*>(value->Value.bin.lpb), value->Value.bin.cb);
        return true;
    case PT_SYSTIME: {
        ULONGLONG ticks = (static_cast<ULONGLONG>(value->Value.ft.dwHighDateTime) << 32) | value->Value.ft.dwLowDateTime;
        SYSTEMTIME t;
        rule.integer = static_cast<LONGLONG>(ticks);
        return ticks % 10000000 == 0 && FileTimeToSystemTime(&value->Value.ft, &t) && t.wYear <= 9999;
    }
    default: return false;
    }
}

std::unique_ptr<Rule> From(const SRestriction& r, int depth)
{
    if (depth > kMaxDepth) return nullptr;
    auto rule = std::make_unique<Rule>();
    rule->type = r.rt;
    auto operands = [&](ULONG count, const SRestriction* first) {
        if (!count || !first) return false;
        for (ULONG i = 0; i < count; ++i) {
            rule->children.push_back(From(first[i], depth + 1));
            if (!rule->children.back()) return false;
        }
        return true;
    };
    bool ok = false;
    switch (r.rt) {
    case RES_AND:
    case RES_OR: ok = operands(r.res.resAnd.cRes, r.res.resAnd.lpRes); break;
    case RES_NOT: ok = operands(1, r.res.resNot.lpRes); break;
    case RES_SUBRESTRICTION:
        rule->tag = r.res.resSub.ulSubObject;
        ok = operands(1, r.res.resSub.lpRes);
        break;
    case RES_CONTENT: {
        ULONG fuzzy = r.res.resContent.ulFuzzyLevel;
        rule->tag = r.res.resContent.ulPropTag;
        rule->fuzzy = fuzzy;
        ok = (fuzzy & 0xFFFF) <= FL_PREFIX && !(fuzzy & ~0xFFFFUL & ~(FL_IGNORECASE | FL_LOOSE)) &&
             ValueFrom(rule->tag, r.res.resContent.lpProp, *rule);
        break;
    }
    case RES_PROPERTY:
        rule->tag = r.res.resProperty.ulPropTag;
        rule->relop = r.res.resProperty.relop;
        ok = rule->relop <= RELOP_RE && ValueFrom(rule->tag, r.res.resProperty.lpProp, *rule);
        break;
    case RES_COMPAREPROPS:
        rule->tag = r.res.resCompareProps.ulPropTag1;
        rule->tag2 = r.res.resCompareProps.ulPropTag2;
        rule->relop = r.res.resCompareProps.relop;
        ok = rule->relop <= RELOP_RE;
        break;
    case RES_BITMASK:
        rule->tag = r.res.resBitMask.ulPropTag;
        rule->relop = r.res.resBitMask.relBMR;
        rule->number = r.res.resBitMask.ulMask;
        ok = rule->relop == BMR_EQZ || rule->relop == BMR_NEZ;
        break;
    case RES_SIZE:
        rule->tag = r.res.resSize.ulPropTag;
        rule->relop = r.res.resSize.relop;
        rule->number = r.res.resSize.cb;
        ok = rule->relop <= RELOP_RE;
        break;
    case RES_EXIST:
        rule->tag = r.res.resExist.ulPropTag;
        ok = true;
        break;
    }
    return ok ? std::move(rule) : nullptr;
}

} // namespace

std::string WriteRestriction(const Rule& rule)
{
    std::string out;
    Write(rule, out);
    return out;
}

std::unique_ptr<Rule> RuleFromRestriction(const SRestriction& restriction)
{
    return From(restriction, 0);
}

std::unique_ptr<Rule> ParseRestriction(const std::string& text, std::string& error)
{
    return Parser(text).Parse(error);
}

bool ParseUtcTime(const std::string& text, ULONGLONG& ticks)
{
    static const char shape[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != 20) return false;
    for (size_t i = 0; i < 20; ++i)
        if (shape[i] == 'd' ? !isdigit(static_cast<unsigned char>(text[i])) : text[i] != shape[i]) return false;
    auto at = [&](size_t i, size_t n) { return static_cast<WORD>(std::stoi(text.substr(i, n))); };
    SYSTEMTIME time = {at(0, 4), at(5, 2), 0, at(8, 2), at(11, 2), at(14, 2), at(17, 2), 0};
    FILETIME file;
    if (!SystemTimeToFileTime(&time, &file)) return false;
    ticks = (static_cast<ULONGLONG>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    return true;
}

HRESULT BuildRestriction(const Rule& rule, bool unicode, LPSRestriction* out)
{
    LPSRestriction root = nullptr;
    HRESULT hr = Allocate(sizeof(SRestriction), reinterpret_cast<void**>(&root));
    if (FAILED(hr)) return hr;
    hr = Builder(root, unicode).Fill(rule, *root);
    if (FAILED(hr)) {
        FreeBuffer(root);
        return hr;
    }
    *out = root;
    return S_OK;
}

} // namespace mapisim
