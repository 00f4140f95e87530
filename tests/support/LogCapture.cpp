#include "support/LogCapture.h"

#include <cstdio>
#include <cstdlib>

#include "support/Text.h"

namespace bcxtest {

LogCapture::LogCapture()
{
    mPrevious = wxLog::SetActiveTarget(this);
    wxLog::EnableLogging(true);
}

LogCapture::~LogCapture()
{
    wxLog::SetActiveTarget(mPrevious);
}

void LogCapture::DoLogRecord(wxLogLevel, const wxString& msg, const wxLogRecordInfo&)
{
    mLines.push_back(Utf8(msg));
    if (std::getenv("BCX_TEST_ECHO_LOG"))
        std::fprintf(stderr, "[log] %s\n", mLines.back().c_str());
}

bool LogCapture::Contains(const std::string& fragment) const
{
    return Count(fragment) > 0;
}

size_t LogCapture::Count(const std::string& fragment) const
{
    size_t n = 0;
    for (const std::string& line : mLines)
        if (line.find(fragment) != std::string::npos)
            ++n;
    return n;
}

} // namespace bcxtest
