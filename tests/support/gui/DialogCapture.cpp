#include "support/gui/DialogCapture.h"

#include <wx/dialog.h>
#include <wx/msgdlg.h>

namespace bcxtest {
namespace {

std::string Utf8(const wxString& text)
{
    wxScopedCharBuffer buffer = text.utf8_str();
    return std::string(buffer.data(), buffer.length());
}

} // namespace

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
