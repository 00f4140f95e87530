#pragma once
// The program's log target: every line gets the wall-clock time "[%H:%M:%S] " in front, goes to the
// Log page's list box and, when a directory "log" exists in the working directory, to a log file
// "log/bcx<yymmdd-hhmmss>.log" (GBK, one line per message). The file is the program's alone: a second
// copy started in the same second writes "log/bcx<yymmdd-hhmmss>-2.log", a third "-3", and so on. When
// no file can be made in the folder, the first line (on the page and on standard error) says so and why.
// Errors and warnings get a Chinese prefix; trace messages go to the target that was active before.
//
// Peers fill much of the log, so the log keeps itself bounded and plain: control characters are written
// escaped ("\n", "\x01"), so a peer's text can never start a line of its own; a line identical to the one
// before is counted instead of shown again; the page keeps the newest kMaxListLines lines; the file
// stops growing at maxFileBytes, saying so in its last line.

#include <cstddef>

#include <wx/log.h>
#include <wx/string.h>

class wxFile;
class wxListBox;

class FileLog : public wxLog {
public:
    static constexpr unsigned kMaxListLines = 5000;
    static constexpr size_t kMaxFileBytes = 16 * 1024 * 1024;
    // Log files started within one second at most ("-2" up to "-99").
    static constexpr unsigned kMaxCopiesPerSecond = 99;

    // listBox: the Log page's list box (not owned). previous: the target active before (not owned; may
    // be null).
    FileLog(wxListBox* listBox, wxLog* previous, size_t maxFileBytes = kMaxFileBytes);
    // Makes the previous target active again (when this log is the active one) and closes the file.
    ~FileLog() override;

    FileLog(const FileLog&) = delete;
    FileLog& operator=(const FileLog&) = delete;

    // True when lines are written to a log file.
    bool HasFile() const { return mFile != nullptr; }

protected:
    void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo& info) override;

private:
    // One message: escaped, and counted when it repeats the one before; else written by Output.
    void LogLine(const wxString& text);
    // Writes how often the last line was repeated, when it was.
    void FlushRepeats();
    // One output line: time stamp, list box, file.
    void Output(const wxString& text);
    void WriteToFile(const wxString& line);

    wxListBox* mListBox;
    wxLog* mPrevious;
    wxFile* mFile;
    size_t mMaxFileBytes;
    size_t mFileBytes = 0;
    wxString mLastText;
    unsigned long mRepeats = 0;
};
