#pragma once
// The event side of a control: one connection point per source interface, sinks advised on it, and
// firing an event to every sink through IDispatch::Invoke.
//
// A control keeps a ConnectionPoints member, answers IID_IConnectionPointContainer with its own
// IConnectionPointContainer whose FindConnectionPoint forwards here, and calls Fire with the event's
// arguments in declaration order. A by-reference argument (VT_BYREF | type, pointing at the control's
// variable) reads back what the sinks wrote once Fire returns. The control calls DisconnectAll when it
// closes; a container that still holds a connection point can unadvise on it afterwards.

#include <vector>

#include "browser/com/Interfaces.h"
#include "browser/com/Object.h"

namespace bcx::com {

class ConnectionPoint;

class ConnectionPoints {
public:
    ConnectionPoints();
    ~ConnectionPoints();
    ConnectionPoints(const ConnectionPoints&) = delete;
    ConnectionPoints& operator=(const ConnectionPoints&) = delete;

    // One connection point for events of interface iid.
    void AddInterface(REFIID iid);

    // IConnectionPointContainer::FindConnectionPoint: null out pointer E_POINTER; unknown id
    // CONNECT_E_NOCONNECTION (0x80040200) with the out pointer cleared.
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** out);

    // Calls Invoke(id, IID_NULL, 0, DISPATCH_METHOD, params) on every sink advised for iid; the
    // DISPPARAMS holds args in reverse order (last argument first). Returns the number of sinks called.
    int Fire(REFIID iid, DISPID id, VARIANT* argsInDeclarationOrder, UINT count);

    // Number of sinks advised for iid.
    int SinkCount(REFIID iid) const;

    // Releases every sink; later Advise calls fail with CONNECT_E_CANNOTCONNECT.
    void DisconnectAll();

private:
    ConnectionPoint* Find(REFIID iid) const;

    std::vector<ComPtr<ConnectionPoint>> mPoints;
};

} // namespace bcx::com
