#pragma once
// A control for the container tests: it records the calls the container makes, describes itself with
// static type tables (a default dispatch interface, a default event interface and two that the
// container must not take), and fires events on request.

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "browser/activex/ActiveXHost.h"
#include "browser/activex/ActiveXVariants.h"
#include "browser/com/ConnectionPoints.h"
#include "browser/com/Object.h"

#include <gtest/gtest.h>

namespace bcxtest {

constexpr CLSID CLSID_FakeControl = {0x0BC0FA4E, 0x0001, 0x0002, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr IID DIID_FakeEvents = {0x0BC0FA4E, 0x0003, 0x0004, {1, 2, 3, 4, 5, 6, 7, 8}};

enum : DISPID {
    FakeDispStatusText = 102,  // declared, never registered by name
    FakeDispValues = 300,      // one argument of each convertible type, two written back
};

// An empty value of type vt.
VARIANT Value(VARTYPE vt);

// What the test sets up before the container creates the control, and what it observed.
struct FakeControlRecord {
    DWORD miscStatus = 0;
    bool provideClassInfo = true;
    bool hasWindow = true;
    HWND window = nullptr;              // the control's window; null: a stand-in the tests never show
    bool viewObject = false;            // answers IViewObject (draws nothing, records the call)
    SIZEL extent{0, 0};
    std::vector<std::string> calls;
    IOleClientSite* site = nullptr;     // the site given last (not owned)
    class FakeControl* live = nullptr;  // the control while it exists

    bool Called(const std::string& call) const { return IndexOf(call) >= 0; }
    int IndexOf(const std::string& call) const
    {
        const auto found = std::find(calls.begin(), calls.end(), call);
        return found == calls.end() ? -1 : int(found - calls.begin());
    }
};

// Registers the fake control's class for the lifetime of the object, recording into record.
class ScopedFakeControlClass {
public:
    explicit ScopedFakeControlClass(FakeControlRecord& record);
    ~ScopedFakeControlClass();
};

class FakeControl final
    : public bcx::com::ComObject<IDispatch, IProvideClassInfo, IConnectionPointContainer, IOleObject,
                                 IOleInPlaceObject, IPersistStreamInit, IViewObject> {
public:
    explicit FakeControl(FakeControlRecord& record);

    // Fires an event to the advised sinks; args in declaration order.
    int Fire(DISPID id, VARIANT* args, UINT count) { return mPoints.Fire(DIID_FakeEvents, id, args, count); }
    // Fires BeforeNavigate2 for url; returns the Cancel it sees afterwards.
    VARIANT_BOOL Navigate(const char16_t* url);
    int SinkCount() const { return mPoints.SinkCount(DIID_FakeEvents); }

    HRESULT GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return E_NOTIMPL; }
    HRESULT GetClassInfo(ITypeInfo** out) override;
    HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;
    HRESULT SetClientSite(IOleClientSite* site) override;
    HRESULT GetClientSite(IOleClientSite**) override { return E_NOTIMPL; }
    HRESULT SetHostNames(LPCOLESTR app, LPCOLESTR object) override;
    HRESULT Close(DWORD option) override;
    HRESULT DoVerb(LONG verb, MSG*, IOleClientSite* site, LONG, HWND parent, LPCRECT rect) override;
    HRESULT SetExtent(DWORD aspect, SIZEL* size) override;
    HRESULT GetExtent(DWORD, SIZEL* size) override { return Note("GetExtent", size, mRecord.extent); }
    HRESULT Advise(IAdviseSink* sink, DWORD* cookie) override;
    HRESULT Unadvise(DWORD cookie) override
    {
        mAdviseSink.Reset();
        return Note("Unadvise " + std::to_string(cookie));
    }
    HRESULT GetMiscStatus(DWORD, DWORD* status) override { return Note("GetMiscStatus", status, mRecord.miscStatus); }
    HRESULT GetWindow(HWND* out) override;
    HRESULT ContextSensitiveHelp(BOOL) override { return S_OK; }
    HRESULT InPlaceDeactivate() override { return Note("InPlaceDeactivate"); }
    HRESULT UIDeactivate() override { return Note("UIDeactivate"); }
    HRESULT SetObjectRects(LPCRECT pos, LPCRECT clip) override;
    HRESULT ReactivateAndUndo() override { return E_NOTIMPL; }
    HRESULT GetClassID(CLSID*) override { return E_NOTIMPL; }
    HRESULT IsDirty() override { return S_FALSE; }
    HRESULT Load(IStream*) override { return E_NOTIMPL; }
    HRESULT Save(IStream*, BOOL) override { return E_NOTIMPL; }
    HRESULT GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }
    HRESULT InitNew() override { return Note("InitNew"); }
    HRESULT Draw(DWORD aspect, LONG index, void*, DVTARGETDEVICE*, HDC, HDC draw, const RECTL* bounds,
                 const RECTL*, ContinueDrawing, ULONG_PTR) override;

protected:
    ~FakeControl() override;
    void* FindInterface(REFIID iid) override;

private:
    HRESULT Note(const std::string& call)
    {
        mRecord.calls.push_back(call);
        return S_OK;
    }
    template <class T>
    HRESULT Note(const std::string& call, T* out, const T& value)
    {
        if (!out)
            return E_INVALIDARG;
        *out = value;
        return Note(call);
    }

