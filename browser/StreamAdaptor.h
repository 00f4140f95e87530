#pragma once
// Toolkit input streams as the object layer's IStream, for loading a document into the browser control.
// Every adaptor serves a prefix first (empty until set), then the bytes of its source; a call served
// from the prefix returns only prefix bytes. The adaptor lives by its reference count.

#include <memory>
#include <string>

#include "browser/com/Object.h"

class wxInputStream;

class StreamAdaptorBase : public bcx::com::ComObject<IStream> {
public:
    StreamAdaptorBase() = default;

    void SetPrefix(const std::string& prefix) { mPrefix = prefix; }

    // Fills the buffer from the prefix, else from the source; the count is 0 at the end. Always S_OK.
    HRESULT Read(void* buffer, ULONG bytes, ULONG* read) override;

    // A read-only, forward-only stream: the rest is not implemented.
    HRESULT Write(const void* buffer, ULONG bytes, ULONG* written) override;
    HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* newPosition) override;
    HRESULT SetSize(ULARGE_INTEGER size) override;
    HRESULT CopyTo(IStream* target, ULARGE_INTEGER bytes, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override;
    HRESULT Commit(DWORD flags) override;
    HRESULT Revert() override;
    HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER bytes, DWORD lockType) override;
    HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER bytes, DWORD lockType) override;
    HRESULT Stat(STATSTG* stat, DWORD flags) override;
    HRESULT Clone(IStream** out) override;

protected:
    ~StreamAdaptorBase() override = default;
    void* FindInterface(REFIID iid) override;

    // Reads up to bytes from the source; the number read, 0 at the end.
    virtual ULONG ReadFromSource(void* buffer, ULONG bytes) = 0;

private:
    std::string mPrefix;
};

// An adaptor over a toolkit input stream, which it owns.
class InputStreamAdaptor : public StreamAdaptorBase {
public:
    explicit InputStreamAdaptor(wxInputStream* source);

protected:
    ~InputStreamAdaptor() override;
    ULONG ReadFromSource(void* buffer, ULONG bytes) override;

private:
    std::unique_ptr<wxInputStream> mSource;
};
