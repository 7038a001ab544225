#include "Files.h"

#include <shlobj.h>

#include <algorithm>

#include "Conversions.h"

std::wstring ExpandPath(const std::wstring& path)
{
    DWORD length = ExpandEnvironmentStringsW(path.c_str(), nullptr, 0);
    std::wstring expanded(length ? length : 1, L'\0');
    if (!length || !ExpandEnvironmentStringsW(path.c_str(), &expanded[0], length)) expanded = path + L'\0';
    expanded.resize(expanded.size() - 1);
    length = GetFullPathNameW(expanded.c_str(), 0, nullptr, nullptr);
    std::wstring full(length ? length : 1, L'\0');
    if (!length || !GetFullPathNameW(expanded.c_str(), length, &full[0], nullptr)) return expanded;
    full.resize(full.find(L'\0'));
    return full;
}

AppendFile::~AppendFile()
{
    Close();
}

void AppendFile::Close()
{
    if (IsOpen()) CloseHandle(m_file);
    m_file = INVALID_HANDLE_VALUE;
}

bool AppendFile::Open(const std::wstring& path, const std::wstring& what, std::wstring& error)
{
    m_path = ExpandPath(path);
    // Every folder on the way, from a drive, a share or the current folder on.
    size_t folder = m_path.find_last_of(L"\\/");
    if (folder != std::wstring::npos && folder > 0) SHCreateDirectoryExW(nullptr, m_path.substr(0, folder).c_str(), nullptr);
    // Appending only: every write lands at the end, whoever else appends. Read
    // access lets the runs take turns by a lock (where it is refused, the
    // append alone must do). A run that is just removing the file it made
    // holds it alone for a moment: wait for it.
    for (int attempt = 0; attempt < 100 && !IsOpen(); ++attempt) {
        if (attempt) Sleep(20);
        for (DWORD access : {GENERIC_READ | FILE_APPEND_DATA, DWORD(FILE_APPEND_DATA | FILE_READ_ATTRIBUTES)}) {
            m_file = CreateFileW(m_path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
            m_error = GetLastError();
            m_created = m_error != ERROR_ALREADY_EXISTS;
            if (IsOpen()) return true;
        }
        if (m_error != ERROR_SHARING_VIOLATION) break;
    }
    error = what + L" " + Quoted(m_path) + L" cannot be opened for appending (" + SystemError(m_error) + L")";
    return false;
}

bool AppendFile::Append(const std::string& bytes)
{
    // Not every system appends a write whole while another process appends
    // (Wine finds the end, then writes there): runs take turns by a lock on a
    // byte far past any record.
    OVERLAPPED turn = {};
    turn.Offset = 0xFFFFFFFE;
    turn.OffsetHigh = 0x7FFFFFFF;
    bool locked = LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) != FALSE;
    m_error = ERROR_SUCCESS;
    // The length in this turn is the one length this run may put the file back to.
    LARGE_INTEGER before = {};
    bool ok = GetFileSizeEx(m_file, &before) != FALSE;
    if (!ok) m_error = GetLastError(), m_left = Left::NothingWritten;
    // Without a turn another run may have appended since: nothing is cut then.
    else if (!(ok = WriteAt(before, bytes))) m_left = locked && PutBack(before) ? Left::AsItWas : Left::PartWritten;
    if (locked) UnlockFileEx(m_file, 0, 1, 0, &turn);
    if (!ok && m_created && m_left != Left::PartWritten) Discard();
    return ok;
}

bool AppendFile::WriteAt(const LARGE_INTEGER& length, const std::string& bytes)
{
    // A last line cut short (a crash, a full disk) or without its line end (an
    // editor) must not swallow the first new record.
    char last = '\n';
    OVERLAPPED end = {};
    end.Offset = static_cast<DWORD>(length.QuadPart - 1);
    end.OffsetHigh = static_cast<DWORD>((length.QuadPart - 1) >> 32);
    DWORD read = 0;
    if (length.QuadPart > 0 && !(ReadFile(m_file, &last, 1, &read, &end) && read == 1)) last = '\0';
    bool ok = true;
    auto write = [&](const char* text, size_t size) {
        for (size_t done = 0; ok && done < size;) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30)), written = 0;
            if (!WriteFile(m_file, text + done, chunk, &written, nullptr)) m_error = GetLastError();
            else if (written == 0) m_error = ERROR_DISK_FULL;  // a success that writes nothing: no room is left
            ok = m_error == ERROR_SUCCESS;
            done += written;
        }
    };
    if (last != '\n') write("\r\n", 2);
    write(bytes.data(), bytes.size());
    if (ok && !FlushFileBuffers(m_file)) m_error = GetLastError(), ok = false;
    return ok;
}

bool AppendFile::PutBack(const LARGE_INTEGER& length)
{
    Handle file(CreateFileW(m_path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER now = {};
    if (!file.IsOpen() || !GetFileSizeEx(file.Get(), &now)) return false;
    // Nothing written: nothing to take back (Wine refuses to "extend" a file on a full disk to its own length).
    return now.QuadPart == length.QuadPart ||
           (SetFilePointerEx(file.Get(), length, nullptr, FILE_BEGIN) && SetEndOfFile(file.Get()) && FlushFileBuffers(file.Get()));
}

void AppendFile::Discard()
{
    // Held alone (no sharing), nobody else has it open: if it is empty, only
    // this run ever wrote to it, and it goes.
    Close();
    m_left = Left::KeptForOthers;
    Handle file(CreateFileW(m_path.c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    FILE_DISPOSITION_INFO remove = {TRUE};
    if (file.IsOpen() && GetFileSizeEx(file.Get(), &size) && size.QuadPart == 0 &&
        SetFileInformationByHandle(file.Get(), FileDispositionInfo, &remove, sizeof(remove)))
        m_left = Left::Removed;
}

std::wstring AppendFile::Failure() const
{
    static const wchar_t* const left[] = {L"it is as it was", L"nothing was written to it",
                                          L"what was written of it stays at its end, as it could not be put back",
                                          L"it was removed, as it held nothing else", L"it stays, as another run appends to it too"};
    std::wstring why = SystemError(m_error);
    if (m_left == Left::NothingWritten) why = L"its length could not be read: " + why;
    return L"(" + why + L"); " + left[static_cast<int>(m_left)];
}
