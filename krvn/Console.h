// Where krvn writes: standard output and standard error, as UTF-16 on a
// console and as UTF-8 when redirected to a file or a pipe; the progress
// line, shown only on a console; and Ctrl+C, which a deletion survives.
#pragma once
#include <windows.h>

#include <string>

// False when the text could not be written whole (no standard output, a
// closed pipe, a full disk).
bool WriteOut(const std::wstring& text);
void WriteErr(const std::wstring& text);
// Writes "krvn: TEXT" on a line of its own to standard error, every character
// shown as the text format shows it (Visible): no name or path in a message
// can break its line or turn its direction.
void Message(const std::wstring& text);

// A one-line counter on standard error while long work runs; nothing at all
// when standard error is not a console. Any other output erases it first.
class Progress {
public:
    explicit Progress(bool shown = true);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Scanned() { ++m_scanned; Show(); }
    void Deleted() { ++m_deleted; Show(); }
    void Clear();

private:
    void Show();
    HANDLE m_console = nullptr;
    ULONGLONG m_last = 0;
    size_t m_shown = 0;
    long m_scanned = 0, m_deleted = 0;
};

// While one lives, Ctrl+C and Ctrl+Break do not end the process: they are
// noted, so that the work in hand finishes and the rest is reported.
class Interruption {
public:
    Interruption();
    ~Interruption();
    Interruption(const Interruption&) = delete;
    Interruption& operator=(const Interruption&) = delete;
    bool Requested() const;
};
