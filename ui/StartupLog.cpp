#include "ui/StartupLog.h"

void StartupLog::DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo& info)
{
    if (level == wxLOG_Trace) {
        if (mPrevious)
            mPrevious->LogRecord(level, msg, info);
        return;
    }
    if (mFull)
        return;
    if (mHeld.size() >= kMaxHeldLines) {
        mFull = true;
        mHeld.push_back({wxLOG_Message,
                         wxString::Format(wxS("%zu lines were logged before the main window; further ones are "
                                              "dropped"),
                                          mHeld.size()),
                         info});
        return;
    }
    mHeld.push_back({level, msg, info});
}

void StartupLog::Replay(wxLog& target)
{
    std::vector<HeldLine> held;
    held.swap(mHeld);
    mFull = false;
    for (const HeldLine& line : held)
        target.LogRecord(line.level, line.msg, line.info);
}
