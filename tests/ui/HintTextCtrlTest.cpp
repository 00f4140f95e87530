// The hint text field: one commit event per finished edit (focus loss or Enter), carrying the trimmed
// or space-keeping text up the window tree to the window that holds the field.

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/textctrl.h>
#include <wx/uiaction.h>

#include "support/Pump.h"
#include "support/Text.h"
#include "ui/HintTextCtrl.h"

namespace {

using bcxtest::Utf8;

struct Commit {
    int id;
    std::string text; // UTF-8
    wxObject* object;
};

class HintTextCtrlTest : public testing::Test {
protected:
    void SetUp() override
    {
        mFrame = new wxFrame(nullptr, wxID_ANY, wxS("hint text"), wxPoint(40, 40), wxSize(420, 160));
        mOuter = new wxPanel(mFrame);
        mInner = new wxPanel(mOuter);
        mOther = new wxTextCtrl(mInner, 900, wxString(), wxDefaultPosition, wxSize(150, -1));
        auto* sizer = new wxBoxSizer(wxVERTICAL);
        sizer->Add(mOther, 0, wxALL, 5);
        mInner->SetSizer(sizer);
        auto* outerSizer = new wxBoxSizer(wxVERTICAL);
        outerSizer->Add(mInner, 1, wxEXPAND);
        mOuter->SetSizer(outerSizer);
        // The field's grandparent hears the commits: the event travels up the tree.
        mOuter->Bind(HintTextCommitEvent, [this](wxCommandEvent& event) {
            mCommits.push_back({event.GetId(), Utf8(event.GetString()), event.GetEventObject()});
        });
        mFrame->Show();
        mFrame->Raise();
        ASSERT_TRUE(bcxtest::PumpUntil([this] { return mFrame->IsShownOnScreen(); }));
    }

    void TearDown() override
    {
        mFrame->Destroy();
        bcxtest::PumpUntil([] { return wxTopLevelWindows.IsEmpty(); });
    }

    HintTextCtrl* MakeField(long style, const wxString& value = wxString(), int id = 777)
    {
        auto* field = new HintTextCtrl(mInner, id, value, wxDefaultPosition, wxSize(150, -1), style);
        mInner->GetSizer()->Add(field, 0, wxALL, 5);
        mInner->Layout();
        bcxtest::PumpFor(50);
        return field;
    }

    // Gives the keyboard focus to the window and waits until the toolkit reports it there.
    static bool Focus(wxWindow* window)
    {
        window->SetFocus();
        return bcxtest::PumpUntil([window] { return wxWindow::FindFocus() == window; });
    }

    // A click at the window's centre, as the user does it.
    static bool Click(wxWindow* window)
    {
        wxUIActionSimulator sim;
        wxRect rect = window->GetScreenRect();
        sim.MouseMove(rect.x + rect.width / 2, rect.y + rect.height / 2);
        bcxtest::PumpFor(30);
        sim.MouseClick();
        return bcxtest::PumpUntil([window] { return wxWindow::FindFocus() == window; });
    }

    static void Type(wxWindow* field, const char* text)
    {
        wxUIActionSimulator sim;
        sim.Text(text);
        bcxtest::PumpUntil([&] {
            return static_cast<wxTextCtrl*>(field)->GetValue().EndsWith(wxString::FromUTF8(text));
        });
    }

    wxFrame* mFrame = nullptr;
    wxPanel* mOuter = nullptr;
    wxPanel* mInner = nullptr;
    wxTextCtrl* mOther = nullptr;
    std::vector<Commit> mCommits;
};

TEST_F(HintTextCtrlTest, TypingAndLeavingWithTabCommitsTheTrimmedTextOnceToTheParents)
{
    HintTextCtrl* field = MakeField(wxBORDER_SUNKEN);
    ASSERT_TRUE(Click(field));
    Type(field, " abc ");
    EXPECT_TRUE(mCommits.empty()) << "keystrokes are not reported";

    wxUIActionSimulator sim;
    sim.Char(WXK_TAB);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return wxWindow::FindFocus() != field; }));
    bcxtest::PumpFor(50);

    ASSERT_EQ(1u, mCommits.size());
    EXPECT_EQ(777, mCommits[0].id);
    EXPECT_EQ("abc", mCommits[0].text);
    EXPECT_EQ(field, mCommits[0].object);
    EXPECT_EQ("abc", Utf8(field->GetValue()));
    EXPECT_EQ("abc", Utf8(field->GetCommittedText()));

    // In and out again without an edit: nothing more.
    ASSERT_TRUE(Focus(field));
    ASSERT_TRUE(Focus(mOther));
    EXPECT_EQ(1u, mCommits.size());
}

TEST_F(HintTextCtrlTest, FocusInAndOutWithoutAnEditSendsNothing)
{
    HintTextCtrl* field = MakeField(wxBORDER_SUNKEN, wxS("abc"));
    HintTextCtrl* empty = MakeField(wxBORDER_SUNKEN, wxString(), 778);
    ASSERT_TRUE(Focus(field));
    ASSERT_TRUE(Focus(empty));
    ASSERT_TRUE(Focus(mOther));
    EXPECT_TRUE(mCommits.empty());
    // With an empty hint text an empty field stays empty.
    EXPECT_EQ("", Utf8(empty->GetValue()));
    EXPECT_EQ("abc", Utf8(field->GetValue()));
}

