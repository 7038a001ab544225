// Where krvn writes: standard output and standard error, as UTF-16 on a
// console and as UTF-8 when redirected to a file or a pipe; and the progress
// line, shown only on a console.
#pragma once
#include <windows.h>

#include <string>

void WriteOut(const std::wstring& text);
void WriteErr(const std::wstring& text);

// A one-line counter on standard error while long work runs; nothing at all
// when standard error is not a console.
class Progress {
public:
    Progress();
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    void Scanned() { ++scanned_; Show(); }
    void Deleted() { ++deleted_; Show(); }

private:
    void Show();
    HANDLE console_ = nullptr;
    ULONGLONG last_ = 0;
    size_t shown_ = 0;
    long scanned_ = 0, deleted_ = 0;
};
