// Events fired by a hosted control, looked up in the host's tables and handed on.

#include "browser/activex/ActiveXEventSink.h"

#include "browser/activex/ActiveXEventRegistry.h"
#include "browser/activex/ActiveXHost.h"

ActiveXEventSink::ActiveXEventSink(ActiveXControlHost& host, REFIID eventInterface)
    : mHost(&host), mEventInterface(eventInterface)
{
}

void* ActiveXEventSink::FindInterface(REFIID iid)
{
    if (iid == IID_IUnknown || iid == IID_IDispatch || (mHasEventInterface && iid == mEventInterface))
        return static_cast<IDispatch*>(this);
    return nullptr;
}

HRESULT ActiveXEventSink::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                 UINT*)
{
    if (flags & (DISPATCH_PROPERTYGET | DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
        return E_NOTIMPL;
    if (!mHost)
        return S_OK;
    const ActiveXTypeTables& tables = mHost->Tables();
    const auto found = tables.eventIds.find(id);
    if (found == tables.eventIds.end() || found->second < 0 || size_t(found->second) >= tables.events.size())
        return S_OK;
    if (!FindActiveXEvent(tables.events[size_t(found->second)].name))
        return S_OK;
    mHost->DispatchEvent(found->second, params);
    return S_OK;
}
