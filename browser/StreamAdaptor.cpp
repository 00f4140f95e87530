#include "browser/StreamAdaptor.h"

#include <algorithm>
#include <cstring>

#include <wx/stream.h>

void* StreamAdaptorBase::FindInterface(REFIID iid)
{
    if (iid == IID_IUnknown || iid == IID_ISequentialStream || iid == IID_IStream)
        return static_cast<IStream*>(this);
    return nullptr;
}

HRESULT StreamAdaptorBase::Read(void* buffer, ULONG bytes, ULONG* read)
{
    ULONG count = 0;
    if (!mPrefix.empty()) {
        count = static_cast<ULONG>(std::min<size_t>(bytes, mPrefix.size()));
        if (count > 0)
            std::memcpy(buffer, mPrefix.data(), count);
        mPrefix.erase(0, count);
    } else if (bytes > 0) {
        count = ReadFromSource(buffer, bytes);
    }
    if (read)
        *read = count;
    return S_OK;
}

HRESULT StreamAdaptorBase::Write(const void*, ULONG, ULONG*) { return E_NOTIMPL; }
HRESULT StreamAdaptorBase::Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER*) { return E_NOTIMPL; }
HRESULT StreamAdaptorBase::SetSize(ULARGE_INTEGER) { return E_NOTIMPL; }
HRESULT StreamAdaptorBase::CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) { return E_NOTIMPL; }
HRESULT StreamAdaptorBase::Commit(DWORD) { return E_NOTIMPL; }
HRESULT StreamAdaptorBase::Revert() { return E_NOTIMPL; }
HRESULT StreamAdaptorBase::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }
HRESULT StreamAdaptorBase::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return E_NOTIMPL; }
HRESULT StreamAdaptorBase::Stat(STATSTG*, DWORD) { return E_NOTIMPL; }
HRESULT StreamAdaptorBase::Clone(IStream**) { return E_NOTIMPL; }

InputStreamAdaptor::InputStreamAdaptor(wxInputStream* source) : mSource(source) {}

InputStreamAdaptor::~InputStreamAdaptor() = default;

ULONG InputStreamAdaptor::ReadFromSource(void* buffer, ULONG bytes)
{
    if (!mSource)
        return 0;
    mSource->Read(buffer, bytes);
    return static_cast<ULONG>(mSource->LastRead());
}
