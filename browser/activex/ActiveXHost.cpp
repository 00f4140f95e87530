// Creating, sizing, reading and taking down a hosted control, and handing its events on.

#include "browser/activex/ActiveXHost.h"

#include <algorithm>

#include "browser/activex/ActiveXEventRegistry.h"
#include "browser/activex/ActiveXEventSink.h"
#include "browser/activex/ActiveXVariants.h"
#include "browser/activex/ContainerSite.h"
#include "browser/com/WideText.h"

using bcx::com::ComPtr;

namespace {

// a * b / c rounded half away from zero; -1 when c is 0.
LONG MulDiv(LONG a, LONG b, LONG c)
{
    if (c == 0)
        return -1;
    long long product = static_cast<long long>(a) * b;
    const bool negative = (product < 0) != (c < 0);
    product = product < 0 ? -product : product;
    const long long divisor = c < 0 ? -static_cast<long long>(c) : c;
    const long long q = (product + divisor / 2) / divisor;
    return static_cast<LONG>(negative ? -q : q);
}

ActiveXParamInfo ParamFromElement(const ELEMDESC& e)
{
    ActiveXParamInfo p;
    p.flags = e.paramdesc.wParamFlags;
    p.vt = e.tdesc.vt;
    if (p.vt == VT_PTR || p.vt == VT_SAFEARRAY) {
        p.isPtr = p.vt == VT_PTR;
        p.isSafeArray = p.vt == VT_SAFEARRAY;
        p.vt = e.tdesc.lptdesc ? e.tdesc.lptdesc->vt : VARTYPE(VT_EMPTY);
    }
    return p;
}

} // namespace

SIZEL PixelsToHimetric(ActiveXWindowSide& side, int w, int h)
{
    static SIZE pixelsPerInch{0, 0};
    if (pixelsPerInch.cy == 0)
        pixelsPerInch = side.GetScreenPixelsPerInch();
    return SIZEL{MulDiv(2540, w, pixelsPerInch.cx), MulDiv(2540, h, pixelsPerInch.cy)};
}

ActiveXControlHost::ActiveXControlHost(ActiveXWindowSide& side) : mSide(side) {}

ActiveXControlHost::~ActiveXControlHost()
{
    Destroy();
}

