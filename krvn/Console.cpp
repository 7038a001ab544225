#include "Console.h"

#include <algorithm>

#include "Conversions.h"

namespace {

Progress* g_progress = nullptr;  // the line on the console, if one is shown
volatile LONG g_interrupted = 0;

bool IsConsole(HANDLE handle)
{
    DWORD mode = 0;
    return handle && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

bool Write(DWORD which, const std::wstring& text)
{
    if (text.empty()) return true;
    if (g_progress) g_progress->Clear();
    HANDLE handle = GetStdHandle(which);
    if (!handle || handle == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    if (IsConsole(handle)) {
        // A console takes a limited amount per call.
        for (size_t at = 0; at < text.size(); at += written) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - at, 8192));
            if (chunk > 1 && IS_HIGH_SURROGATE(text[at + chunk - 1])) --chunk;  // a character stays whole
            if (!WriteConsoleW(handle, text.data() + at, chunk, &written, nullptr) || !written) return false;
        }
        return true;
    }
    std::string bytes = ToUtf8(text);
    return WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) && written == bytes.size();
}

BOOL WINAPI OnControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    InterlockedExchange(&g_interrupted, 1);
    return TRUE;
}

} // namespace

bool WriteOut(const std::wstring& text)
{
    return Write(STD_OUTPUT_HANDLE, text);
}

void WriteErr(const std::wstring& text)
{
    Write(STD_ERROR_HANDLE, text);
}

void Message(const std::wstring& text)
{
    WriteErr(L"krvn: " + Visible(text) + L"\r\n");
}

Progress::Progress(bool shown)
{
    HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    if (shown && IsConsole(handle)) m_console = handle;
    g_progress = this;
}

Progress::~Progress()
{
    Clear();
    g_progress = nullptr;
}

void Progress::Clear()
{
    if (!m_console || !m_shown) return;
    std::wstring blank = L"\r" + std::wstring(m_shown, L' ') + L"\r";
    m_shown = 0;
    DWORD written = 0;
    WriteConsoleW(m_console, blank.data(), static_cast<DWORD>(blank.size()), &written, nullptr);
}

void Progress::Show()
{
    if (!m_console) return;
    ULONGLONG now = GetTickCount64();
    if (now - m_last < 100) return;  // at most ten times a second
    m_last = now;
    std::wstring line = L"\rscanned " + std::to_wstring(m_scanned) + L" folders, deleted " + std::to_wstring(m_deleted);
    m_shown = line.size();
    DWORD written = 0;
    WriteConsoleW(m_console, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

Interruption::Interruption()
{
    InterlockedExchange(&g_interrupted, 0);
    SetConsoleCtrlHandler(OnControl, TRUE);
}

Interruption::~Interruption()
{
    SetConsoleCtrlHandler(OnControl, FALSE);
}

bool Interruption::Requested() const
{
    return InterlockedCompareExchange(&g_interrupted, 0, 0) != 0;
}
