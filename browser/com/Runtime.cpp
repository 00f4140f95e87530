// Process-wide state of the object layer: initialisation depth, the task allocator, the class registry
// and the live-object counters.

#include "browser/com/Runtime.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>

#include "browser/com/Object.h"

bool operator<(const GUID& a, const GUID& b)
{
    return std::memcmp(&a, &b, sizeof(GUID)) < 0;
}

namespace bcx::com {
namespace {

std::atomic<long> gLiveObjects{0};
std::atomic<long> gInitDepth{0};

std::map<CLSID, ClassFactory>& Classes()
{
    static std::map<CLSID, ClassFactory> classes;
    return classes;
}

// The task allocator. It holds no OleInitGuard of its own (the guards hold it).
class TaskAllocator final : public CountedObject<NoOleInitGuard, IMalloc> {
public:
    void* Alloc(size_t bytes) override { return std::malloc(bytes); }
    void* Realloc(void* block, size_t bytes) override { return std::realloc(block, bytes); }
    void Free(void* block) override { std::free(block); }

protected:
    ~TaskAllocator() override;
    void* FindInterface(REFIID iid) override
    {
        return iid == IID_IUnknown || iid == IID_IMalloc ? static_cast<IMalloc*>(this) : nullptr;
    }
};

// The allocator handed out by CoGetMalloc while it lives; cleared by its destructor.
TaskAllocator* gAllocator = nullptr;

TaskAllocator::~TaskAllocator()
{
    if (gAllocator == this)
        gAllocator = nullptr;
}

// The allocator reference held on behalf of all OleInitGuards.
IMalloc* gGuardAllocator = nullptr;

} // namespace

void NoteObjectCreated() { ++gLiveObjects; }
void NoteObjectDestroyed() { --gLiveObjects; }
long LiveObjectCount() { return gLiveObjects.load(); }
long InitializeDepth() { return gInitDepth.load(); }

void RegisterClass(REFCLSID clsid, ClassFactory factory) { Classes()[clsid] = std::move(factory); }
void UnregisterClass(REFCLSID clsid) { Classes().erase(clsid); }

} // namespace bcx::com

using namespace bcx::com;

HRESULT OleInitialize(void*)
{
    return gInitDepth++ == 0 ? S_OK : S_FALSE;
}

void OleUninitialize()
{
    if (gInitDepth.load() > 0)
        --gInitDepth;
}

HRESULT CoGetMalloc(DWORD memoryContext, IMalloc** out)
{
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    if (memoryContext != 1)
        return E_INVALIDARG;
    if (!gAllocator)
        gAllocator = new TaskAllocator;
    gAllocator->AddRef();
    *out = gAllocator;
    return S_OK;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD, REFIID iid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (outer)
        return CLASS_E_NOAGGREGATION;
    const auto found = Classes().find(clsid);
    if (found == Classes().end() || !found->second)
        return REGDB_E_CLASSNOTREG;
    IUnknown* object = found->second();
    if (!object)
        return E_OUTOFMEMORY;
    // Hold the new object while it is queried, so that a failed query frees it.
    object->AddRef();
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
}

HRESULT OleRun(IUnknown* object)
{
    return object ? S_OK : E_INVALIDARG;
}

HRESULT OleLockRunning(IUnknown* object, BOOL, BOOL)
{
    return object ? S_OK : E_INVALIDARG;
}

HRESULT OleSetContainedObject(IUnknown* object, BOOL)
{
    return object ? S_OK : E_INVALIDARG;
}

OleInitGuard::OleInitGuard()
{
    const HRESULT hr = OleInitialize(nullptr);
    if (hr == S_OK && !gGuardAllocator) {
        CoGetMalloc(1, &gGuardAllocator);
    } else if (gGuardAllocator) {
        gGuardAllocator->AddRef();
    }
}

OleInitGuard::~OleInitGuard()
{
    if (gGuardAllocator && gGuardAllocator->Release() == 0)
        gGuardAllocator = nullptr;
    OleUninitialize();
}
