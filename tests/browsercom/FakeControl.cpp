// The recording control and window of the container tests.

#include "browsercom/FakeControl.h"

#include <utility>

#include "browser/com/Runtime.h"
#include "browser/com/TypeTables.h"
#include "browser/com/WideText.h"

namespace bcxtest {
namespace {

using bcx::com::FuncRow;
using bcx::com::InterfaceTable;
using bcx::com::ParamRow;

const ParamRow kNavigateParams[] = {
    {"pDisp", VT_DISPATCH, false, IDLFLAG_FIN},
    {"URL", VT_VARIANT, true, IDLFLAG_FIN},
    {"Flags", VT_VARIANT, true, IDLFLAG_FIN},
    {"Cancel", VT_BOOL, true, IDLFLAG_FIN | IDLFLAG_FOUT},
};
const ParamRow kCommandParams[] = {{"Command", VT_I4, false, IDLFLAG_FIN}, {"Enable", VT_BOOL, false, IDLFLAG_FIN}};
const ParamRow kTextParams[] = {{"Text", VT_BSTR, false, IDLFLAG_FIN}};
const ParamRow kValueParams[] = {
    {"Short", VT_I2, false, IDLFLAG_FIN},
    {"When", VT_DATE, false, IDLFLAG_FIN},
    {"Amount", VT_DECIMAL, false, IDLFLAG_FIN},
    {"Any", VT_VARIANT, false, IDLFLAG_FIN},
    {"Name", VT_BSTR, true, IDLFLAG_FIN | IDLFLAG_FOUT},
    {"Count", VT_I4, true, IDLFLAG_FIN | IDLFLAG_FOUT},
};
const FuncRow kEvents[] = {
    {"BeforeNavigate2", DISPID_BEFORENAVIGATE2, INVOKE_FUNC, VT_VOID, kNavigateParams, 4},
    {"CommandStateChange", DISPID_COMMANDSTATECHANGE, INVOKE_FUNC, VT_VOID, kCommandParams, 2},
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
const FuncRow kOtherMethods[] = {{"Refresh", 500, INVOKE_FUNC, VT_VOID, nullptr, 0}};

const InterfaceTable kDispatchInterface = {IID_IDispatch, TKIND_DISPATCH, kMethods, 5};
const InterfaceTable kEventInterface = {DIID_FakeEvents, TKIND_DISPATCH, kEvents, 4};
const InterfaceTable kOtherInterface = {{0x0BC0FA4E, 5, 6, {0}}, TKIND_DISPATCH, kOtherMethods, 1};
const InterfaceTable kVtableEvents = {{0x0BC0FA4E, 7, 8, {0}}, TKIND_DISPATCH, kOtherMethods, 1};

const bcx::com::ImplRow kImplemented[] = {
    {&kOtherInterface, 0},
    {&kVtableEvents, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE | IMPLTYPEFLAG_FDEFAULTVTABLE},
    {&kDispatchInterface, IMPLTYPEFLAG_FDEFAULT},
    {&kEventInterface, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
};
const bcx::com::ClassTable kClass = {CLSID_FakeControl, kImplemented, 4};

std::string Rect(LPCRECT r)
{
    return r ? std::to_string(r->left) + "," + std::to_string(r->top) + "," + std::to_string(r->right) + "," +
                   std::to_string(r->bottom)
             : std::string("null");
}

} // namespace

VARIANT Value(VARTYPE vt)
{
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    return v;
}

ScopedFakeControlClass::ScopedFakeControlClass(FakeControlRecord& record)
{
    bcx::com::RegisterClass(CLSID_FakeControl,
                            [&record]() -> IUnknown* { return static_cast<IDispatch*>(new FakeControl(record)); });
}

ScopedFakeControlClass::~ScopedFakeControlClass()
{
    bcx::com::UnregisterClass(CLSID_FakeControl);
}

FakeControl::FakeControl(FakeControlRecord& record) : mRecord(record)
{
    mPoints.AddInterface(DIID_FakeEvents);
    mRecord.live = this;
    Note("created");
}

FakeControl::~FakeControl()
{
    Note("destroyed");
    mRecord.live = nullptr;
}

void* FakeControl::FindInterface(REFIID iid)
{
    const std::pair<IID, void*> answers[] = {
        {IID_IUnknown, static_cast<IDispatch*>(this)},
        {IID_IDispatch, static_cast<IDispatch*>(this)},
        {IID_IProvideClassInfo, mRecord.provideClassInfo ? static_cast<IProvideClassInfo*>(this) : nullptr},
        {IID_IConnectionPointContainer, static_cast<IConnectionPointContainer*>(this)},
        {IID_IOleObject, static_cast<IOleObject*>(this)},
        {IID_IOleInPlaceObject, static_cast<IOleInPlaceObject*>(this)},
        {IID_IPersistStreamInit, static_cast<IPersistStreamInit*>(this)},
        {IID_IViewObject, mRecord.viewObject ? static_cast<IViewObject*>(this) : nullptr},
    };
    for (const auto& answer : answers)
        if (answer.first == iid)
            return answer.second;
    return nullptr;
}

VARIANT_BOOL FakeControl::Navigate(const char16_t* url)
{
    VARIANT address = Value(VT_BSTR);
    address.bstrVal = SysAllocString(url);
    VARIANT flags = Value(VT_I4);
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANT args[4] = {Value(VT_DISPATCH), Value(VT_VARIANT | VT_BYREF), Value(VT_VARIANT | VT_BYREF),
                       Value(VT_BOOL | VT_BYREF)};
    args[1].pvarVal = &address;
    args[2].pvarVal = &flags;
    args[3].pboolVal = &cancel;
    Fire(DISPID_BEFORENAVIGATE2, args, 4);
    VariantClear(&address);
    return cancel;
}

HRESULT FakeControl::GetClassInfo(ITypeInfo** out)
{
    return bcx::com::CreateClassTypeInfo(kClass, out);
}

HRESULT FakeControl::FindConnectionPoint(REFIID iid, IConnectionPoint** out)
{
    Note("FindConnectionPoint");
    return mPoints.FindConnectionPoint(iid, out);
}

HRESULT FakeControl::SetClientSite(IOleClientSite* site)
{
    mSite = site;
    mRecord.site = site;
    return Note(site ? "SetClientSite" : "SetClientSite null");
}

HRESULT FakeControl::SetHostNames(LPCOLESTR app, LPCOLESTR object)
{
    return Note("SetHostNames " + std::string(bcx::com::FromWide(app).utf8_str()) + (object ? " object" : ""));
}

HRESULT FakeControl::Close(DWORD option)
{
    mPoints.DisconnectAll();
    mAdviseSink.Reset();
    return Note("Close " + std::to_string(option));
}

HRESULT FakeControl::DoVerb(LONG verb, MSG*, IOleClientSite* site, LONG, HWND parent, LPCRECT rect)
{
    return Note("DoVerb " + std::to_string(verb) + " " + Rect(rect) + (site == mSite.Get() && site ? " site" : "") +
                (parent == FakeWindowSide::HostWindow() ? " host" : ""));
}

HRESULT FakeControl::SetExtent(DWORD aspect, SIZEL* size)
{
    if (!size)
        return E_INVALIDARG;
    mRecord.extent = *size;
    return Note("SetExtent " + std::to_string(aspect) + " " + std::to_string(size->cx) + "x" +
                std::to_string(size->cy));
}

HRESULT FakeControl::Advise(IAdviseSink* sink, DWORD* cookie)
{
    mAdviseSink = sink;
    return Note("Advise", cookie, DWORD(77));
}

HRESULT FakeControl::GetWindow(HWND* out)
{
    if (!out)
        return E_INVALIDARG;
    Note("GetWindow");
    *out = !mRecord.hasWindow ? nullptr : mRecord.window ? mRecord.window : FakeWindowSide::ControlWindow();
    return mRecord.hasWindow ? S_OK : E_FAIL;
}

HRESULT FakeControl::SetObjectRects(LPCRECT pos, LPCRECT clip)
{
    return Note("SetObjectRects " + Rect(pos) + " " + Rect(clip));
}

HRESULT FakeControl::Draw(DWORD aspect, LONG index, void*, DVTARGETDEVICE*, HDC, HDC draw, const RECTL* bounds,
                          const RECTL*, ContinueDrawing, ULONG_PTR)
{
    return Note("Draw " + std::to_string(aspect) + " " + std::to_string(index) + " " + Rect(bounds) +
                (draw ? " dc" : ""));
}

void FakeWindowSide::DeliverActiveXEvent(wxEventType type, wxVariant& params, bool synchronous)
{
    delivered.push_back(Delivered{type, params, synchronous});
    if (!synchronous)
        queued.push_back(Delivered{type, params, false});
    else
        Handle(type, params);
}

int FakeWindowSide::RunQueued()
{
    std::vector<Delivered> now;
    now.swap(queued);
    for (Delivered& d : now)
        Handle(d.type, d.params);
    return int(now.size());
}

void FakeWindowSide::Handle(wxEventType type, wxVariant& params)
{
    ActiveXEventParams event;
    event.List() = params;
    if (handler)
        handler(type, event);
    params = event.List();
}

} // namespace bcxtest
