#include <climits>
#include <cstdint>
#include <cstring>
#include <locale.h>

#include <wx/confbase.h>
#include <wx/ffile.h>
#include <wx/filefn.h>
#include <wx/fileconf.h>
#include <wx/log.h>
#include <wx/strconv.h>
#include <wx/utils.h>

#include "core/ClientCore.h"
#include "core/ClientSettings.h"
#include "core/Deployment.h"
#include "platform/Registry.h"
#include "platform/TextCodec.h"

const char* const kConfigFileName = "./bcxClient.ini";
const char* const kUnreadableConfigFileName = "./bcxClient.ini.unreadable";

std::string gChatPrompt;

namespace {

const char kUtf8Bom[] = "\xEF\xBB\xBF";

// The settings file's text converter. The file is written in GBK; it is read as GBK, or as UTF-8 (what
// the editors of other systems write) when it starts with a UTF-8 byte order mark or its bytes are not
// GBK. The choice is made for the whole text at once: the toolkit hands the file over in one piece.
class SettingsFileConv : public wxMBConv {
public:
    size_t ToWChar(wchar_t* dst, size_t dstLen, const char* src, size_t srcLen = wxNO_LEN) const override
    {
        if (srcLen == wxNO_LEN)
            srcLen = std::strlen(src) + 1;
        const SettingsEncoding encoding = DetectSettingsEncoding(std::string(src, srcLen));
        if (encoding == SettingsEncoding::Gbk)
            return bcx::GbkConv().ToWChar(dst, dstLen, src, srcLen);
        if (encoding != SettingsEncoding::Utf8)
            return wxCONV_FAILED;
        if (srcLen >= 3 && std::memcmp(src, kUtf8Bom, 3) == 0) {
            src += 3;
            srcLen -= 3;
        }
        return wxMBConvStrictUTF8().ToWChar(dst, dstLen, src, srcLen);
    }
    size_t FromWChar(char* dst, size_t dstLen, const wchar_t* src, size_t srcLen = wxNO_LEN) const override
    {
        return bcx::GbkConv().FromWChar(dst, dstLen, src, srcLen);
    }
    size_t GetMBNulLen() const override { return 1; }
    wxMBConv* Clone() const override { return new SettingsFileConv; }
};

// The configuration file. The toolkit puts a backslash before every character of a key name that the
// C library does not call alphanumeric in the current locale, which in the "C" locale is every Chinese
// character ("\用\户\名"). The file must hold the plain key, as every other reader of it expects, so
// writes classify characters with a UTF-8 locale, for this thread and the time of the call only.
class SettingsFile : public wxFileConfig {
public:
    using wxFileConfig::wxFileConfig;

protected:
    bool DoWriteString(const wxString& key, const wxString& value) override
    {
        locale_t utf8 = Utf8Locale();
        locale_t previous = utf8 ? uselocale(utf8) : nullptr;
        bool ok = wxFileConfig::DoWriteString(key, value);
        if (utf8)
            uselocale(previous);
        return ok;
    }
    bool DoWriteLong(const wxString& key, long value) override
    {
        return DoWriteString(key, wxString::Format(wxS("%ld"), value));
    }

private:
    static locale_t Utf8Locale()
    {
        static locale_t locale = [] {
            for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
                locale_t l = newlocale(LC_CTYPE_MASK, name, static_cast<locale_t>(nullptr));
                if (l)
                    return l;
            }
            return static_cast<locale_t>(nullptr);
        }();
        return locale;
    }
};

bool IsBlank(wxUniChar c)
{
    return c == ' ' || c == '\t';
}

// Reads a GBK string key (see ReadStringSetting).
std::string ReadBytesSetting(wxConfigBase* config, const char* key, const std::string& defaultValue,
                             bool writeBack = true)
{
    return bcx::ToGbk(ReadStringSetting(config, wxString::FromUTF8(key), bcx::FromGbk(defaultValue), writeBack));
}

int32_t ReadInt(wxConfigBase* config, const char* key, int32_t defaultValue, bool writeBack = true)
{
    return ReadIntSetting(config, wxString::FromUTF8(key), defaultValue, writeBack);
}

std::string DotsToUnderscores(std::string nick)
{
    for (char& c : nick)
        if (c == '.')
            c = '_';
    return nick;
}

// Whether a GBK reading of the bytes meets a double-byte character outside the common (GB2312) rows,
// whose lead and trail bytes both lie in 0xA1..0xFE.
bool UsesGbkExtensionRows(const std::string& bytes)
{
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80)
            continue;
        if (i + 1 >= bytes.size())
            return true;
        const unsigned char trail = static_cast<unsigned char>(bytes[++i]);
        if (lead < 0xA1 || trail < 0xA1)
            return true;
    }
    return false;
}

} // namespace

