#pragma once
// The control container below its window: creates a control by class id, gives it the client site,
// activates it in place, keeps its extent and rectangles in step with the window, reads its type
// information, connects its event interface and turns its events into toolkit events, and takes it
// down again in order. The window that shows the control (wxActiveXContainer) drives it through
// ActiveXWindowSide; everything here links with the toolkit's base library only.

#include <vector>

#include <wx/event.h>
#include <wx/variant.h>

#include "browser/activex/ActiveXTypes.h"
#include "browser/com/Interfaces.h"
#include "browser/com/Object.h"

// What the host needs from the window that shows the control.
class ActiveXWindowSide {
public:
    virtual ~ActiveXWindowSide() = default;

    // The container window and its window id.
    virtual HWND GetHostWindow() = 0;
    virtual int GetHostId() = 0;
    virtual SIZE GetHostClientSize() = 0;

    // The control's own window: make it active (focus), show it.
    virtual void ActivateControlWindow(HWND control) = 0;
    virtual void ShowControlWindow(HWND control) = 0;

    // Queue a size event of (w, h) to the container window.
    virtual void QueueSizeEvent(int w, int h) = 0;

    // Pixels per logical inch of the screen, x and y.
    virtual SIZE GetScreenPixelsPerInch() = 0;

    // The system's window text and window background colours (0x00BBGGRR).
    virtual COLORREF GetWindowTextColour() = 0;
    virtual COLORREF GetWindowColour() = 0;

    // Delivers a control event to the container's parent window, with the parameter list params.
    // Synchronous: the parent processes it at once and params holds what its handlers changed when this
    // returns. Otherwise it is queued and handled from the event loop.
    virtual void DeliverActiveXEvent(wxEventType type, wxVariant& params, bool synchronous) = 0;
};

class ContainerSite;
class ActiveXEventSink;

// One connected event interface: the connection point and the advise cookie.
struct ActiveXConnection {
    bcx::com::ComPtr<IConnectionPoint> point;
    DWORD cookie = 0;
};

class ActiveXControlHost {
public:
    explicit ActiveXControlHost(ActiveXWindowSide& side);
    ~ActiveXControlHost();
    ActiveXControlHost(const ActiveXControlHost&) = delete;
    ActiveXControlHost& operator=(const ActiveXControlHost&) = delete;

    // Creates and activates the control; failures of single steps leave the behaviour that needs them out.
    void CreateActiveX(REFCLSID clsid);

    // Takes the control down: unadvises the event connections, deactivates, hides, closes and lets go of
    // the control, frees the tables. Runs once; the destructor runs it when nobody did.
    void Destroy();

    // Window events.
    void OnSize();
    void OnFocus(bool gained);
    // Draws the control through its view object into dc over (0, 0, w, h); false without a view object.
    bool Draw(HDC dc, int w, int h);

    // Reads the control's class information into the tables and connects the default event interface.
    void LoadTypeInfo();
    void ReadTypeInfo(ITypeInfo* info, bool defaultInterface, bool defaultEventInterface);
    HRESULT ConnectEventSink(REFIID iid, IUnknown* sink);

    // Turns a fired event (an index into the event table) into a toolkit event; see ActiveXEventSink.
    void DispatchEvent(int eventIndex, DISPPARAMS* params);

    ActiveXWindowSide& Side() { return mSide; }
    const ActiveXTypeTables& Tables() const { return mTables; }

    IUnknown* GetControl() const { return mControl.Get(); }
    IDispatch* GetDispatch() const { return mDispatch.Get(); }
    IOleObject* GetOleObject() const { return mOleObject.Get(); }
    IOleInPlaceObject* GetInPlaceObject() const { return mInPlaceObject.Get(); }
    IOleInPlaceActiveObject* GetInPlaceActiveObject() const { return mInPlaceActiveObject.Get(); }
    IOleDocumentView* GetDocumentView() const { return mDocumentView.Get(); }
    void SetInPlaceActiveObject(IOleInPlaceActiveObject* object) { mInPlaceActiveObject = object; }
    void SetDocumentView(IOleDocumentView* view) { mDocumentView = view; }
    bcx::com::ComPtr<IOleDocumentView>& DocumentViewHolder() { return mDocumentView; }

    HWND GetControlWindow() const { return mControlWindow; }
    // Takes the control's window again from its in-place object, when it has one: the control made its
    // window anew.
    void TakeControlWindow();
    bool AmbientUserMode() const { return mAmbientUserMode; }
    size_t ConnectionCount() const { return mConnections.size(); }

private:
    ActiveXWindowSide& mSide;
    // The site and the event sinks made for this host: they are told when the host goes, so that a
    // control that still holds them reaches nothing.
    ContainerSite* mSite = nullptr;
    std::vector<bcx::com::ComPtr<ActiveXEventSink>> mSinks;
    bcx::com::ComPtr<IDispatch> mDispatch;
    bcx::com::ComPtr<IOleClientSite> mClientSite;
    bcx::com::ComPtr<IUnknown> mControl;
    bcx::com::ComPtr<IOleObject> mOleObject;
    bcx::com::ComPtr<IOleInPlaceObject> mInPlaceObject;
    bcx::com::ComPtr<IOleInPlaceActiveObject> mInPlaceActiveObject;
    bcx::com::ComPtr<IOleDocumentView> mDocumentView;
    bcx::com::ComPtr<IViewObject> mViewObject;
    HWND mControlWindow = nullptr;
    bool mAmbientUserMode = true;
    DWORD mAdviseCookie = 0;
    std::vector<ActiveXConnection> mConnections;
    ActiveXTypeTables mTables;
    bool mDestroyed = false;
};

// Pixels to HIMETRIC (0.01 mm) with the screen's pixels per inch, read once through side and kept for
// the process (read again only while the vertical value is 0).
SIZEL PixelsToHimetric(ActiveXWindowSide& side, int w, int h);
