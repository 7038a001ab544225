#include "TraceCapture.h"

#include <stdlib.h>

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

HRESULT ExitResult(const std::string& trace, const std::string& name)
{
    std::string marker = "<--" + name + "(), ret = ";
    size_t at = trace.rfind(marker);
    if (at == std::string::npos) return E_UNEXPECTED;
    return static_cast<HRESULT>(strtoul(trace.c_str() + at + marker.size(), nullptr, 16));
}
