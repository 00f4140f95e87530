#pragma once
// The process-wide part of the object layer: counted initialisation, the task allocator, the class
// registry behind CoCreateInstance and the running-object calls the container makes.

#include <functional>

#include "browser/com/Interfaces.h"

// Counted: the first call returns S_OK, later ones S_FALSE; every call needs one OleUninitialize.
HRESULT OleInitialize(void* reserved);
void OleUninitialize();

// The one task allocator; memoryContext must be 1. Returns it with one more reference. The allocator
// is created on first use and freed when its last reference goes.
HRESULT CoGetMalloc(DWORD memoryContext, IMalloc** out);

// Creates an object of a registered class and queries it for iid. An outer object is not supported
// (CLASS_E_NOAGGREGATION); an unknown class gives REGDB_E_CLASSNOTREG.
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** out);

// The container's running-object calls. Nothing is kept running beyond the object's own references:
// these check their argument and succeed.
HRESULT OleRun(IUnknown* object);
HRESULT OleLockRunning(IUnknown* object, BOOL lock, BOOL lastUnlockCloses);
HRESULT OleSetContainedObject(IUnknown* object, BOOL contained);

// Keeps the object layer initialised while it lives and holds one reference on the task allocator:
// every object of the layer contains one.
class OleInitGuard {
public:
    OleInitGuard();
    ~OleInitGuard();
    OleInitGuard(const OleInitGuard&) = delete;
    OleInitGuard& operator=(const OleInitGuard&) = delete;
};

namespace bcx::com {

// Makes a new object of a class; returns it without a reference taken (count 0), or null.
typedef std::function<IUnknown*()> ClassFactory;

// Enters the class into the registry, replacing an earlier factory for the same id.
void RegisterClass(REFCLSID clsid, ClassFactory factory);
void UnregisterClass(REFCLSID clsid);

// Objects of the layer alive now (every ComObject, the allocator included), and wide strings alive now.
// Both return to 0 when everything has been released.
long LiveObjectCount();
long LiveStringCount();

// Depth of OleInitialize calls not yet balanced.
long InitializeDepth();

} // namespace bcx::com
