// The container below its window with a recording control: the order of creation and destruction,
// objects back to none afterwards, the site's interfaces, its ambient properties and guarded out
// pointers, and keeping the control's size.

#include <iterator>
#include <memory>

#include <gtest/gtest.h>

#include "browser/activex/ActiveXHost.h"
#include "browsercom/FakeControl.h"

using namespace bcxtest;
using bcx::com::ComPtr;

namespace {

class ContainerFixture : public FakeHostTest {
protected:
    void Order(const std::vector<std::string>& expected)
    {
        int last = -1;
        for (const std::string& call : expected) {
            const int at = mRecord.IndexOf(call);
            EXPECT_GT(at, last) << call << " missing or out of order";
            last = at;
        }
    }

    // The site as the control sees it.
    template <class T>
    ComPtr<T> Site(REFIID iid)
    {
        ComPtr<T> p;
        EXPECT_EQ(p.QueryFrom(mRecord.site, iid), S_OK);
        return p;
    }
};

} // namespace

TEST_F(ContainerFixture, CreatesConnectsActivatesAndShowsTheControlInOrder)
{
    Create();
    ASSERT_NE(mHost->GetControl(), nullptr);
    Order({"created", "FindConnectionPoint", "Advise", "SetHostNames wxActiveXContainer", "GetMiscStatus", "InitNew",
           "SetClientSite", "GetWindow", "SetObjectRects 0,0,200,100 0,0,200,100", "DoVerb -5 0,0,200,100 site host",
           "DoVerb -1 0,0,200,100 site host"});
    EXPECT_EQ(mRecord.live->SinkCount(), 1) << "one sink, on the default event interface only";
    EXPECT_EQ(mSide.calls, (std::vector<std::string>{"activate", "activate", "show", "size 200x100"}));
}

TEST_F(ContainerFixture, AControlThatWantsItsSiteFirstGetsItBeforeItsInitialisation)
{
    mRecord.miscStatus = OLEMISC_SETCLIENTSITEFIRST;
    Create();
    Order({"GetMiscStatus", "SetClientSite", "InitNew", "DoVerb -5 0,0,200,100 site host"});
}

TEST_F(ContainerFixture, AControlInvisibleAtRunTimeIsNeitherPlacedNorActivated)
{
    mRecord.miscStatus = OLEMISC_INVISIBLEATRUNTIME;
    mRecord.hasWindow = false;
    Create();
    EXPECT_FALSE(mRecord.Called("DoVerb -5 0,0,200,100 site host"));
    EXPECT_FALSE(mRecord.Called("SetObjectRects 0,0,200,100 0,0,200,100"));
    EXPECT_TRUE(mSide.calls.empty()) << "no control window: nothing shown, no size event";
}

TEST_F(ContainerFixture, DestroyTakesTheControlDownInOrderAndLeavesNoObjectAlive)
{
    Create();
    mRecord.calls.clear();
    mHost.reset();
    EXPECT_EQ(mRecord.calls,
              (std::vector<std::string>{"InPlaceDeactivate", "UIDeactivate", "Unadvise 77", "DoVerb -3 null site host",
                                        "Close 1", "SetClientSite null", "destroyed"}));
    EXPECT_EQ(bcx::com::LiveObjectCount(), 0);
    EXPECT_EQ(bcx::com::LiveStringCount(), 0);
    EXPECT_EQ(bcx::com::InitializeDepth(), 0);
}

TEST_F(ContainerFixture, AMissingClassLeavesAnEmptyContainerThatStillGoesCleanly)
{
    bcx::com::UnregisterClass(CLSID_FakeControl);
    Create();
    EXPECT_EQ(mHost->GetControl(), nullptr);
    mHost->OnSize();
    mHost.reset();
    EXPECT_EQ(bcx::com::LiveObjectCount(), 0);
}

