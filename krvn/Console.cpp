#include "Console.h"

#include "Records.h"

namespace {

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

void Write(DWORD which, const std::wstring& text)
{
    HANDLE handle = GetStdHandle(which);
    if (!handle || handle == INVALID_HANDLE_VALUE || text.empty()) return;
    DWORD written = 0;
    if (IsConsole(handle)) {
        WriteConsoleW(handle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        return;
    }
    std::string bytes = ToUtf8(text);
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

} // namespace

void WriteOut(const std::wstring& text)
{
    Write(STD_OUTPUT_HANDLE, text);
}

void WriteErr(const std::wstring& text)
{
    Write(STD_ERROR_HANDLE, text);
}

Progress::Progress()
{
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (IsConsole(handle)) console_ = handle;
}

Progress::~Progress()
{
    if (!console_ || !shown_) return;
    std::wstring blank = L"\r" + std::wstring(shown_, L' ') + L"\r";
    DWORD written = 0;
    WriteConsoleW(console_, blank.data(), static_cast<DWORD>(blank.size()), &written, nullptr);
}

void Progress::Show()
{
    if (!console_) return;
    ULONGLONG now = GetTickCount64();
    if (now - last_ < 100) return;  // at most ten times a second
    last_ = now;
    std::wstring line = L"\rscanned " + std::to_wstring(scanned_) + L" folders, deleted " + std::to_wstring(deleted_);
    shown_ = line.size();
    DWORD written = 0;
    WriteConsoleW(console_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
