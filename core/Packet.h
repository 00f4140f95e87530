#pragma once
// Packet buffers: one growable byte buffer with one cursor for writing and reading, and the framings that
// sit on top of it: the relay frame (bcxPacket), the Warcraft III LAN frame (warPacket) and the headerless
// buffer used for file contents and nested bodies (filePacket).
//
// All integers in every framing and body are little-endian. Strings are NUL-terminated byte strings
// without a length prefix, held as raw bytes in std::string.
//
// Also here: the incremental frame readers that fill a buffer from a non-blocking socket, header first
// and body after, across as many socket input events as it takes.

#include <cstdint>
#include <string>

#include <wx/string.h>

class CountingSocket;
class CountingPeerSocket;

class PacketBuffer {
public:
    virtual ~PacketBuffer();

    // --- framing operations (virtual, in this order in every class) ---

    // Stores the low 16 bits of Size() in the frame's length field (only when the whole header is held).
    virtual void UpdateLength() = 0;
    virtual void WriteMagic() = 0;
    virtual void WriteLengthPlaceholder() = 0;
    // WriteMagic, the id byte, WriteLengthPlaceholder.
    virtual void WriteHeader(uint8_t id) = 0;
    // False also while fewer bytes than the magic are held.
    virtual bool IsValid() const = 0;
    // The frame's length field (header included); 0 while the header is not held.
    virtual uint32_t GetLength() const = 0;
    // The frame's message id; 0 while the header is not held.
    virtual uint32_t GetId() const = 0;
    virtual uint32_t GetHeaderSize() const = 0;
    virtual wxString GetClassName() const = 0;

    // --- storage ---

    // Makes room for n more bytes behind Size(). False only when the storage could not be grown
    // (contents and capacity then stay as they were).
    bool Reserve(uint32_t n);
    // Frees the storage; data, capacity, size and cursor become 0, and the over-read mark is cleared.
    // Grow step and read error stay.
    void Clear();

    // --- writing (at the cursor; raises Size() when the cursor passes it) ---

    // Nothing when src is null, or when the room could not be reserved (the data is dropped).
    void Write(const void* src, uint32_t n);
    void WriteU8(uint8_t v);
    void WriteU16(uint16_t v);  // little-endian
    void WriteU32(uint32_t v);  // little-endian
    // The bytes of s, then one NUL byte.
    void WriteString(const std::string& s);

    // --- reading (at the cursor) ---

    // When n bytes are held behind the cursor: copies them to dst, advances the cursor and clears the
    // read error. Otherwise fills exactly n bytes of dst with 0xAD, leaves the cursor and sets the read
    // error. A null dst receives nothing (the cursor still moves on success).
    void Read(void* dst, uint32_t n);
    uint8_t ReadU8();    // 0xAD when not held
    uint16_t ReadU16();  // 0xADAD when not held
    uint32_t ReadU32();  // 0xADADADAD when not held
    // When a NUL byte stands between the cursor and Size(): out := the bytes up to it and the cursor moves
    // past it. Otherwise out and the cursor stay unchanged; the read error is not touched.
    void ReadString(std::string& out);

    // --- accessors ---

    const uint8_t* Data() const { return mData; }
    uint32_t Size() const { return mSize; }
    uint32_t Capacity() const { return mCapacity; }
    uint32_t Cursor() const { return mCursor; }
    // Moves the one read/write position; a position beyond Size() is clamped to Size().
    void SetCursor(uint32_t pos);
    // Bytes held behind the cursor.
    uint32_t Remaining() const { return mSize - mCursor; }
    bool ReadError() const { return mReadError; }
    // True once any read since the last Clear() (or ClearOverRead()) could not be satisfied: a number
    // past the end, or a string without its NUL inside the held bytes. A handler reads every field of a
    // frame and checks this once, before it changes any state.
    bool OverRead() const { return mOverRead; }
    void ClearOverRead() { mOverRead = false; }
    uint32_t GrowStep() const { return mGrowStep; }
    void SetGrowStep(uint32_t step) { mGrowStep = step; }

protected:
    PacketBuffer();
    PacketBuffer(const PacketBuffer& other);
    PacketBuffer(PacketBuffer&& other) noexcept;
    PacketBuffer& operator=(const PacketBuffer& other);
    PacketBuffer& operator=(PacketBuffer&& other) noexcept;

