#include "ui/FileLog.h"

#include <algorithm>
#include <ctime>
#include <string>

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
    : mListBox(listBox), mPrevious(previous), mFile(new wxFile), mMaxFileBytes(maxFileBytes)
{
    if (wxDirExists(wxS("log"))) {
        wxString name = wxS("log/bcx") + FormatLocalNow(wxS("%y%m%d-%H%M%S")) + wxS(".log");
        const int access = wxS_IRUSR | wxS_IWUSR | wxS_IRGRP | wxS_IWGRP | wxS_IROTH | wxS_IWOTH;
        if (!bcx::CreateFileCloseOnExec(*mFile, name, access)) {
            // A log file that cannot be created is not written to; the list box still gets every line.
            delete mFile;
            mFile = nullptr;
        }
    } else {
        delete mFile;
        mFile = nullptr;
    }
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
