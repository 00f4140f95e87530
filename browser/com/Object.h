#pragma once
// Building blocks for objects of the layer: a reference-counted base that implements IUnknown from an
// interface table and counts live objects, and a holder that owns one reference to an interface.

#include <atomic>

#include "browser/com/Interfaces.h"
#include "browser/com/Runtime.h"

namespace bcx::com {

void NoteObjectCreated();
void NoteObjectDestroyed();

// Keeps nothing: the guard of objects that must not hold one (the task allocator, which the guards hold).
struct NoOleInitGuard {};

// Base of every object of the layer. The count starts at 0; Release below 1 does nothing and returns
// 0; the object deletes itself when Release brings the count to 0. QueryInterface answers from
// FindInterface: a null out pointer gives E_FAIL, a miss E_NOINTERFACE with the out pointer cleared.
// Every object holds an OleInitGuard (Guard) while it lives.
//
//   class Thing : public bcx::com::ComObject<IDispatch, IProvideClassInfo> {
//       void* FindInterface(REFIID iid) override {
//           if (iid == IID_IUnknown || iid == IID_IDispatch) return static_cast<IDispatch*>(this);
//           if (iid == IID_IProvideClassInfo) return static_cast<IProvideClassInfo*>(this);
//           return nullptr;
//       }
//       ...
//   };
template <class Guard, class... Interfaces>
class CountedObject : public Interfaces... {
public:
    CountedObject() { NoteObjectCreated(); }
    CountedObject(const CountedObject&) = delete;
    CountedObject& operator=(const CountedObject&) = delete;

    HRESULT QueryInterface(REFIID iid, void** out) override
    {
        if (!out)
            return E_FAIL;
        *out = FindInterface(iid);
        if (!*out)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }

    ULONG AddRef() override { return static_cast<ULONG>(++mRefCount); }

    ULONG Release() override
    {
        if (mRefCount.load() < 1)
            return 0;
        const LONG left = --mRefCount;
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    LONG RefCount() const { return mRefCount.load(); }

protected:
    virtual ~CountedObject() { NoteObjectDestroyed(); }

    // The interface pointer that answers iid, or null.
    virtual void* FindInterface(REFIID iid) = 0;

private:
    std::atomic<LONG> mRefCount{0};
    Guard mOleGuard;
};

template <class... Interfaces>
using ComObject = CountedObject<OleInitGuard, Interfaces...>;

// Owns one reference to an interface: assigning releases the old pointer and adds a reference to the
// new one; destroying releases.
template <class T>
class ComPtr {
public:
    ComPtr() = default;
    explicit ComPtr(T* p) : mPtr(p)
    {
        if (mPtr)
            mPtr->AddRef();
    }
    ComPtr(const ComPtr& other) : ComPtr(other.mPtr) {}
    ~ComPtr() { Reset(); }

    ComPtr& operator=(T* p)
    {
        if (p)
            p->AddRef();
        T* old = mPtr;
        mPtr = p;
        if (old)
            old->Release();
        return *this;
    }
    ComPtr& operator=(const ComPtr& other) { return *this = other.mPtr; }

    void Reset() { *this = static_cast<T*>(nullptr); }

    // Queries source for this holder's interface; empty when it has none.
    HRESULT QueryFrom(IUnknown* source, REFIID iid)
    {
        Reset();
        if (!source)
            return E_NOINTERFACE;
        T* p = nullptr;
        const HRESULT hr = source->QueryInterface(iid, reinterpret_cast<void**>(&p));
        mPtr = SUCCEEDED(hr) ? p : nullptr;
        return hr;
    }

    // Takes over a reference that the caller already owns (an out pointer filled by a call).
    void Attach(T* p)
    {
        Reset();
        mPtr = p;
    }
    // The address to hand to a call that fills an out pointer with one reference; releases the old.
    T** Receive()
    {
        Reset();
        return &mPtr;
    }

    T* Get() const { return mPtr; }
    T* operator->() const { return mPtr; }
    explicit operator bool() const { return mPtr != nullptr; }

private:
    T* mPtr = nullptr;
};

} // namespace bcx::com