void ActiveXControlHost::CreateActiveX(REFCLSID clsid)
{
    // 1. The site, as client site and advise sink.
    mSite = new ContainerSite(*this);
    ComPtr<IUnknown> siteHold(static_cast<IOleClientSite*>(mSite));
    mClientSite.QueryFrom(siteHold.Get(), IID_IOleClientSite);
    ComPtr<IAdviseSink> adviseSink;
    adviseSink.QueryFrom(siteHold.Get(), IID_IAdviseSink);

    // 2. The control.
    CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER, IID_IUnknown,
                     reinterpret_cast<void**>(mControl.Receive()));
    if (!mControl)
        return;

    // 3. Its dispatch interface and type information.
    mDispatch.QueryFrom(mControl.Get(), IID_IDispatch);
    LoadTypeInfo();

    // 4. The interfaces the window needs.
    mOleObject.QueryFrom(mControl.Get(), IID_IOleObject);
    mViewObject.QueryFrom(mControl.Get(), IID_IViewObject);

    // 5. Advise, names, running.
    if (mOleObject) {
        mOleObject->Advise(adviseSink.Get(), &mAdviseCookie);
        mOleObject->SetHostNames(u"wxActiveXContainer", nullptr);
        OleSetContainedObject(mOleObject.Get(), TRUE);
        OleRun(mOleObject.Get());
    }

    // 6. In place, and what the control wants first.
    mInPlaceObject.QueryFrom(mControl.Get(), IID_IOleInPlaceObject);
    DWORD status = 0;
    if (mOleObject)
        mOleObject->GetMiscStatus(DVASPECT_CONTENT, &status);

    // 7. Client site before or after the control's initialisation, as it asks.
    const bool siteFirst = (status & OLEMISC_SETCLIENTSITEFIRST) != 0;
    if (siteFirst && mOleObject)
        mOleObject->SetClientSite(mClientSite.Get());
    ComPtr<IPersistStreamInit> persist;
    if (SUCCEEDED(persist.QueryFrom(mControl.Get(), IID_IPersistStreamInit)) && persist)
        persist->InitNew();
    if (!siteFirst && mOleObject)
        mOleObject->SetClientSite(mClientSite.Get());

    // 8. Position and the control's window.
    const SIZE size = mSide.GetHostClientSize();
    RECT rect{0, 0, size.cx, size.cy};
    mControlWindow = nullptr;
    if (mInPlaceObject) {
        HWND window = nullptr;
        if (SUCCEEDED(mInPlaceObject->GetWindow(&window)) && window) {
            mControlWindow = window;
            mSide.ActivateControlWindow(window);
        }
    }

    // 9. Activate in place and show.
    if (!(status & OLEMISC_INVISIBLEATRUNTIME)) {
        if (size.cx > 0 && size.cy > 0 && mInPlaceObject)
            mInPlaceObject->SetObjectRects(&rect, &rect);
        if (mOleObject) {
            mOleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, mClientSite.Get(), 0, mSide.GetHostWindow(), &rect);
            mOleObject->DoVerb(OLEIVERB_SHOW, nullptr, mClientSite.Get(), 0, mSide.GetHostWindow(), &rect);
        }
    }

    // 10. The control's window, when activation made it.
    if (!mControlWindow && mInPlaceObject) {
        HWND window = nullptr;
        if (SUCCEEDED(mInPlaceObject->GetWindow(&window)))
            mControlWindow = window;
    }

    // 11. Show it and size it once the window is in place.
    if (mControlWindow) {
        mSide.ActivateControlWindow(mControlWindow);
        mSide.ShowControlWindow(mControlWindow);
        mSide.QueueSizeEvent(size.cx, size.cy);
    }
}

void ActiveXControlHost::Destroy()
{
    if (mDestroyed)
        return;
    mDestroyed = true;

    for (ActiveXConnection& connection : mConnections)
        if (connection.point)
            connection.point->Unadvise(connection.cookie);
    mConnections.clear();
    for (auto& sink : mSinks)
        sink->Detach();

    if (mInPlaceObject) {
        mInPlaceObject->InPlaceDeactivate();
        mInPlaceObject->UIDeactivate();
    }
    if (mOleObject) {
        if (mAdviseCookie != 0)
            mOleObject->Unadvise(mAdviseCookie);
        mOleObject->DoVerb(OLEIVERB_HIDE, nullptr, mClientSite.Get(), 0, mSide.GetHostWindow(), nullptr);
        mOleObject->Close(OLECLOSE_NOSAVE);
        mOleObject->SetClientSite(nullptr);
    }
    mTables.Clear();
    if (mSite)
        mSite->Detach();
    mSite = nullptr;

    // The holders, last declared first.
    mSinks.clear();
    mViewObject.Reset();
    mDocumentView.Reset();
    mInPlaceActiveObject.Reset();
    mInPlaceObject.Reset();
    mOleObject.Reset();
    mControl.Reset();
    mClientSite.Reset();
    mDispatch.Reset();
    mControlWindow = nullptr;
}

void ActiveXControlHost::TakeControlWindow()
{
    HWND window = nullptr;
    if (!mDestroyed && mInPlaceObject && SUCCEEDED(mInPlaceObject->GetWindow(&window)) && window)
        mControlWindow = window;
}

void ActiveXControlHost::OnSize()
{
    const SIZE size = mSide.GetHostClientSize();
    if (size.cx < 1 && size.cy < 1)
        return;
    if (mOleObject) {
        SIZEL extent = PixelsToHimetric(mSide, size.cx, size.cy);
        SIZEL current{0, 0};
        mOleObject->GetExtent(DVASPECT_CONTENT, &current);
        if (current.cx != extent.cx || current.cy != extent.cy)
            mOleObject->SetExtent(DVASPECT_CONTENT, &extent);
    }
    if (mInPlaceObject) {
        const RECT rect{0, 0, size.cx, size.cy};
        mInPlaceObject->SetObjectRects(&rect, &rect);
    }
}