SettingsEncoding DetectSettingsEncoding(const std::string& bytes)
{
    const bool bom = bytes.compare(0, 3, kUtf8Bom) == 0;
    const std::string text = bom ? bytes.substr(3) : bytes;
    if (text.empty())
        return bom ? SettingsEncoding::Utf8 : SettingsEncoding::Gbk;
    auto decodes = [&text](const wxMBConv& conv) {
        return conv.ToWChar(nullptr, 0, text.data(), text.size()) != wxCONV_FAILED;
    };
    // A byte order mark says UTF-8 whatever the bytes would read as in GBK. Without one, UTF-8 text
    // often reads as GBK too (any even run of Chinese characters does), but then as characters of the
    // rarely used GBK extension rows; the text this program writes, and what people type, stays in the
    // common rows. So text that is valid UTF-8 and reads as GBK only through the extension rows is UTF-8.
    if (!bom && decodes(bcx::GbkConv()) && !(UsesGbkExtensionRows(text) && decodes(wxMBConvStrictUTF8())))
        return SettingsEncoding::Gbk;
    if (decodes(wxMBConvStrictUTF8()))
        return SettingsEncoding::Utf8;
    return SettingsEncoding::Unreadable;
}

wxFileConfig* OpenSettingsFile()
{
    const wxString path = wxString::FromUTF8(kConfigFileName);
    if (wxFileExists(path)) {
        std::string bytes;
        {
            wxLogNull quiet;
            wxFFile file(path, wxS("rbe"));  // "e": close-on-exec
            if (file.IsOpened()) {
                char buffer[4096];
                size_t n;
                while ((n = file.Read(buffer, sizeof buffer)) > 0)
                    bytes.append(buffer, n);
            }
        }
        switch (DetectSettingsEncoding(bytes)) {
        case SettingsEncoding::Gbk:
            break;
        case SettingsEncoding::Utf8:
            wxLogMessage(wxS("Settings: %s is read as UTF-8 and will be written as GBK"), path);
            break;
        case SettingsEncoding::Unreadable: {
            // The user's file is kept for the user to mend; the client starts with the defaults.
            const wxString kept = wxString::FromUTF8(kUnreadableConfigFileName);
            if (wxRenameFile(path, kept, true))
                wxLogMessage(wxS("Settings: %s is neither GBK nor UTF-8 text; it was kept as %s and the defaults "
                                 "are used"),
                             path, kept);
            else
                wxLogMessage(wxS("Settings: %s is neither GBK nor UTF-8 text and could not be renamed to %s"),
                             path, kept);
            break;
        }
        }
    }
    // The toolkit reads the file here and writes it in Flush (through a temporary file, renamed over it),
    // both with descriptors of its own that lack close-on-exec; each is opened and closed within that one
    // call on the GUI thread, where the web engine starts its processes, so none of them is ever inherited.
    wxFileConfig* config = new SettingsFile(wxEmptyString, wxEmptyString, path, wxEmptyString,
                                            wxCONFIG_USE_LOCAL_FILE | wxCONFIG_USE_RELATIVE_PATH,
                                            SettingsFileConv());
    // Values are taken as written: a password holding "$HOME" stays "$HOME".
    config->SetExpandEnvVars(false);
    return config;
}

bool ParseSettingInteger(const wxString& text, int32_t& value)
{
    size_t begin = 0;
    size_t end = text.length();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    if (begin == end)
        return false;
    bool negative = false;
    if (text[begin] == '+' || text[begin] == '-') {
        negative = text[begin] == '-';
        ++begin;
    }
    if (begin == end)
        return false;
    int64_t number = 0;
    for (size_t i = begin; i < end; ++i) {
        wxUniChar c = text[i];
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<int64_t>(c.GetValue() - '0');
        if (number > static_cast<int64_t>(INT32_MAX) + 1)
            return false;
    }
    if (negative)
        number = -number;
    if (number < INT32_MIN || number > INT32_MAX)
        return false;
    value = static_cast<int32_t>(number);
    return true;
}

wxString ReadStringSetting(wxConfigBase* config, const wxString& key, const wxString& defaultValue, bool writeBack)
{
    if (!config)
        return defaultValue;
    if (config->HasEntry(key))
        return config->Read(key, defaultValue);
    if (writeBack)
        config->Write(key, defaultValue);
    return defaultValue;
}

int32_t ReadIntSetting(wxConfigBase* config, const wxString& key, int32_t defaultValue, bool writeBack)
{
    if (!config)
        return defaultValue;
    if (config->HasEntry(key)) {
        wxString text = config->Read(key, wxString());
        int32_t value;
        return ParseSettingInteger(text, value) ? value : defaultValue;
    }
    if (writeBack)
        config->Write(key, static_cast<long>(defaultValue));
    return defaultValue;
}

std::string& ChatPromptPart(ClientSettings& settings, int source, int part)
{
    std::string* const parts[kChatPromptParts] = {settings.mChatPrompts, settings.mChatPromptPrefixes,
                                                  settings.mChatPromptPostfixes};
    return parts[part][source];
}

const std::string& ChatPromptPart(const ClientSettings& settings, int source, int part)
{
    return ChatPromptPart(const_cast<ClientSettings&>(settings), source, part);
}

