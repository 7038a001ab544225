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
    const std::wstring& Path() const { return m_path; }
    // Appends |bytes| on a line of their own (a line end first where the file
    // does not end with one) and makes them durable, never interleaved with
    // another run's: runs take turns by an exclusive lock on the byte at
    // offset 2^63 - 2. False when they could not be written whole: then,
    // still in this run's turn, the file is put back to the length this run
    // measured in it, so that no part of a record stays and nothing another
    // run appended is cut; where the length cannot be read nothing is
    // written. A file this run made is then removed if it holds nothing and
    // no other run has it open. Failure() says why, and what became of the file.
    bool Append(const std::string& bytes);
    // "(the system's reason); what became of the file", after a failed Append.
    std::wstring Failure() const;
    void Close();

private:
    enum class Left { AsItWas, NothingWritten, PartWritten, Removed, KeptForOthers };
    // Writes |bytes| at the end, |length| long, a line end first where it lacks one, and flushes.
    bool WriteAt(const LARGE_INTEGER& length, const std::string& bytes);
    bool PutBack(const LARGE_INTEGER& length);  // through a handle of its own: this one only appends
    void Discard();

    HANDLE m_file = INVALID_HANDLE_VALUE;
    std::wstring m_path;
    bool m_created = false;  // by Open: there was no such file
    DWORD m_error = ERROR_SUCCESS;
    Left m_left = Left::AsItWas;
};
