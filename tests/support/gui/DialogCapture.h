#pragma once
// Catches every modal dialog (message boxes included) while it lives: records its caption and message
// and closes it at once with OK, so that a test never blocks on a dialog. A capture that only watches
// lets the toolkit show the dialog for real: its ShowModal runs its own loop until something ends it.

#include <functional>
#include <string>
#include <vector>

#include <wx/dialog.h>
#include <wx/modalhook.h>
#include <wx/weakref.h>

namespace bcxtest {

struct CapturedDialog {
    std::string caption; // UTF-8
    std::string message; // UTF-8; empty for dialogs other than message boxes
};

class DialogCapture : public wxModalDialogHook {
public:
    explicit DialogCapture(bool watchOnly = false);
    ~DialogCapture() override;

    const std::vector<CapturedDialog>& Dialogs() const { return mDialogs; }
    // Dialogs shown for real that returned from ShowModal still existing (not deleted inside it).
    size_t Returned() const { return mReturned; }
    // Run with each dialog as it opens, before it is answered or shown.
    std::function<void(wxDialog*)> onOpen;

protected:
    int Enter(wxDialog* dialog) override;
    void Exit(wxDialog* dialog) override;

private:
    bool mWatchOnly;
    std::vector<CapturedDialog> mDialogs;
    std::vector<wxWeakRef<wxDialog>> mShown;  // the dialogs inside ShowModal, innermost last
    size_t mReturned = 0;
};

} // namespace bcxtest
