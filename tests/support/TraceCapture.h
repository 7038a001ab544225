// Reads what the trace log wrote to its file since the capture began. The
// test program sends its trace to one file (level 3) for its whole run.
#pragma once
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
