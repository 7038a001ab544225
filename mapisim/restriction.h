// Search criteria of mapisim's search folders: the restriction language of a
// store file's criteria= attribute, parsed once, and built as MAPI builds a
// search restriction (one buffer, everything chained to it).
#pragma once
#include <windows.h>
#include <mapix.h>

#include <memory>
#include <string>
#include <vector>

namespace mapisim {

// One node of a parsed restriction.
struct Rule {
    ULONG type = RES_AND;  // RES_AND … RES_SUBRESTRICTION
    std::vector<std::unique_ptr<Rule>> children;  // and, or: the operands; not, sub: the one
    ULONG tag = 0, tag2 = 0;  // the property, and compare()'s second one
    ULONG relop = 0;          // RELOP_*, or BMR_EQZ/BMR_NEZ for bitmask()
    ULONG fuzzy = 0;          // FL_* of content()
    ULONG number = 0;         // bitmask()'s mask, size()'s byte count
    // The value of prop() and content(): its type (PT_UNICODE for text) and contents.
    ULONG valueType = 0;
    std::string text;          // UTF-8 text, or the bytes of bin:HEX
    LONGLONG integer = 0;      // integer, true/false, or a time as FILETIME ticks
};

// Parses |text|; null with |error| when it is not the language.
std::unique_ptr<Rule> ParseRestriction(const std::string& text, std::string& error);

// A time "YYYY-MM-DDTHH:MM:SSZ" as FILETIME ticks; false when it is not one.
bool ParseUtcTime(const std::string& text, ULONGLONG& ticks);

// The canonical text of |rule| in the language: exactly what a reader of
// criteria renders.
std::string WriteRestriction(const Rule& rule);

// A restriction a client hands over, as a rule; null when the language
// cannot hold it (another restriction type, a value of another property
// type, a time between seconds, nesting deeper than a store file takes).
std::unique_ptr<Rule> RuleFromRestriction(const SRestriction& restriction);

// Builds |rule| as one MAPI buffer. With |unicode| (MAPI_UNICODE) text is
// PT_UNICODE, else PT_STRING8 in the ANSI code page; a tag written with type
// PT_STRING8 keeps that type and takes its value in the ANSI code page.
HRESULT BuildRestriction(const Rule& rule, bool unicode, LPSRestriction* out);

} // namespace mapisim