TEST_F(ContainerFixture, SiteAnswersItsSixteenInterfacesAsOneObject)
{
    Create();
    const IID answered[] = {IID_IUnknown,          IID_IOleClientSite,   IID_IDocHostUIHandler,
                            IID_IOleWindow,        IID_IOleInPlaceSite,  IID_IOleInPlaceSiteEx,
                            IID_IOleInPlaceUIWindow, IID_IOleInPlaceFrame, IID_IParseDisplayName,
                            IID_IOleContainer,     IID_IOleItemContainer, IID_IDispatch,
                            IID_IOleCommandTarget, IID_IOleDocumentSite, IID_IAdviseSink,
                            IID_IOleControlSite};
    ComPtr<IUnknown> identity = Site<IUnknown>(IID_IUnknown);
    for (const IID& iid : answered) {
        ComPtr<IUnknown> p = Site<IUnknown>(iid);
        ASSERT_TRUE(p) << iid.Data1;
        ComPtr<IUnknown> back;
        ASSERT_EQ(back.QueryFrom(p.Get(), IID_IUnknown), S_OK);
        EXPECT_EQ(back.Get(), identity.Get()) << iid.Data1;
    }
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(mRecord.site->QueryInterface(IID_IStream, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(mRecord.site->QueryInterface(IID_IUnknown, nullptr), E_FAIL);

    // The frame and the in-place site are different tables of the same object; both tell the host window.
    HWND window = nullptr;
    ASSERT_EQ(Site<IOleInPlaceFrame>(IID_IOleInPlaceFrame)->GetWindow(&window), S_OK);
    EXPECT_EQ(window, FakeWindowSide::HostWindow());
    EXPECT_EQ(Site<IOleWindow>(IID_IOleWindow)->GetWindow(nullptr), E_INVALIDARG);
}

TEST_F(ContainerFixture, AmbientPropertiesAnswerGetsAndIgnorePuts)
{
    Create();
    ComPtr<IDispatch> ambient = Site<IDispatch>(IID_IDispatch);
    VARIANT r = Value(VT_EMPTY);
    auto get = [&](DISPID id) {
        r = Value(VT_EMPTY);
        return ambient->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, &r, nullptr, nullptr);
    };
    // Booleans are stored as 1, not as VARIANT_TRUE; the colours are the window's.
    const struct {
        DISPID id;
        VARTYPE vt;
        LONG value;
    } answers[] = {{DISPID_AMBIENT_USERMODE, VT_BOOL, 1},  {DISPID_AMBIENT_MESSAGEREFLECT, VT_BOOL, 0},
                   {DISPID_AMBIENT_SILENT, VT_BOOL, 1},    {DISPID_AMBIENT_FORECOLOR, VT_I4, 0x00112233},
                   {DISPID_AMBIENT_BACKCOLOR, VT_I4, 0x00FFEEDD}, {DISPID_AMBIENT_LOCALEID, VT_I4, 0}};
    for (const auto& a : answers) {
        ASSERT_EQ(get(a.id), S_OK) << a.id;
        EXPECT_EQ(r.vt, a.vt) << a.id;
        EXPECT_EQ(a.vt == VT_BOOL ? LONG(r.boolVal) : r.lVal, a.value) << a.id;
    }
    EXPECT_EQ(get(-9999), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(r.vt, VT_BOOL);

    VARIANT value = Value(VT_BOOL);
    DISPPARAMS put{&value, nullptr, 1, 0};
    EXPECT_EQ(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr,
                              nullptr),
              S_OK);
    ASSERT_EQ(get(DISPID_AMBIENT_USERMODE), S_OK);
    EXPECT_EQ(r.boolVal, 1) << "a put changes nothing";
    EXPECT_EQ(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, 0, DISPATCH_PROPERTYGET, nullptr, nullptr, nullptr,
                              nullptr),
              E_INVALIDARG);
}