TEST_F(HintTextCtrlTest, KeepSpacesFieldCommitsSpacesAndTheToolkitNeverSeesTheFlag)
{
    HintTextCtrl* field = MakeField(wxBORDER_SUNKEN | HintTextKeepSpaces);
    EXPECT_TRUE(field->KeepsSpaces());
    EXPECT_EQ(0, field->GetWindowStyleFlag() & HintTextKeepSpaces);
    ASSERT_TRUE(Click(field));
    Type(field, "   ");
    ASSERT_TRUE(Focus(mOther));
    ASSERT_EQ(1u, mCommits.size());
    EXPECT_EQ("   ", mCommits[0].text);
    EXPECT_EQ("   ", Utf8(field->GetValue()));

    // Spaces around words stay as typed.
    ASSERT_TRUE(Focus(field));
    field->ChangeValue(wxS(" <<"));
    ASSERT_TRUE(Focus(mOther));
    ASSERT_EQ(2u, mCommits.size());
    EXPECT_EQ(" <<", mCommits[1].text);

    HintTextCtrl* plain = MakeField(wxBORDER_SUNKEN, wxString(), 779);
    EXPECT_FALSE(plain->KeepsSpaces());
}

TEST_F(HintTextCtrlTest, TrailingSpacesOnlyAreTrimmedWithoutAnEvent)
{
    HintTextCtrl* field = MakeField(wxBORDER_SUNKEN, wxS("abc"));
    ASSERT_TRUE(Click(field));
    field->SetInsertionPointEnd();
    Type(field, "  ");
    EXPECT_EQ("abc  ", Utf8(field->GetValue()));
    ASSERT_TRUE(Focus(mOther));
    EXPECT_EQ("abc", Utf8(field->GetValue()));
    EXPECT_TRUE(mCommits.empty());
}

TEST_F(HintTextCtrlTest, WhiteSpaceOfEveryKindIsTrimmed)
{
    HintTextCtrl* field = MakeField(wxBORDER_SUNKEN);
    ASSERT_TRUE(Focus(field));
    field->ChangeValue(wxString::FromUTF8("\t\v\f 名字 x\r\n "));
    ASSERT_TRUE(Focus(mOther));
    ASSERT_EQ(1u, mCommits.size());
    EXPECT_EQ("名字 x", mCommits[0].text);
}

TEST_F(HintTextCtrlTest, ClearingAFieldCommitsTheEmptyText)
{
    HintTextCtrl* field = MakeField(wxBORDER_SUNKEN, wxS("nick"));
    ASSERT_TRUE(Click(field));
    field->SelectAll();
    wxUIActionSimulator sim;
    sim.Char(WXK_BACK);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return field->GetValue().empty(); }));
    ASSERT_TRUE(Focus(mOther));
    ASSERT_EQ(1u, mCommits.size());
    EXPECT_EQ("", mCommits[0].text);
    EXPECT_EQ("", Utf8(field->GetValue()));
}

TEST_F(HintTextCtrlTest, EnterCommitsAndTheFollowingFocusLossDoesNotRepeatIt)
{
    HintTextCtrl* field = MakeField(wxBORDER_SUNKEN | wxTE_PROCESS_ENTER);
    ASSERT_TRUE(Click(field));
    Type(field, "go ");
    wxUIActionSimulator sim;
    sim.Char(WXK_RETURN);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return !mCommits.empty(); }));
    ASSERT_EQ(1u, mCommits.size());
    EXPECT_EQ("go", mCommits[0].text);
    EXPECT_EQ("go", Utf8(field->GetValue()));

    ASSERT_TRUE(Focus(mOther));
    EXPECT_EQ(1u, mCommits.size());

    // The field commits on every text-enter event it receives, however it is raised.
    ASSERT_TRUE(Focus(field));
    field->ChangeValue(wxS("again"));
    wxCommandEvent enter(wxEVT_TEXT_ENTER, field->GetId());
    enter.SetEventObject(field);
    field->GetEventHandler()->ProcessEvent(enter);
    ASSERT_EQ(2u, mCommits.size());
    EXPECT_EQ("again", mCommits[1].text);
}

TEST_F(HintTextCtrlTest, TextSetByCodeSendsNothingAndBecomesTheCommittedTextAtTheNextFocus)
{
    HintTextCtrl* field = MakeField(wxBORDER_SUNKEN, wxS("old"));
    ASSERT_TRUE(Focus(field));
    ASSERT_TRUE(Focus(mOther));
    EXPECT_EQ("old", Utf8(field->GetCommittedText()));

    field->ChangeValue(wxS("new"));
    field->SetValue(wxS("newer"));
    bcxtest::PumpFor(30);
    EXPECT_TRUE(mCommits.empty());
    EXPECT_EQ("old", Utf8(field->GetCommittedText()));

    ASSERT_TRUE(Focus(field));
    EXPECT_EQ("newer", Utf8(field->GetCommittedText()));
    ASSERT_TRUE(Focus(mOther));
    EXPECT_TRUE(mCommits.empty());
}

TEST_F(HintTextCtrlTest, TheNearestHandlerStopsTheEvent)
{
    HintTextCtrl* field = MakeField(wxBORDER_SUNKEN);
    std::vector<std::string> nearer;
    mInner->Bind(HintTextCommitEvent, [&](wxCommandEvent& event) { nearer.push_back(Utf8(event.GetString())); });
    ASSERT_TRUE(Focus(field));
    field->ChangeValue(wxS("x"));
    ASSERT_TRUE(Focus(mOther));
    EXPECT_EQ(std::vector<std::string>{"x"}, nearer);
    EXPECT_TRUE(mCommits.empty());
}

} // namespace
