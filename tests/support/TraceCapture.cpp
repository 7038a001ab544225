#include "TraceCapture.h"

#include "TestFiles.h"
#include "trace.h"

const std::string& TraceFilePath()
{
    static std::string path;
    if (path.empty()) {
        path = TempPath("trace.log");
        TraceSetAppTag("SV");
        TraceSetLevel(TRACE_CALL);
        TraceOpenFile(path.c_str());
    }
    return path;
}

namespace {
std::string Normalised(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\r') out += c;
    return out;
}
}

TraceCapture::TraceCapture() : start_(Normalised(ReadTextFile(TraceFilePath())).size()) {}

std::string TraceCapture::Text() const
{
    return Normalised(ReadTextFile(TraceFilePath())).substr(start_);
}
