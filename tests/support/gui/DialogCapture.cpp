#include "support/gui/DialogCapture.h"

#include <wx/dialog.h>
#include <wx/msgdlg.h>

#include "support/Text.h"

namespace bcxtest {

DialogCapture::DialogCapture()
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
    return wxID_OK;
}

void DialogCapture::Exit(wxDialog*)
{
}

} // namespace bcxtest