    // Little-endian field access inside the held bytes (callers check the bounds).
    uint16_t PeekU16(uint32_t offset) const;
    void PokeU16(uint32_t offset, uint16_t v);

    uint8_t* mData;
    uint32_t mCapacity;
    uint32_t mSize;
    uint32_t mGrowStep;
    uint32_t mCursor;
    bool mReadError;
    bool mOverRead = false;

private:
    friend class PacketSocketFill;
};

// The relay frame: u16 0xBEEF, u8 message id, u16 total length including the 5-byte header.
class bcxPacket : public PacketBuffer {
public:
    bcxPacket() = default;

    void UpdateLength() override;
    void WriteMagic() override;
    void WriteLengthPlaceholder() override;
    void WriteHeader(uint8_t id) override;
    bool IsValid() const override;
    uint32_t GetLength() const override;
    uint32_t GetId() const override;
    uint32_t GetHeaderSize() const override;
    wxString GetClassName() const override;
};

// The Warcraft III LAN frame: u8 0xF7 (0xFF accepted when reading), u8 message id, u16 total length
// including the 4-byte header. Keeps bcxPacket's WriteHeader.
class warPacket : public bcxPacket {
public:
    warPacket() = default;

    void UpdateLength() override;
    void WriteMagic() override;
    void WriteLengthPlaceholder() override;
    bool IsValid() const override;
    uint32_t GetLength() const override;
    uint32_t GetId() const override;
    uint32_t GetHeaderSize() const override;
    wxString GetClassName() const override;
};

// No frame: file contents and nested bodies, the body starts at offset 0.
class filePacket : public PacketBuffer {
public:
    filePacket() = default;

    void UpdateLength() override;
    void WriteMagic() override;
    void WriteLengthPlaceholder() override;
    void WriteHeader(uint8_t id) override;
    bool IsValid() const override;
    uint32_t GetLength() const override;
    uint32_t GetId() const override;
    uint32_t GetHeaderSize() const override;
    wxString GetClassName() const override;
};

// ---------------------------------------------------------------------------------------------------
// Incremental frame readers.
//
// Each call appends what the socket has ready (never blocking, never waiting on the socket) to the
// buffer, header first and body after, but never past the end of the current frame, so a second frame
// that arrived in the same segment stays for the next call: in the socket (relay frames), or in the
// peer socket's input buffer (LAN frames: CountingPeerSocket reads in chunks).
//
//   Complete   - the buffer holds one whole frame; the cursor stands just behind the header. The owner
//                handles the frame, calls Clear() and calls the reader again.
//   Incomplete - the socket has nothing more for now (or the peer closed; the lost-connection event
//                reports that); call again on the next input event.
//   Broken     - a socket error, or a header that is not valid or whose length field is smaller than
//                the header size. A broken header logs "Broken header received!" and the "Info: ..." line
//                once; every later call returns Broken again until the owner clears the buffer. The owner
//                treats it like a trashed frame (close or reconnect).
//
// The toolkit sends a new input event only after a read found the socket drained, so on every input
// event the owner must call the reader repeatedly, handling each Complete frame, until it returns
// Incomplete (or Broken).
//
// The buffer must be a framed packet (bcxPacket or warPacket); a filePacket gives Broken.
enum class ReadResult { Complete, Incomplete, Broken };

ReadResult ReadPacketFromSocket(PacketBuffer& packet, CountingSocket& socket);
ReadResult ReadLanPacket(PacketBuffer& packet, CountingPeerSocket& socket);
