// The recording control and window of the container tests.

#include "browsercom/FakeControl.h"

#include <algorithm>

#include "browser/com/Runtime.h"
#include "browser/com/TypeTables.h"
#include "browser/com/WideText.h"

namespace bcxtest {
namespace {

using bcx::com::ClassTable;
using bcx::com::FuncRow;
using bcx::com::ImplRow;
using bcx::com::InterfaceTable;
using bcx::com::ParamRow;

const ParamRow kNavigateParams[] = {
    {"pDisp", VT_DISPATCH, false, IDLFLAG_FIN},
    {"URL", VT_VARIANT, true, IDLFLAG_FIN},
    {"Flags", VT_VARIANT, true, IDLFLAG_FIN},
    {"Cancel", VT_BOOL, true, IDLFLAG_FIN | IDLFLAG_FOUT},
};
const ParamRow kCommandParams[] = {
    {"Command", VT_I4, false, IDLFLAG_FIN},
    {"Enable", VT_BOOL, false, IDLFLAG_FIN},
};
const ParamRow kTextParams[] = {
    {"Text", VT_BSTR, false, IDLFLAG_FIN},
};
const ParamRow kValueParams[] = {
    {"Short", VT_I2, false, IDLFLAG_FIN},
    {"When", VT_DATE, false, IDLFLAG_FIN},
    {"Amount", VT_DECIMAL, false, IDLFLAG_FIN},
    {"Any", VT_VARIANT, false, IDLFLAG_FIN},
    {"Name", VT_BSTR, true, IDLFLAG_FIN | IDLFLAG_FOUT},
    {"Count", VT_I4, true, IDLFLAG_FIN | IDLFLAG_FOUT},
};
const FuncRow kEvents[] = {
    {"BeforeNavigate2", FakeDispBeforeNavigate2, INVOKE_FUNC, VT_VOID, kNavigateParams, 4},
    {"CommandStateChange", FakeDispCommandStateChange, INVOKE_FUNC, VT_VOID, kCommandParams, 2},
    {"StatusTextChange", FakeDispStatusText, INVOKE_FUNC, VT_VOID, kTextParams, 1},
    {"ValuesChange", FakeDispValues, INVOKE_FUNC, VT_VOID, kValueParams, 6},
};

const ParamRow kVisibleParam[] = {{"Value", VT_BOOL, false, IDLFLAG_FIN}};
const ParamRow kParentParam[] = {{"Parent", VT_DISPATCH, false, IDLFLAG_FIN}};
const ParamRow kNavigateMethodParams[] = {
    {"URL", VT_BSTR, false, IDLFLAG_FIN},
    {"Result", VT_I4, true, IDLFLAG_FOUT | IDLFLAG_FRETVAL},
};
const FuncRow kMethods[] = {
    {"GoBack", 100, INVOKE_FUNC, VT_HRESULT, nullptr, 0},
    {"Navigate", 104, INVOKE_FUNC, VT_HRESULT, kNavigateMethodParams, 2},
    {"Visible", 402, INVOKE_PROPERTYGET, VT_BOOL, nullptr, 0},
    {"visible", 402, INVOKE_PROPERTYPUT, VT_VOID, kVisibleParam, 1},
    {"Parent", 200, INVOKE_PROPERTYPUTREF, VT_VOID, kParentParam, 1},
};
const FuncRow kOtherMethods[] = {
    {"Refresh", 500, INVOKE_FUNC, VT_VOID, nullptr, 0},
};

const InterfaceTable kDispatchInterface = {IID_IDispatch, TKIND_DISPATCH, kMethods, 5};
const InterfaceTable kEventInterface = {DIID_FakeEvents, TKIND_DISPATCH, kEvents, 4};
const InterfaceTable kOtherInterface = {{0x0BC0FA4E, 5, 6, {0}}, TKIND_DISPATCH, kOtherMethods, 1};
const InterfaceTable kVtableEvents = {{0x0BC0FA4E, 7, 8, {0}}, TKIND_DISPATCH, kOtherMethods, 1};

const ImplRow kImplemented[] = {
    {&kOtherInterface, 0},
    {&kVtableEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE | IMPLTYPEFLAG_FDEFAULTVTABLE},
    {&kDispatchInterface, IMPLTYPEFLAG_FDEFAULT},
    {&kEventInterface, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
};
const ClassTable kClass = {CLSID_FakeControl, kImplemented, 4};

char gControlWindow;
char gHostWindow;

std::string Rect(LPCRECT r)
{
    return r ? std::to_string(r->left) + "," + std::to_string(r->top) + "," + std::to_string(r->right) + "," +
                   std::to_string(r->bottom)
             : std::string("null");
}

} // namespace

bool FakeControlRecord::Called(const std::string& call) const
{
    return IndexOf(call) >= 0;
}

int FakeControlRecord::IndexOf(const std::string& call) const
{
    const auto found = std::find(calls.begin(), calls.end(), call);
    return found == calls.end() ? -1 : int(found - calls.begin());
}

ScopedFakeControlClass::ScopedFakeControlClass(FakeControlRecord& record)
{
    bcx::com::RegisterClass(CLSID_FakeControl, [&record]() -> IUnknown* {
        return static_cast<IDispatch*>(new FakeControl(record));
    });
}

ScopedFakeControlClass::~ScopedFakeControlClass()
{
    bcx::com::UnregisterClass(CLSID_FakeControl);
}

FakeControl::FakeControl(FakeControlRecord& record) : mRecord(record)
{
    mPoints.AddInterface(DIID_FakeEvents);
    mRecord.live = this;
    mRecord.calls.push_back("created");
}

FakeControl::~FakeControl()
{
    mRecord.calls.push_back("destroyed");
    mRecord.live = nullptr;
}

void* FakeControl::FindInterface(REFIID iid)
{
    if (iid == IID_IUnknown || iid == IID_IDispatch)
        return static_cast<IDispatch*>(this);
    if (iid == IID_IProvideClassInfo && mRecord.provideClassInfo)
        return static_cast<IProvideClassInfo*>(this);
    if (iid == IID_IConnectionPointContainer)
        return static_cast<IConnectionPointContainer*>(this);
    if (iid == IID_IOleObject)
        return static_cast<IOleObject*>(this);
    if (iid == IID_IOleInPlaceObject)
        return static_cast<IOleInPlaceObject*>(this);
    if (iid == IID_IPersistStreamInit)
        return static_cast<IPersistStreamInit*>(this);
    if (iid == IID_IViewObject && mRecord.viewObject)
        return static_cast<IViewObject*>(this);
    return nullptr;
}

int FakeControl::Fire(DISPID id, VARIANT* args, UINT count)
{
    return mPoints.Fire(DIID_FakeEvents, id, args, count);
}

HRESULT FakeControl::GetClassInfo(ITypeInfo** out)
{
    return bcx::com::CreateClassTypeInfo(kClass, out);
}

HRESULT FakeControl::FindConnectionPoint(REFIID iid, IConnectionPoint** out)
{
    mRecord.calls.push_back("FindConnectionPoint");
    return mPoints.FindConnectionPoint(iid, out);
}

HRESULT FakeControl::SetClientSite(IOleClientSite* site)
{
    mRecord.calls.push_back(site ? "SetClientSite" : "SetClientSite null");
    mSite = site;
    mRecord.site = site;
    return S_OK;
}

HRESULT FakeControl::GetClientSite(IOleClientSite** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = mSite.Get();
    if (*out)
        (*out)->AddRef();
    return S_OK;
}

HRESULT FakeControl::SetHostNames(LPCOLESTR app, LPCOLESTR object)
{
    mRecord.calls.push_back("SetHostNames " + std::string(bcx::com::FromWide(app).utf8_str()) +
                            (object ? " object" : ""));
    return S_OK;
}

HRESULT FakeControl::Close(DWORD option)
{
    mRecord.calls.push_back("Close " + std::to_string(option));
    mPoints.DisconnectAll();
    mAdviseSink.Reset();
    return S_OK;
}

HRESULT FakeControl::DoVerb(LONG verb, MSG*, IOleClientSite* site, LONG, HWND parent, LPCRECT rect)
{
    mRecord.calls.push_back("DoVerb " + std::to_string(verb) + " " + Rect(rect) +
                            (site == mSite.Get() && site ? " site" : "") +
                            (parent == FakeWindowSide::HostWindow() ? " host" : ""));
    return S_OK;
}

HRESULT FakeControl::SetExtent(DWORD aspect, SIZEL* size)
{
    if (!size)
        return E_INVALIDARG;
    mRecord.calls.push_back("SetExtent " + std::to_string(aspect) + " " + std::to_string(size->cx) + "x" +
                            std::to_string(size->cy));
    mRecord.extent = *size;
    return S_OK;
}

HRESULT FakeControl::GetExtent(DWORD, SIZEL* size)
{
    if (!size)
        return E_INVALIDARG;
    mRecord.calls.push_back("GetExtent");
    *size = mRecord.extent;
    return S_OK;
}

HRESULT FakeControl::Advise(IAdviseSink* sink, DWORD* cookie)
{
    if (!cookie)
        return E_INVALIDARG;
    mRecord.calls.push_back("Advise");
    mAdviseSink = sink;
    *cookie = 77;
    return S_OK;
}

HRESULT FakeControl::Unadvise(DWORD cookie)
{
    mRecord.calls.push_back("Unadvise " + std::to_string(cookie));
    mAdviseSink.Reset();
    return S_OK;
}

HRESULT FakeControl::GetMiscStatus(DWORD, DWORD* status)
{
    if (!status)
        return E_INVALIDARG;
    mRecord.calls.push_back("GetMiscStatus");
    *status = mRecord.miscStatus;
    return S_OK;
}

HRESULT FakeControl::GetWindow(HWND* out)
{
    if (!out)
        return E_INVALIDARG;
    mRecord.calls.push_back("GetWindow");
    *out = !mRecord.hasWindow ? nullptr : mRecord.window ? mRecord.window : FakeWindowSide::ControlWindow();
    return mRecord.hasWindow ? S_OK : E_FAIL;
}

HRESULT FakeControl::InPlaceDeactivate()
{
    mRecord.calls.push_back("InPlaceDeactivate");
    return S_OK;
}

HRESULT FakeControl::UIDeactivate()
{
    mRecord.calls.push_back("UIDeactivate");
    return S_OK;
}

HRESULT FakeControl::SetObjectRects(LPCRECT pos, LPCRECT clip)
{
    mRecord.calls.push_back("SetObjectRects " + Rect(pos) + " " + Rect(clip));
    return S_OK;
}

HRESULT FakeControl::GetClassID(CLSID* out)
{
    if (!out)
        return E_INVALIDARG;
    *out = CLSID_FakeControl;
    return S_OK;
}

HRESULT FakeControl::InitNew()
{
    mRecord.calls.push_back("InitNew");
    return S_OK;
}

HRESULT FakeControl::Draw(DWORD aspect, LONG index, void*, DVTARGETDEVICE*, HDC, HDC draw, const RECTL* bounds,
                          const RECTL*, ContinueDrawing, ULONG_PTR)
{
    mRecord.calls.push_back("Draw " + std::to_string(aspect) + " " + std::to_string(index) + " " + Rect(bounds) +
                            (draw ? " dc" : ""));
    return S_OK;
}

// ---------------------------------------------------------------------------------------------------

HWND FakeWindowSide::ControlWindow()
{
    return reinterpret_cast<HWND>(&gControlWindow);
}

HWND FakeWindowSide::HostWindow()
{
    return reinterpret_cast<HWND>(&gHostWindow);
}

void FakeWindowSide::QueueSizeEvent(int w, int h)
{
    calls.push_back("size " + std::to_string(w) + "x" + std::to_string(h));
}

SIZE FakeWindowSide::GetScreenPixelsPerInch()
{
    calls.push_back("ppi");
    return pixelsPerInch;
}

void FakeWindowSide::DeliverActiveXEvent(wxEventType type, wxVariant& params, bool synchronous)
{
    delivered.push_back(Delivered{type, params, synchronous});
    if (!synchronous) {
        queued.push_back(Delivered{type, params, false});
        return;
    }
    ActiveXEventParams event;
    event.List() = params;
    if (handler)
        handler(type, event);
    params = event.List();
}

int FakeWindowSide::RunQueued()
{
    std::vector<Delivered> now;
    now.swap(queued);
    for (Delivered& d : now) {
        ActiveXEventParams event;
        event.List() = d.params;
        if (handler)
            handler(d.type, event);
    }
    return int(now.size());
}

} // namespace bcxtest