    FakeControlRecord& mRecord;
    bcx::com::ComPtr<IOleClientSite> mSite;
    bcx::com::ComPtr<IAdviseSink> mAdviseSink;
    bcx::com::ConnectionPoints mPoints;
};

// A window for the host: fixed size and screen resolution; events are recorded, synchronous ones go to
// the handler at once, queued ones when RunQueued is called.
class FakeWindowSide : public ActiveXWindowSide {
public:
    struct Delivered {
        wxEventType type;
        wxVariant params;
        bool synchronous;
    };

    SIZE clientSize{200, 100};
    std::vector<std::string> calls;
    std::vector<Delivered> delivered;
    std::vector<Delivered> queued;
    std::function<void(wxEventType, ActiveXEventParams&)> handler;

    static HWND ControlWindow() { return reinterpret_cast<HWND>(&sControlWindow); }
    static HWND HostWindow() { return reinterpret_cast<HWND>(&sHostWindow); }

    // Handles the queued events in order; returns how many.
    int RunQueued();

    HWND GetHostWindow() override { return HostWindow(); }
    int GetHostId() override { return 6000; }
    SIZE GetHostClientSize() override { return clientSize; }
    void ActivateControlWindow(HWND) override { calls.push_back("activate"); }
    void ShowControlWindow(HWND) override { calls.push_back("show"); }
    void QueueSizeEvent(int w, int h) override { calls.push_back("size " + std::to_string(w) + "x" + std::to_string(h)); }
    SIZE GetScreenPixelsPerInch() override
    {
        calls.push_back("ppi");
        return SIZE{96, 96};
    }
    COLORREF GetWindowTextColour() override { return 0x00112233; }
    COLORREF GetWindowColour() override { return 0x00FFEEDD; }
    void DeliverActiveXEvent(wxEventType type, wxVariant& params, bool synchronous) override;

private:
    void Handle(wxEventType type, wxVariant& params);
    static inline char sControlWindow, sHostWindow;
};

// A host with the fake control and window, created by Create.
class FakeHostTest : public testing::Test {
protected:
    void Create()
    {
        mHost = std::make_unique<ActiveXControlHost>(mSide);
        mHost->CreateActiveX(CLSID_FakeControl);
    }

    FakeControlRecord mRecord;
    ScopedFakeControlClass mClass{mRecord};
    FakeWindowSide mSide;
    std::unique_ptr<ActiveXControlHost> mHost;
};

} // namespace bcxtest