void ActiveXControlHost::OnFocus(bool gained)
{
    if (mInPlaceActiveObject)
        mInPlaceActiveObject->OnFrameWindowActivate(gained ? TRUE : FALSE);
}

bool ActiveXControlHost::Draw(HDC dc, int w, int h)
{
    if (!mViewObject)
        return false;
    const RECTL bounds{0, 0, w, h};
    mViewObject->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0);
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Type information.

void ActiveXControlHost::LoadTypeInfo()
{
    ComPtr<IProvideClassInfo> classInfo;
    if (FAILED(classInfo.QueryFrom(mControl.Get(), IID_IProvideClassInfo)) || !classInfo)
        return;
    ComPtr<ITypeInfo> info;
    if (FAILED(classInfo->GetClassInfo(info.Receive())) || !info)
        return;
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr)) || !attr)
        return;
    for (UINT i = 0; i < attr->cImplTypes; ++i) {
        HREFTYPE ref = 0;
        ComPtr<ITypeInfo> implemented;
        if (FAILED(info->GetRefTypeOfImplType(i, &ref)) || FAILED(info->GetRefTypeInfo(ref, implemented.Receive())) ||
            !implemented)
            continue;
        INT flags = 0;
        if (FAILED(info->GetImplTypeFlags(i, &flags)))
            flags = 0;
        const bool isDefault = (flags & IMPLTYPEFLAG_FDEFAULT) != 0;
        const bool isSource = (flags & IMPLTYPEFLAG_FSOURCE) != 0;
        const bool defaultEvents = isDefault && isSource && !(flags & IMPLTYPEFLAG_FDEFAULTVTABLE);
        const bool defaultInterface = isDefault && !isSource;
        ReadTypeInfo(implemented.Get(), defaultInterface, defaultEvents);
    }
    info->ReleaseTypeAttr(attr);
}

void ActiveXControlHost::ReadTypeInfo(ITypeInfo* info, bool defaultInterface, bool defaultEventInterface)
{
    TYPEATTR* attr = nullptr;
    if (!info || FAILED(info->GetTypeAttr(&attr)) || !attr)
        return;
    if (attr->typekind != TKIND_DISPATCH) {
        info->ReleaseTypeAttr(attr);
        return;
    }

    if (defaultEventInterface) {
        ComPtr<ActiveXEventSink> sink(new ActiveXEventSink(*this, attr->guid));
        mSinks.push_back(sink);
        ConnectEventSink(attr->guid, static_cast<IDispatch*>(sink.Get()));
    }

    for (UINT i = 0; i < attr->cFuncs; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(info->GetFuncDesc(i, &desc)) || !desc)
            continue;
        BSTR ownName = nullptr;
        UINT count = 0;
        if (FAILED(info->GetNames(desc->memid, &ownName, 1, &count)) || count < 1 || !ownName) {
            if (count >= 1)
                SysFreeString(ownName);
            info->ReleaseFuncDesc(desc);
            continue;
        }
        ActiveXFuncInfo func;
        func.name = bcx::com::FromBstr(ownName);
        SysFreeString(ownName);
        if (!defaultInterface && !defaultEventInterface) {
            info->ReleaseFuncDesc(desc);
            continue;
        }

        func.dispId = desc->memid;
        const int paramCount = desc->lprgelemdescParam ? std::max<int>(0, desc->cParams) : 0;
        std::vector<BSTR> names(size_t(paramCount) + 1, nullptr);
        count = 0;
        if (FAILED(info->GetNames(desc->memid, names.data(), UINT(names.size()), &count)))
            count = 0;
        count = std::min<UINT>(count, UINT(names.size()));
        const UINT first = count > UINT(paramCount) ? 1 : 0;

        func.retType = ParamFromElement(desc->elemdescFunc);
        for (int p = 0; p < paramCount; ++p) {
            ActiveXParamInfo param = ParamFromElement(desc->lprgelemdescParam[p]);
            if (first + UINT(p) < count)
                param.name = bcx::com::FromBstr(names[first + UINT(p)]);
            if (param.IsOut() || param.isPtr)
                func.hasOut = true;
            func.params.push_back(param);
        }
        for (UINT n = 0; n < count; ++n)
            SysFreeString(names[n]);

        if (defaultEventInterface) {
            mTables.events.push_back(func);
            mTables.eventIds[func.dispId] = int(mTables.events.size()) - 1;
        } else if (desc->invkind == INVOKE_FUNC) {
            mTables.methods.push_back(func);
            mTables.methodNames[func.name] = int(mTables.methods.size()) - 1;
        } else {
            auto found = mTables.propNames.find(func.name);
            if (found == mTables.propNames.end()) {
                ActiveXPropInfo prop;
                prop.name = func.name;
                prop.dispId = func.dispId;
                mTables.props.push_back(prop);
                found = mTables.propNames.emplace(func.name, int(mTables.props.size()) - 1).first;
            }
            ActiveXPropInfo& prop = mTables.props[size_t(found->second)];
            if (desc->invkind == INVOKE_PROPERTYGET) {
                prop.typeGet = func.retType;
            } else if (!func.params.empty()) {
                prop.typePut = func.params[0];
                prop.putByRef = desc->invkind == INVOKE_PROPERTYPUTREF;
            }
        }
        info->ReleaseFuncDesc(desc);
    }
    info->ReleaseTypeAttr(attr);
}

