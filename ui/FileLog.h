#pragma once
// The program's log target: every line gets the wall-clock time "[%H:%M:%S] " in front, goes to the
// Log page's list box and, when a directory "log" exists in the working directory, to a log file
// "log/bcx<yymmdd-hhmmss>.log" (GBK, one line per message). Errors and warnings get a Chinese prefix;
// trace messages go to the target that was active before.

#include <wx/log.h>

class wxFile;
class wxListBox;

class FileLog : public wxLog {
public:
    // listBox: the Log page's list box (not owned). previous: the target active before (not owned; may
    // be null).
    FileLog(wxListBox* listBox, wxLog* previous);
    // Makes the previous target active again (when this log is the active one) and closes the file.
    ~FileLog() override;

    FileLog(const FileLog&) = delete;
    FileLog& operator=(const FileLog&) = delete;

    // True when lines are written to a log file.
    bool HasFile() const { return mFile != nullptr; }

protected:
    void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo& info) override;

private:
    // One output line: time stamp, list box, file.
    void LogLine(const wxString& text);

    wxListBox* mListBox;
    wxLog* mPrevious;
    wxFile* mFile;
};
