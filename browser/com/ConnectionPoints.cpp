// Connection points of a control and firing events to the advised sinks.

#include "browser/com/ConnectionPoints.h"

#include <map>

namespace bcx::com {

class ConnectionPoint final : public ComObject<IConnectionPoint> {
public:
    explicit ConnectionPoint(REFIID iid) : mIid(iid) {}

    HRESULT GetConnectionInterface(IID* out) override
    {
        if (!out)
            return E_POINTER;
        *out = mIid;
        return S_OK;
    }

    HRESULT Advise(IUnknown* sink, DWORD* cookie) override
    {
        if (!cookie)
            return E_POINTER;
        *cookie = 0;
        if (!sink || mClosed)
            return CONNECT_E_CANNOTCONNECT;
        // The sink answers the event interface or, at least, IDispatch.
        ComPtr<IDispatch> dispatch;
        if (FAILED(dispatch.QueryFrom(sink, mIid)) && FAILED(dispatch.QueryFrom(sink, IID_IDispatch)))
            return CONNECT_E_CANNOTCONNECT;
        *cookie = ++mLastCookie;
        mSinks[*cookie] = dispatch;
        return S_OK;
    }

    HRESULT Unadvise(DWORD cookie) override { return mSinks.erase(cookie) ? S_OK : CONNECT_E_NOCONNECTION; }

    const IID& Iid() const { return mIid; }
    int SinkCount() const { return static_cast<int>(mSinks.size()); }

    int Fire(DISPID id, VARIANT* args, UINT count)
    {
        std::vector<VARIANT> reversed(args, args + count);
        for (UINT i = 0; i < count; ++i)
            reversed[i] = args[count - 1 - i];
        // A sink may unadvise itself, or others, while it handles the event: call a snapshot.
        std::vector<ComPtr<IDispatch>> sinks;
        for (auto& entry : mSinks)
            sinks.push_back(entry.second);
        for (auto& sink : sinks) {
            DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr, count, 0};
            sink->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
        }
        // By-value arguments were passed as shallow copies: whatever a sink left in them is not ours.
        return static_cast<int>(sinks.size());
    }

    void Close()
    {
        mClosed = true;
        mSinks.clear();
    }

protected:
    void* FindInterface(REFIID iid) override
    {
        return iid == IID_IUnknown || iid == IID_IConnectionPoint ? static_cast<IConnectionPoint*>(this) : nullptr;
    }

private:
    IID mIid;
    bool mClosed = false;
    DWORD mLastCookie = 0;
    std::map<DWORD, ComPtr<IDispatch>> mSinks;
};

ConnectionPoints::ConnectionPoints() = default;

ConnectionPoints::~ConnectionPoints()
{
    DisconnectAll();
}

void ConnectionPoints::AddInterface(REFIID iid)
{
    if (!Find(iid))
        mPoints.emplace_back(new ConnectionPoint(iid));
}

ConnectionPoint* ConnectionPoints::Find(REFIID iid) const
{
    for (const auto& point : mPoints)
        if (point->Iid() == iid)
            return point.Get();
    return nullptr;
}

HRESULT ConnectionPoints::FindConnectionPoint(REFIID iid, IConnectionPoint** out)
{
    if (!out)
        return E_POINTER;
    *out = Find(iid);
    if (!*out)
        return CONNECT_E_NOCONNECTION;
    (*out)->AddRef();
    return S_OK;
}

int ConnectionPoints::Fire(REFIID iid, DISPID id, VARIANT* args, UINT count)
{
    ConnectionPoint* point = Find(iid);
    if (!point || (count && !args))
        return 0;
    ComPtr<ConnectionPoint> hold(point);
    return point->Fire(id, args, count);
}

int ConnectionPoints::SinkCount(REFIID iid) const
{
    const ConnectionPoint* point = Find(iid);
    return point ? point->SinkCount() : 0;
}

void ConnectionPoints::DisconnectAll()
{
    for (auto& point : mPoints)
        point->Close();
}

} // namespace bcx::com
