#include "core/Recording.h"

#include <cstring>

#include <wx/datetime.h>
#include <wx/file.h>
#include <wx/filefn.h>
#include <wx/log.h>

#include "core/GameRecords.h"
#include "core/Packet.h"
#include "platform/Descriptors.h"
#include "platform/TextCodec.h"

namespace {

void PutU32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

const char kBanner[] = "Brawlcast recorded game";  // 23 characters + NUL
static_assert(sizeof kBanner == 24, "the banner fills 24 bytes");

void BuildHeader(uint8_t (&header)[kRecordingHeaderSize], uint32_t fileSize, uint32_t dataLength,
                 const Game& game)
{
    std::memset(header, 0, sizeof header);
    std::memcpy(header, kBanner, sizeof kBanner);
    PutU32(header + 24, kRecordingFormat);
    PutU32(header + 28, kRecordingHeaderSize);
    PutU32(header + 32, fileSize);
    PutU32(header + 36, 1);
    PutU32(header + 40, dataLength);
    PutU32(header + 44, 0);
    PutU32(header + 48, game.mInfo->mProduct);
    PutU32(header + 52, game.mInfo->mVersion);
    // 56: u16 0, 58: u16 0
    PutU32(header + 60, game.mData->LastTime());
    PutU32(header + 64, 0);
}

} // namespace

bool WriteGameRecord(const Game& game, PacketBuffer& out)
{
    if (!game.mInfo || !game.mDetails || !game.mData || game.mDownloadState < DownloadReceiving)
        return false;
    out.WriteU32(kRecordMagic);
    out.WriteU32(game.mId);
    out.WriteString(game.mName);
    out.WriteString(game.mPlayers);
    out.WriteU32(game.mStartTime);
    out.WriteString(game.mPublisher);
    return game.mInfo->Write(out) && game.mDetails->Write(out) && game.mData->Write(out);
}

wxString FormatStartTime(const Game& game)
{
    if (!game.mInfo || !game.mInfo->mPresent)
        return wxString();
    return wxDateTime(time_t(game.mStartTime)).Format(wxS("%Y-%m-%d %H:%M:%S"));
}

namespace {

// The bytes a name takes in the file system's encoding.
size_t FileNameBytes(const wxString& name)
{
    const wxCharBuffer bytes = name.fn_str();
    return bytes.length() > 0 || name.empty() ? bytes.length() : name.utf8_str().length();
}

} // namespace

wxString MakeRecordingName(const Game& game, const wxString& suffix)
{
    // Substitute decoded characters: a GBK trail byte that equals '\' or '|' is part of a Chinese
    // character, not a path character.
    wxString base = game.mName.empty() ? FormatStartTime(game) : bcx::FromGbk(game.mName);
    const wxString prefix = wxString::Format(wxS("[%08X]"), unsigned(game.mId));
    // A long name is cut on a character boundary so that the whole file name fits; at worst the id
    // alone names the file.
    const size_t fixed = FileNameBytes(prefix) + FileNameBytes(suffix);
    size_t budget = fixed < kMaxFileNameBytes ? kMaxFileNameBytes - fixed : 0;
    wxString clean;
    clean.reserve(base.length());
    for (wxUniChar c : base) {
        wxUniChar out = c;
        switch (c.GetValue()) {
        case ':': case '<': case '>': out = '-'; break;
        case '/': case '\\': case '|': case '?': out = '_'; break;
        case '*': out = wxUniChar(0x00B0); break;
        case '"': out = '\''; break;
        default: break;
        }
        const size_t bytes = FileNameBytes(wxString(out));
        if (bytes > budget)
            break;
        budget -= bytes;
        clean += out;
    }
    return prefix + clean + suffix;
}

bool SaveRecording(const Game& game, const wxString& directory)
{
    filePacket data;
    data.SetGrowStep(0x10000);
    if (!WriteGameRecord(game, data))
        return false;

    const wxString path =
        (directory.empty() ? wxString(wxS(".")) : directory) + wxS("/") + MakeRecordingName(game, wxS(".bcx"));

    bool opened = false;
    bool written = false;
    {
        wxLogNull quiet;  // the failure is reported below, once, in the program's own words
        wxFile file;
        opened = bcx::CreateFileCloseOnExec(file, path, wxS_DEFAULT);
        if (opened) {
            uint8_t header[kRecordingHeaderSize] = {};
            const size_t dataLength = data.Size();
            bool ok = file.Write(header, sizeof header) == sizeof header
                      && file.Write(data.Data(), dataLength) == dataLength;
            const wxFileOffset fileSize = ok ? file.Length() : wxInvalidOffset;
            ok = ok && fileSize == wxFileOffset(sizeof header + dataLength);
            if (ok) {
                BuildHeader(header, uint32_t(fileSize), uint32_t(dataLength), game);
                ok = file.Seek(0) == 0 && file.Write(header, sizeof header) == sizeof header;
            }
            written = file.Close() && ok;
            if (!written)
                wxRemoveFile(path);
        }
    }
    if (!opened) {
        wxLogMessage(wxS("[g] could not create recorded game '%s'"), path);
        return false;
    }
    if (!written) {
        wxLogMessage(wxS("[g] could not write recorded game '%s'"), path);
        return false;
    }
    return true;
}
