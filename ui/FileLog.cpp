#include "ui/FileLog.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include <fcntl.h>

#include <wx/datetime.h>
#include <wx/file.h>
#include <wx/filefn.h>
#include <wx/intl.h>
#include <wx/listbox.h>

#include "platform/Descriptors.h"
#include "platform/ProgramClock.h"
#include "platform/TextCodec.h"

namespace {

wxString FormatLocalNow(const wxString& format)
{
    wxDateTime now(static_cast<time_t>(bcx::WallClock::Now()));
    return now.Format(format);
}

// The text with its control characters written out: "\n", "\r", "\t", else "\xNN" (or "\u00NN" for the
// C1 controls).
wxString EscapeControls(const wxString& text)
{
    auto isControl = [](wxUniChar c) { return c < 0x20 || (c >= 0x7F && c <= 0x9F); };
    if (std::none_of(text.begin(), text.end(), isControl))
        return text;
    wxString out;
    out.reserve(text.length() + 8);
    for (wxUniChar c : text) {
        if (!isControl(c)) {
            out += c;
            continue;
        }
        switch (c.GetValue()) {
        case '\n': out += wxS("\\n"); break;
        case '\r': out += wxS("\\r"); break;
        case '\t': out += wxS("\\t"); break;
        default:
            out += wxString::Format(c < 0x80 ? wxS("\\x%02X") : wxS("\\u%04X"), static_cast<unsigned>(c.GetValue()));
            break;
        }
    }
    return out;
}

} // namespace

FileLog::FileLog(wxListBox* listBox, wxLog* previous, size_t maxFileBytes)
    : mListBox(listBox), mPrevious(previous), mFile(nullptr), mMaxFileBytes(maxFileBytes)
{
    if (!wxDirExists(wxS("log")))
        return;
    const wxString stamp = wxS("log/bcx") + FormatLocalNow(wxS("%y%m%d-%H%M%S"));
    const int access = wxS_IRUSR | wxS_IWUSR | wxS_IRGRP | wxS_IWGRP | wxS_IROTH | wxS_IWOTH;
    // A file is never shared nor overwritten: a copy started in the same second as another one (or as
    // an earlier run) takes the next free name, "-2", "-3", ...
    wxString name;
    int error = 0;
    for (unsigned copy = 1; copy <= kMaxCopiesPerSecond; ++copy) {
        name = copy == 1 ? stamp + wxS(".log") : wxString::Format(wxS("%s-%u.log"), stamp, copy);
        const int fd = bcx::OpenCloseOnExec(name.fn_str(), O_WRONLY | O_CREAT | O_EXCL, access);
        if (fd >= 0) {
            mFile = new wxFile(fd);
            return;
        }
        error = errno;
        if (error != EEXIST)
            break;
    }
    // The list box still gets every line; the user learns once why there is no file.
    const wxString why = error == EEXIST
                             ? wxString::Format(wxS("%u log files of this second exist already"), kMaxCopiesPerSecond)
                             : wxString::FromUTF8(std::strerror(error));
    const wxString notice = wxString::Format(wxS("No log file is written: %s cannot be made in the folder \"log\" (%s)"),
                                             name, why);
    std::fprintf(stderr, "%s\n", static_cast<const char*>(notice.utf8_str()));
    LogLine(notice);
}

FileLog::~FileLog()
{
    FlushRepeats();
    if (wxLog::GetActiveTarget() == this)
        wxLog::SetActiveTarget(mPrevious);
    if (mFile) {
        mFile->Close();
        delete mFile;
    }
}

void FileLog::DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo& info)
{
    switch (level) {
    case wxLOG_Trace:
        if (mPrevious)
            mPrevious->LogRecord(level, msg, info);
        break;
    case wxLOG_Error:
        LogLine(wxGetTranslation(wxS("[错误] ")) + msg);
        break;
    case wxLOG_Warning:
        LogLine(wxGetTranslation(wxS("[警告] ")) + msg);
        break;
    case wxLOG_Info:
        // Verbose messages only in verbose mode, as the toolkit's own targets do.
        if (GetVerbose())
            LogLine(msg);
        break;
    case wxLOG_Debug:
        // Debug output of the toolkit does not belong on the Log page.
        break;
    default:
        LogLine(msg);
        break;
    }
}

void FileLog::LogLine(const wxString& text)
{
    const wxString escaped = EscapeControls(text);
    if (escaped == mLastText && !escaped.empty()) {
        ++mRepeats;
        return;
    }
    FlushRepeats();
    mLastText = escaped;
    Output(escaped);
}

void FileLog::FlushRepeats()
{
    if (mRepeats == 0)
        return;
    const unsigned long repeats = mRepeats;
    mRepeats = 0;
    Output(wxString::Format(wxS("(the line above was repeated %lu more times)"), repeats));
}

void FileLog::Output(const wxString& text)
{
    wxString line = FormatLocalNow(wxS("[%H:%M:%S] ")) + text;
    if (mListBox) {
        // The oldest lines make room for the newest.
        while (mListBox->GetCount() >= kMaxListLines)
            mListBox->Delete(0);
        mListBox->Append(line);
        mListBox->SetFirstItem(static_cast<int>(mListBox->GetCount()) - 1);
    }
    WriteToFile(line);
}

void FileLog::WriteToFile(const wxString& line)
{
    if (!mFile)
        return;
    const std::string bytes = bcx::ToGbk(line + wxS("\n"));
    // Room is kept for the line that says why the file ends.
    constexpr size_t kClosingLineRoom = 200;
    if (mFileBytes + bytes.size() + kClosingLineRoom <= mMaxFileBytes) {
        mFile->Write(bytes.data(), bytes.size());
        mFileBytes += bytes.size();
        return;
    }
    const wxString notice = wxString::Format(
        wxS("The log file reached its bound of %zu bytes; further lines are shown on the Log page only"),
        mMaxFileBytes);
    const std::string last = bcx::ToGbk(FormatLocalNow(wxS("[%H:%M:%S] ")) + notice + wxS("\n"));
    mFile->Write(last.data(), last.size());
    mFile->Close();
    delete mFile;
    mFile = nullptr;
    Output(notice);
}
