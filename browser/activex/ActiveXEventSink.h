#pragma once
// The dispatch object a container advises on a control's event interface: every event the control
// fires arrives here and goes on to the container as a toolkit event.

#include "browser/com/Object.h"

class ActiveXControlHost;

class ActiveXEventSink final : public bcx::com::ComObject<IDispatch> {
public:
    ActiveXEventSink(ActiveXControlHost& host, REFIID eventInterface);

    // The host is going: later events are acknowledged and dropped.
    void Detach() { mHost = nullptr; }

    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argError) override;

protected:
    void* FindInterface(REFIID iid) override;

private:
    ActiveXControlHost* mHost;
    IID mEventInterface;
    bool mHasEventInterface = true;
};
