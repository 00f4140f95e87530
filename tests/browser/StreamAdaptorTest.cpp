// The stream adaptor: "<html>" first, then the source, in the reader's chunk sizes; its lifetime by
// reference count.

#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <wx/mstream.h>

#include "browser/StreamAdaptor.h"
#include "browser/com/Runtime.h"

namespace {

std::string ReadChunk(IStream* stream, ULONG bytes)
{
    std::string buffer(bytes, '\0');
    ULONG read = 12345;
    EXPECT_EQ(S_OK, stream->Read(&buffer[0], bytes, &read));
    buffer.resize(read);
    return buffer;
}

// source: a literal (the memory stream reads it in place).
StreamAdaptorBase* MakeAdaptor(const char* source)
{
    auto* adaptor = new InputStreamAdaptor(new wxMemoryInputStream(source, std::strlen(source)));
    adaptor->AddRef();
    adaptor->SetPrefix("<html>");
    return adaptor;
}

TEST(StreamAdaptorTest, PrefixComesFirstAndAloneThenTheSource)
{
    const long before = bcx::com::LiveObjectCount();
    StreamAdaptorBase* adaptor = MakeAdaptor("<html><p>x</p>");
    EXPECT_EQ("<h", ReadChunk(adaptor, 2));
    EXPECT_EQ("tm", ReadChunk(adaptor, 2));
    // The rest of the prefix only, although more was asked for.
    EXPECT_EQ("l>", ReadChunk(adaptor, 100));
    EXPECT_EQ("<html><p>x</p>", ReadChunk(adaptor, 100));
    EXPECT_EQ("", ReadChunk(adaptor, 100));
    EXPECT_EQ(S_OK, adaptor->Read(nullptr, 0, nullptr));
    adaptor->Release();

    adaptor = MakeAdaptor("");
    EXPECT_EQ("<html>", ReadChunk(adaptor, 4096));
    EXPECT_EQ("", ReadChunk(adaptor, 4096));
    // Only its stream interfaces; the last reference takes the adaptor and its source stream.
    for (const IID& iid : {IID_IUnknown, IID_ISequentialStream, IID_IStream}) {
        void* out = nullptr;
        EXPECT_EQ(S_OK, adaptor->QueryInterface(iid, &out));
        EXPECT_EQ(static_cast<IStream*>(adaptor), out);
        adaptor->Release();
    }
    void* out = adaptor;
    EXPECT_EQ(E_NOINTERFACE, adaptor->QueryInterface(IID_IPersistStreamInit, &out));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(0u, adaptor->Release());
    EXPECT_EQ(before, bcx::com::LiveObjectCount());
}

} // namespace