TEST_F(ContainerFixture, SiteGuardsEveryOutPointerAndKeepsTheControlPlain)
{
    Create();
    ComPtr<IOleInPlaceSite> inPlace = Site<IOleInPlaceSite>(IID_IOleInPlaceSite);
    ComPtr<IOleItemContainer> items = Site<IOleItemContainer>(IID_IOleItemContainer);
    ComPtr<IOleInPlaceFrame> frameTable = Site<IOleInPlaceFrame>(IID_IOleInPlaceFrame);
    ComPtr<IDocHostUIHandler> ui = Site<IDocHostUIHandler>(IID_IDocHostUIHandler);
    IOleInPlaceFrame* frame = reinterpret_cast<IOleInPlaceFrame*>(1);
    IOleInPlaceUIWindow* doc = reinterpret_cast<IOleInPlaceUIWindow*>(1);
    IMoniker* moniker = reinterpret_cast<IMoniker*>(1);
    void* object = reinterpret_cast<void*>(1);
    RECT pos, clip;
    char16_t name[] = u"item";
    // No context menu, no three-dimensional border, no commands, no border space, no items.
    const std::pair<HRESULT, HRESULT> answers[] = {
        {inPlace->GetWindowContext(&frame, &doc, &pos, &clip, nullptr), E_INVALIDARG},
        {Site<IOleClientSite>(IID_IOleClientSite)->GetContainer(nullptr), E_INVALIDARG},
        {Site<IOleClientSite>(IID_IOleClientSite)->GetMoniker(0, 0, &moniker), E_FAIL},
        {items->GetObject(name, 0, nullptr, IID_IUnknown, &object), MK_E_NOOBJECT},
        {items->GetObject(nullptr, 0, nullptr, IID_IUnknown, &object), E_INVALIDARG},
        {items->IsRunning(nullptr), E_INVALIDARG},
        {frameTable->GetBorder(&pos), INPLACE_E_NOTOOLSPACE},
        {frameTable->RequestBorderSpace(nullptr), E_INVALIDARG},
        {ui->ShowContextMenu(0, nullptr, nullptr, nullptr), S_OK},
        {ui->GetHostInfo(nullptr), E_INVALIDARG},
        {Site<IOleControlSite>(IID_IOleControlSite)->TransformCoords(nullptr, nullptr, 0), E_INVALIDARG},
    };
    for (size_t i = 0; i < std::size(answers); ++i)
        EXPECT_EQ(answers[i].first, answers[i].second) << i;
    EXPECT_EQ(frame, nullptr);
    EXPECT_EQ(doc, nullptr);
    EXPECT_EQ(moniker, nullptr);
    EXPECT_EQ(object, nullptr);

    OLEINPLACEFRAMEINFO info;
    ASSERT_EQ(inPlace->GetWindowContext(&frame, &doc, &pos, &clip, &info), S_OK);
    EXPECT_EQ(pos.right, 200);
    EXPECT_EQ(clip.bottom, 100);
    EXPECT_EQ(info.cb, 20u);
    EXPECT_EQ(info.hwndFrame, FakeWindowSide::HostWindow());
    frame->Release();
    doc->Release();
    DOCHOSTUIINFO hostInfo{};
    ASSERT_EQ(ui->GetHostInfo(&hostInfo), S_OK);
    EXPECT_EQ(hostInfo.dwFlags, DOCHOSTUIFLAG_NO3DBORDER);
    OLECMD commands[2] = {{1, 3}, {2, 3}};
    ASSERT_EQ(Site<IOleCommandTarget>(IID_IOleCommandTarget)->QueryStatus(nullptr, 2, commands, nullptr), S_OK);
    EXPECT_EQ(commands[1].cmdf, 0u);
}

TEST_F(ContainerFixture, SizingConvertsToHimetricOnceAndSkipsAnEmptyWindowOrAnUnchangedExtent)
{
    Create();
    mRecord.calls.clear();
    mSide.calls.clear();

    mSide.clientSize = SIZE{0, 0};
    mHost->OnSize();
    EXPECT_TRUE(mRecord.calls.empty()) << "a 0 by 0 window does not touch the control";

    mSide.clientSize = SIZE{100, 50};
    mHost->OnSize();
    EXPECT_EQ(mRecord.calls, (std::vector<std::string>{"GetExtent", "SetExtent 1 2646x1323",
                                                       "SetObjectRects 0,0,100,50 0,0,100,50"}));

    mRecord.calls.clear();
    mHost->OnSize();
    EXPECT_EQ(mRecord.calls, (std::vector<std::string>{"GetExtent", "SetObjectRects 0,0,100,50 0,0,100,50"}))
        << "the same extent is not set again";
    EXPECT_EQ(std::count(mSide.calls.begin(), mSide.calls.end(), "ppi"), 1) << "resolution read once";
}
