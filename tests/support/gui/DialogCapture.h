#pragma once
// Catches every modal dialog (message boxes included) while it lives: records its caption and message
// and closes it at once with OK, so that a test never blocks on a dialog.

#include <string>
#include <vector>

#include <wx/modalhook.h>

namespace bcxtest {

struct CapturedDialog {
    std::string caption; // UTF-8
    std::string message; // UTF-8; empty for dialogs other than message boxes
};

class DialogCapture : public wxModalDialogHook {
public:
    DialogCapture();
    ~DialogCapture() override;

    const std::vector<CapturedDialog>& Dialogs() const { return mDialogs; }

protected:
    int Enter(wxDialog* dialog) override;
    void Exit(wxDialog* dialog) override;

private:
    std::vector<CapturedDialog> mDialogs;
};

} // namespace bcxtest