std::string ChatPromptKey(int source, int part)
{
    static const char* const kSources[ChatPromptCount] = {"PromptBcx", "PromptObs", "PromptIrc", "PromptWiz"};
    static const char* const kParts[kChatPromptParts] = {"", "Prefix", "Postfix"};
    return std::string(kSources[source]) + kParts[part];
}

void DestroyGlobalConfig()
{
    wxConfigBase* config = wxConfigBase::Set(nullptr);
    delete config;
}

void ReadSettings(wxConfigBase* config, ClientSettings& settings, const std::string& userName)
{
    ClientSettings& s = settings;

    config->SetPath(wxS("/"));
    config->SetPath(wxS("/Misc"));
    s.mUserName = ReadBytesSetting(config, "用户名", userName);
    s.mPassword = ReadBytesSetting(config, "Password", "vexlor");
    s.mLastServer = ReadBytesSetting(config, "LastServer", bcx::kDefaultRelayHost);
    s.mLastPort = ReadInt(config, "LastPort", 10383);
    s.mConnectAtStart = ReadInt(config, "ConnectAtStart", 0);
    s.mChangeColors = ReadInt(config, "ChangeColors", 1);
    s.mPlayerChat = ReadInt(config, "PlayerChat", 1);
    s.mObserverChat = ReadInt(config, "ObserverChat", 1);
    s.mPlayAllGames = ReadInt(config, "播放所有游戏", 0);
    s.mSyncReactionTime = ReadInt(config, "SyncReactionTime", 0);
    s.mQuickStart = ReadInt(config, "QuickStart", 1);
    s.mVerbose = ReadInt(config, "Verbose", 0, false);
    s.mGamesPath = ReadStringSetting(config, wxS("GamesPath"), wxString(), false);

    config->SetPath(wxS("/Net"));
    s.mDatagramPort = ReadInt(config, "DatagramPort", 10384);
    s.mSessionPort = ReadInt(config, "SessionPort", 10385);
    s.mUplinkPort = ReadInt(config, "UplinkPort", 10386);
    s.mSessionIdleTime = ReadInt(config, "SessionIdleTime", 5000);
    s.mUseBroadcast = ReadInt(config, "UseBroadcast", 0);
    s.mUseLocalhost = ReadInt(config, "UseLocalhost", 1);
    s.mCustomAddress = ReadBytesSetting(config, "CustomAddress", "127.0.0.1");
    s.mAutoReconnect = ReadInt(config, "AutoReconnect", 36, false);

    config->SetPath(wxS("/Chat"));
    s.mChangePlayerNames = ReadInt(config, "ChangePlayerNames", 1);
    const ClientSettings defaults;
    for (int source = 0; source < ChatPromptCount; ++source)
        for (int part = 0; part < kChatPromptParts; ++part)
            ChatPromptPart(s, source, part) = ReadBytesSetting(config, ChatPromptKey(source, part).c_str(),
                                                               ChatPromptPart(defaults, source, part));

    config->SetPath(wxS("/Irc"));
    s.mIRCServerName = ReadBytesSetting(config, "IRCServerName", bcx::kDefaultIrcHost);
    s.mIRCServerPort = ReadInt(config, "IRCServerPort", 6667);
    s.mIRCAutoChannel = ReadBytesSetting(config, "IRCAutoChannel", "#brawlcast");
    s.mUseAutomaticServer = ReadInt(config, "UseAutomaticServer", 1);
    s.mIRCNick1 = ReadBytesSetting(config, "IRCNick1", userName);
    s.mIRCNick2 = ReadBytesSetting(config, "IRCNick2", userName + "2");
    s.mIRCNick3 = ReadBytesSetting(config, "IRCNick3", userName + "3");
    s.mEchoOwnIRCChat = ReadInt(config, "EchoOwnIRCChat", 1);

    // In memory only: the file keeps the dots.
    s.mIRCNick1 = DotsToUnderscores(s.mIRCNick1);
    s.mIRCNick2 = DotsToUnderscores(s.mIRCNick2);
    s.mIRCNick3 = DotsToUnderscores(s.mIRCNick3);

    config->SetPath(wxS("/Analyzer"));
    s.mPlayerPing = ReadInt(config, "PlayerPing", 3);
    s.mObsPing = ReadInt(config, "ObsPing", 3);
    s.mAnalyzerFlags = ReadInt(config, "AnalyzerFlags", 255);

}

void ClientCore::LoadSettings()
{
    gChatPrompt = "[Brawlcast] ";

    // No configuration object may appear behind the program's back (the toolkit would otherwise make one
    // in the home directory when the file configuration is gone).
    wxConfigBase::DontCreateOnDemand();
    wxFileConfig* config = OpenSettingsFile();
    delete wxConfigBase::Set(config);

    // Default user name: the Warcraft III one when its registry key exists (empty when the value cannot
    // be read), else the system user name.
    std::string userName;
    if (!bcx::ReadWarcraftUserName(userName))
        userName = bcx::ToGbk(wxGetUserId());

    ReadSettings(config, mSettings, userName);

    config->SetPath(wxS("/"));
    if (!config->Flush())
        wxLogMessage(wxS("Settings: could not write %s"), wxString::FromUTF8(kConfigFileName));
}
