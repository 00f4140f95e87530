// The container's window with a recording control: the red area of a control that cannot draw, the
// view object's drawing otherwise, the control's extent from the screen's resolution, the control's
// window shown in place, and control events reaching the parent's event table at once or queued.

#include <memory>

#include <gtest/gtest.h>
#include <wx/frame.h>
#include <wx/panel.h>

#include "browser/ActiveXContainer.h"
#include "browsercom/FakeControl.h"
#include "support/Pump.h"
#include "support/gui/Screenshot.h"
#include "support/gui/X11Windows.h"

using namespace bcxtest;

namespace {

constexpr int kControlId = 6000;

// A parent window that handles two control events in its static event table.
class EventPanel : public wxPanel {
public:
    explicit EventPanel(wxWindow* parent) : wxPanel(parent) {}

    std::vector<wxString> handled;
    int lastId = 0;
    long lastCommand = -1;

private:
    void OnNavigate(wxActiveXEvent& event)
    {
        handled.push_back(event.EventName());
        lastId = event.GetId();
        if (event[wxS("URL")].GetString() == wxS("bcx:about"))
            event[wxS("Cancel")] = true;
    }
    void OnCommand(wxActiveXEvent& event)
    {
        handled.push_back(event.EventName());
        lastCommand = event[wxS("command")].GetLong();
    }

    wxDECLARE_EVENT_TABLE();
};

wxBEGIN_EVENT_TABLE(EventPanel, wxPanel)
    EVT_ACTIVEX(kControlId, "BeforeNavigate2", EventPanel::OnNavigate)
    EVT_ACTIVEX(kControlId, "CommandStateChange", EventPanel::OnCommand)
wxEND_EVENT_TABLE()

class ContainerWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        mFrame = new wxFrame(nullptr, wxID_ANY, wxS("container"), wxPoint(20, 20), wxSize(320, 240));
        mPanel = new EventPanel(mFrame);
    }

    void Create()
    {
        mContainer = new wxActiveXContainer(mPanel, CLSID_FakeControl, kControlId, wxPoint(10, 10), wxSize(200, 100));
        mContainer->Bind(wxEVT_PAINT, [this](wxPaintEvent& event) {
            ++mPaints;
            event.Skip();
        });
        mFrame->Show();
        ASSERT_TRUE(PumpUntil([this] { return mFrame->IsShownOnScreen(); }));
    }

    void TearDown() override
    {
        mFrame->Destroy();
        PumpUntil([] { return wxTopLevelWindows.IsEmpty(); });
    }

    // The colour in the middle of the container on the screen, once the container has painted again.
    unsigned long CentreColour()
    {
        const int paints = mPaints;
        mContainer->Refresh();
        mContainer->Update();
        if (!PumpUntil([&] { return mPaints > paints; })) {
            ADD_FAILURE() << "the container did not paint";
            return 0xFFFFFFFF;
        }
        const wxRect rect = mContainer->GetScreenRect();
        int w = 1, h = 1;
        const std::vector<unsigned char> rgb = GrabScreen(rect.x + rect.width / 2, rect.y + rect.height / 2, w, h);
        return rgb.size() < 3 ? 0xFFFFFFFF : (unsigned long)rgb[0] << 16 | rgb[1] << 8 | rgb[2];
    }

    FakeControlRecord mRecord;
    ScopedFakeControlClass mClass{mRecord};
    wxFrame* mFrame = nullptr;
    EventPanel* mPanel = nullptr;
    wxActiveXContainer* mContainer = nullptr;
    int mPaints = 0;  // paint events of the current container
};

} // namespace

TEST_F(ContainerWindowTest, AControlWithoutAViewObjectShowsARedAreaAndOneWithItDrawsOverIt)
{
    mRecord.hasWindow = false;
    Create();
    EXPECT_EQ(CentreColour(), 0xFF0000ul);
    SaveScreenshot(mFrame, "activex-container-red");

    mContainer->Destroy();
    mRecord.viewObject = true;
    Create();
    EXPECT_NE(CentreColour(), 0xFF0000ul);
    EXPECT_TRUE(mRecord.Called("Draw 1 -1 0,0,200,100 dc"));
}

TEST_F(ContainerWindowTest, TheControlsWindowIsShownInPlaceAndSizedInHimetricOfTheScreen)
{
    wxPanel* controlWindow = new wxPanel(mPanel);
    controlWindow->Hide();
    mRecord.window = controlWindow;
    Create();
    EXPECT_TRUE(controlWindow->IsShown());

    // The size event posted after creation reaches the control once the loop runs.
    const wxSize ppi = wxGetDisplayPPI();
    const std::string extent =
        "SetExtent 1 " + std::to_string((2540 * 200 + ppi.x / 2) / ppi.x) + "x" + std::to_string((2540 * 100 + ppi.y / 2) / ppi.y);
    EXPECT_TRUE(PumpUntil([&] { return mRecord.Called(extent); })) << extent;

    mRecord.calls.clear();
    mContainer->SetSize(wxSize(150, 80));
    EXPECT_TRUE(PumpUntil([&] { return mRecord.Called("SetObjectRects 0,0,150,80 0,0,150,80"); }));
}

TEST_F(ContainerWindowTest, EventsReachTheParentsTableAndDestroyingTheWindowTakesTheControlDown)
{
    mRecord.hasWindow = false;
    Create();
    ASSERT_NE(mRecord.live, nullptr);

    EXPECT_NE(mRecord.live->Navigate(u"bcx:about"), VARIANT_FALSE);
    ASSERT_EQ(mPanel->handled.size(), 1u);
    EXPECT_EQ(mPanel->lastId, kControlId);

    VARIANT command[2] = {Value(VT_I4), Value(VT_BOOL)};
    command[0].lVal = CSC_NAVIGATEFORWARD;
    mRecord.live->Fire(DISPID_COMMANDSTATECHANGE, command, 2);
    EXPECT_EQ(mPanel->handled.size(), 1u) << "queued, not handled inside the control's call";
    ASSERT_TRUE(PumpUntil([this] { return mPanel->handled.size() == 2; }));
    EXPECT_EQ(mPanel->handled[1], wxS("CommandStateChange"));
    EXPECT_EQ(mPanel->lastCommand, CSC_NAVIGATEFORWARD) << "the queued copy carries the parameters";

    // While the window still exists.
    mRecord.calls.clear();
    mContainer->Destroy();
    EXPECT_TRUE(mRecord.Called("DoVerb -3 null site"));
    EXPECT_TRUE(mRecord.Called("destroyed"));
    EXPECT_EQ(bcx::com::LiveObjectCount(), 0);
}
