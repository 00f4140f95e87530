#pragma once
// The log target while the program starts: what is logged before the main window's log exists (the
// settings file read as UTF-8, a version check that could not start, ...) is held here instead of
// popping up in a box that start-up would wait on. The main window writes the held lines into its log
// (Log page and file) once it has installed it. Trace messages go on to the target that was active before.

#include <cstddef>
#include <vector>

#include <wx/log.h>
#include <wx/string.h>

class StartupLog : public wxLog {
public:
    // Lines held at most; the line that says the bound was hit comes on top.
    static constexpr size_t kMaxHeldLines = 200;

    // previous: the target active before (not owned; may be null).
    explicit StartupLog(wxLog* previous) : mPrevious(previous) {}

    StartupLog(const StartupLog&) = delete;
    StartupLog& operator=(const StartupLog&) = delete;

    wxLog* GetPrevious() const { return mPrevious; }

    // Hands the held messages to the target, in the order they were logged, and forgets them.
    void Replay(wxLog& target);

protected:
    void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo& info) override;

private:
    struct HeldLine {
        wxLogLevel level;
        wxString msg;
        wxLogRecordInfo info;
    };

    wxLog* mPrevious;
    std::vector<HeldLine> mHeld;
    bool mFull = false;
};