HRESULT ActiveXControlHost::ConnectEventSink(REFIID iid, IUnknown* sink)
{
    ComPtr<IConnectionPointContainer> container;
    if (FAILED(container.QueryFrom(mControl.Get(), IID_IConnectionPointContainer)) || !container)
        return E_FAIL;
    ComPtr<IConnectionPoint> point;
    HRESULT hr = container->FindConnectionPoint(iid, point.Receive());
    if (FAILED(hr))
        return hr;
    if (!point)
        return E_FAIL;
    DWORD cookie = 0;
    hr = point->Advise(sink, &cookie);
    if (SUCCEEDED(hr))
        mConnections.push_back(ActiveXConnection{point, cookie});
    return hr;
}

// ---------------------------------------------------------------------------------------------------
// Events.

void ActiveXControlHost::DispatchEvent(int eventIndex, DISPPARAMS* params)
{
    if (eventIndex < 0 || size_t(eventIndex) >= mTables.events.size())
        return;
    // A copy: a handler may take the control down, and the tables with it.
    const ActiveXFuncInfo func = mTables.events[size_t(eventIndex)];
    const wxEventType* type = FindActiveXEvent(func.name);
    if (!type)
        return;

    wxVariant list;
    list.NullList();
    list.SetName(func.name);

    // The arguments arrive last first; at most as many as declared are read.
    size_t n = 0;
    if (params && params->rgvarg)
        n = std::min<size_t>(func.params.size(), params->cArgs);
    for (size_t i = n; i-- > 0;) {
        wxVariant value;
        MSWVariantToVariant(params->rgvarg[i], value);
        value.SetName(func.params[n - 1 - i].name);
        list.Append(value);
    }

    if (func.hasOut) {
        mSide.DeliverActiveXEvent(*type, list, true);
        // What the handlers changed goes back into the control's out arguments.
        if (!params || !params->rgvarg || list.GetType() != wxS("list"))
            return;
        for (size_t i = 0; i < n; ++i) {
            const size_t param = n - 1 - i;
            if (func.params[param].IsOut() && param < list.GetCount())
                VariantToMSWVariant(list[param], params->rgvarg[i]);
        }
    } else {
        mSide.DeliverActiveXEvent(*type, list, false);
    }
}
