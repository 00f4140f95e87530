#include "ui/FileLog.h"

#include <ctime>
#include <string>

#include <wx/datetime.h>
#include <wx/file.h>
#include <wx/filefn.h>
#include <wx/intl.h>
#include <wx/listbox.h>

#include "platform/ProgramClock.h"
#include "platform/TextCodec.h"

namespace {

wxString FormatLocalNow(const wxString& format)
{
    wxDateTime now(static_cast<time_t>(bcx::WallClock::Now()));
    return now.Format(format);
}

} // namespace

FileLog::FileLog(wxListBox* listBox, wxLog* previous)
    : mListBox(listBox), mPrevious(previous), mFile(new wxFile)
{
    if (wxDirExists(wxS("log"))) {
        wxString name = wxS("log/bcx") + FormatLocalNow(wxS("%y%m%d-%H%M%S")) + wxS(".log");
        wxLogNull quiet;
        const int access = wxS_IRUSR | wxS_IWUSR | wxS_IRGRP | wxS_IWGRP | wxS_IROTH | wxS_IWOTH;
        if (!mFile->Create(name, true, access)) {
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
    wxString line = FormatLocalNow(wxS("[%H:%M:%S] ")) + text;
    if (mListBox) {
        mListBox->Append(line);
        mListBox->SetFirstItem(static_cast<int>(mListBox->GetCount()) - 1);
    }
    if (mFile) {
        std::string bytes = bcx::ToGbk(line + wxS("\n"));
        mFile->Write(bytes.data(), bytes.size());
    }
}
