#include "ui/HintTextCtrl.h"

wxDEFINE_EVENT(HintTextCommitEvent, wxCommandEvent);

wxBEGIN_EVENT_TABLE(HintTextCtrl, wxTextCtrl)
    EVT_SET_FOCUS(HintTextCtrl::OnSetFocus)
    EVT_KILL_FOCUS(HintTextCtrl::OnKillFocus)
    EVT_TEXT_ENTER(wxID_ANY, HintTextCtrl::OnTextEnter)
wxEND_EVENT_TABLE()

namespace {

// The toolkit's white space: space, tab, carriage return, line feed, vertical tab, form feed.
bool IsWhiteSpace(wxUniChar c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

wxString Trimmed(const wxString& text)
{
    size_t begin = 0;
    size_t end = text.length();
    while (begin < end && IsWhiteSpace(text[begin]))
        ++begin;
    while (end > begin && IsWhiteSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

} // namespace

HintTextCtrl::HintTextCtrl(wxWindow* parent, wxWindowID id, const wxString& value, const wxPoint& pos,
                           const wxSize& size, long style, const wxValidator& validator)
    : wxTextCtrl(parent, id, value, pos, size, style & ~HintTextKeepSpaces, validator, wxString::FromAscii(wxTextCtrlNameStr)),
      mKeepSpaces((style & HintTextKeepSpaces) != 0)
{
}

HintTextCtrl::~HintTextCtrl() = default;

void HintTextCtrl::Commit()
{
    const wxString current = GetValue();
    wxString text = current;
    if (!mKeepSpaces) {
        text = Trimmed(current);
        if (text != current)
            ChangeValue(text);
    }
    if (text == mCommittedText)
        return;

    wxCommandEvent event(HintTextCommitEvent, GetId());
    InitCommandEvent(event);
    event.SetString(text);
    GetEventHandler()->ProcessEvent(event);
    mCommittedText = text;
}

void HintTextCtrl::OnSetFocus(wxFocusEvent& event)
{
    if (GetValue() == mHintText)
        ChangeValue(wxString());
    mCommittedText = GetValue();
    // The toolkit's own focus handling (caret, selection) still runs.
    event.Skip();
}

void HintTextCtrl::OnKillFocus(wxFocusEvent& event)
{
    event.Skip();
    // A field that loses the focus because its window is being torn down has nobody left to tell.
    if (IsBeingDeleted())
        return;
    Commit();
    if (GetValue().empty())
        ChangeValue(mHintText);
}

void HintTextCtrl::OnTextEnter(wxCommandEvent& /*event*/)
{
    Commit();
}
