#include "support/gui/DialogCapture.h"

#include <wx/msgdlg.h>

#include "support/Text.h"

namespace bcxtest {

DialogCapture::DialogCapture(bool watchOnly) : mWatchOnly(watchOnly)
{
    Register();
}

DialogCapture::~DialogCapture()
{
    Unregister();
}

int DialogCapture::Enter(wxDialog* dialog)
{
    CapturedDialog captured;
    captured.caption = Utf8(dialog->GetTitle());
    if (wxMessageDialogBase* box = dynamic_cast<wxMessageDialogBase*>(dialog))
        captured.message = Utf8(box->GetMessage());
    mDialogs.push_back(captured);
    if (mWatchOnly)
        mShown.emplace_back(dialog);
    if (onOpen)
        onOpen(dialog);
    return mWatchOnly ? wxID_NONE : wxID_OK;
}

void DialogCapture::Exit(wxDialog*)
{
    if (mShown.empty())
        return;
    if (mShown.back())
        ++mReturned;
    mShown.pop_back();
}

} // namespace bcxtest
