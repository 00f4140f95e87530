#include "browser/PageLog.h"

#include <cstddef>
#include <cstdint>
#include <memory>

#include <wx/log.h>

#include "browser/RecentEvents.h"
#include "platform/ProgramClock.h"

namespace bcx {
namespace {

// Text from a page is cut to this many characters in a log line.
const size_t kMaxLoggedChars = 200;
// At most this many lines in any window of this length (milliseconds of the program clock).
const size_t kMaxLinesPerWindow = 200;
const uint32_t kLineWindowMs = 10000;
// Of those, lines about ended processes: at most this many in any window of this length.
const size_t kMaxEndLinesPerWindow = 10;
const uint32_t kEndLineWindowMs = 60000;

// The lines logged lately. The program clock starts itself when it is read first, so it runs whether or
// not start-up has started it.
class LineWindow {
public:
    // True when one more line may be logged now (and it is counted); false when it is dropped. notice
    // gets the line that says lines are dropped when one is due.
    bool Admit(wxString& notice)
    {
        const uint32_t now = ProgramClock::Now();
        if (mLines.Admit(now))
            return true;
        if (!mNoticed || now - mNoticeTime >= kLineWindowMs) {
            mNoticed = true;
            mNoticeTime = now;
            notice = wxString::Format(wxS("[browser] pages caused %u lines within %u seconds; lines past that "
                                          "bound are not logged"),
                                      static_cast<unsigned>(kMaxLinesPerWindow),
                                      static_cast<unsigned>(kLineWindowMs / 1000));
        }
        return false;
    }

private:
    RecentEvents<kMaxLinesPerWindow> mLines{kLineWindowMs};
    bool mNoticed = false;
    uint32_t mNoticeTime = 0;
};

LineWindow& Lines()
{
    static LineWindow lines;
    return lines;
}

// The log target while a PageLogScope lives: hands what the window admits to the target it replaced.
class PageLogGate : public wxLog {
public:
    explicit PageLogGate(wxLog* previous) : mPrevious(previous) {}
    wxLog* GetPrevious() const { return mPrevious; }

protected:
    void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo& info) override
    {
        if (!mPrevious)
            return;
        wxString notice;
        if (Lines().Admit(notice))
            mPrevious->LogRecord(level, msg, info);
        else if (!notice.empty())
            mPrevious->LogRecord(wxLOG_Message, notice, info);
    }

private:
    wxLog* mPrevious;
};

int gScopeDepth = 0;
std::unique_ptr<PageLogGate> gGate;
PageNavigationDecision* gDecision = nullptr;

} // namespace

wxString ForLog(const wxString& text)
{
    wxString out;
    size_t n = 0;
    for (wxUniChar c : text) {
        if (++n > kMaxLoggedChars) {
            out += wxS("...");
            break;
        }
        if (c.GetValue() < 0x20 || c.GetValue() == 0x7F)
            out += wxString::Format(wxS("\\x%02X"), static_cast<unsigned>(c.GetValue()));
        else
            out += c;
    }
    return out;
}

void LogBrowser(const wxString& text)
{
    const wxString line = wxS("[browser] ") + text;
    // Inside a scope the gate counts the line.
    if (gGate && wxLog::GetActiveTarget() == gGate.get()) {
        wxLogMessage(wxS("%s"), line);
        return;
    }
    wxString notice;
    if (Lines().Admit(notice))
        wxLogMessage(wxS("%s"), line);
    else if (!notice.empty())
        wxLogMessage(wxS("%s"), notice);
}

void LogProcessEnd(const wxString& text)
{
    static RecentEvents<kMaxEndLinesPerWindow> ends(kEndLineWindowMs);
    static bool noticed = false;
    static uint32_t noticeTime = 0;
    const uint32_t now = ProgramClock::Now();
    if (ends.Admit(now)) {
        LogBrowser(text);
        return;
    }
    if (!noticed || now - noticeTime >= kEndLineWindowMs) {
        noticed = true;
        noticeTime = now;
        LogBrowser(wxString::Format(wxS("%u lines about ended processes within %u seconds; lines past that bound "
                                        "are not logged"),
                                    static_cast<unsigned>(kMaxEndLinesPerWindow),
                                    static_cast<unsigned>(kEndLineWindowMs / 1000)));
    }
}

PageLogScope::PageLogScope()
{
    if (gScopeDepth++ > 0)
        return;
    gGate = std::make_unique<PageLogGate>(wxLog::GetActiveTarget());
    wxLog::SetActiveTarget(gGate.get());
}

PageLogScope::~PageLogScope()
{
    if (--gScopeDepth > 0)
        return;
    // Nothing a navigation starts replaces the log target. Should something have, the gate is left to
    // it (that target may hand lines on to the gate).
    if (wxLog::GetActiveTarget() == gGate.get())
        wxLog::SetActiveTarget(gGate->GetPrevious());
    else
        gGate.release();
    gGate.reset();
}

PageNavigationDecision::PageNavigationDecision() : mOuter(gDecision)
{
    gDecision = this;
}

PageNavigationDecision::~PageNavigationDecision()
{
    gDecision = mOuter;
}

void PageNavigationDecision::NoteCarriedOut()
{
    if (gDecision)
        gDecision->mCarriedOut = true;
}

} // namespace bcx
