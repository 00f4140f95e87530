#pragma once
// A single-line text field that reports an edit once, when the user is done with it: on focus loss or
// on a text-enter event it sends a HintTextCommitEvent (a command event carrying the final text) that
// travels up the window tree to whoever holds the field. Unless created with HintTextKeepSpaces it trims
// leading and trailing white space first. It can hold a hint text that it clears on entry and puts back
// when the field is left empty.

#include <wx/event.h>
#include <wx/textctrl.h>
#include <wx/validate.h>

// Style bit of HintTextCtrl's own: keep leading and trailing white space. It is removed from the style
// before the toolkit sees it (the toolkit uses the same bit for a window style of its own).
constexpr long HintTextKeepSpaces = 0x40000;

// Sent by a HintTextCtrl when its committed text changes: id = the field's id, event object = the field,
// string = the committed text. Processed at once, not queued.
wxDECLARE_EVENT(HintTextCommitEvent, wxCommandEvent);

// Static event-table entries for the commit event of one field or of a range of field ids.
#define EVT_HINT_TEXT_COMMIT(id, func) wx__DECLARE_EVT1(HintTextCommitEvent, id, wxCommandEventHandler(func))
#define EVT_HINT_TEXT_COMMIT_RANGE(id1, id2, func) \
    wx__DECLARE_EVT2(HintTextCommitEvent, id1, id2, wxCommandEventHandler(func))

class HintTextCtrl : public wxTextCtrl {
public:
    HintTextCtrl(wxWindow* parent, wxWindowID id, const wxString& value = wxString(),
                 const wxPoint& pos = wxDefaultPosition, const wxSize& size = wxDefaultSize, long style = 0,
                 const wxValidator& validator = wxDefaultValidator);
    ~HintTextCtrl() override;

    // Ends an edit: trims (unless keeping spaces) and, when the text differs from the committed text,
    // sends HintTextCommitEvent and takes the text as the committed text.
    void Commit();

    const wxString& GetCommittedText() const { return mCommittedText; }
    const wxString& GetHintText() const { return mHintText; }
    bool KeepsSpaces() const { return mKeepSpaces; }

private:
    void OnSetFocus(wxFocusEvent& event);
    void OnKillFocus(wxFocusEvent& event);
    void OnTextEnter(wxCommandEvent& event);

    wxString mCommittedText;
    wxString mHintText;
    bool mKeepSpaces;

    wxDECLARE_EVENT_TABLE();
};
