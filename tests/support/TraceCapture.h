// Reads what the trace log wrote to its file since the capture began. The
// test program sends its trace to one file (level 3) for its whole run.
#pragma once
#include <windows.h>

#include <string>

class TraceCapture {
public:
    TraceCapture();
    // Trace text written since construction, with "\r\n" as "\n".
    std::string Text() const;
private:
    size_t start_;
};

// The test program's trace file (opened on first use).
const std::string& TraceFilePath();

// The value of the last exit line "<--name(), ret = X" in |trace|; E_UNEXPECTED when there is none.
HRESULT ExitResult(const std::string& trace, const std::string& name);
