// The files krvn appends records to (the audit log, the backups): named by
// the user, with environment references and relative paths resolved and the
// folders on the way made; each record appended whole, in turn with any other
// run appending to the same file.
#pragma once
#include <windows.h>

#include <string>

// A file handle, closed when it goes.
class Handle {
public:
    explicit Handle(HANDLE handle) : m_handle(handle) {}
    ~Handle() { if (IsOpen()) CloseHandle(m_handle); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    bool IsOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_handle; }

private:
    HANDLE m_handle;
};

// |path| with its environment references (%TEMP%, %LOCALAPPDATA%, …) expanded, made absolute.
std::wstring ExpandPath(const std::wstring& path);

class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens |path| (as ExpandPath gives it) for appending, making its folders;
    // false with |error| naming the file, |what| it is ("the log file").
    bool Open(const std::wstring& path, const std::wstring& what, std::wstring& error);
    bool IsOpen() const { return m_file != INVALID_HANDLE_VALUE; }
    bool Created() const { return m_created; }  // by Open: there was no such file
    const std::wstring& Path() const { return m_path; }
    // Appends |bytes| on a line of their own (a line end first where the file
    // does not end with one), never interleaved with another run's: runs take
    // turns by an exclusive lock on the byte at offset 2^63 - 2. False when
    // they could not be written whole; the file is then put back to the
    // length it had (no part of a record stays at its end).
    bool Append(const std::string& bytes);
    // Makes what was appended durable (FlushFileBuffers).
    bool Flush();
    // Puts the file back to the length it had before the last Append.
    void Undo();
    // The Windows error of the call that failed last.
    DWORD Error() const { return m_error; }
    void Close();

private:
    HANDLE m_file = INVALID_HANDLE_VALUE;
    std::wstring m_path;
    bool m_created = false;
    LARGE_INTEGER m_before = {};  // the length before the last Append
    DWORD m_error = ERROR_SUCCESS;
};
