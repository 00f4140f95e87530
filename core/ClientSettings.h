#pragma once
// Every user-settable value of the client, filled once from "./bcxClient.ini" by
// ClientCore::LoadSettings. Texts that go on a wire (user name, password, server host, chat prompts, IRC
// names, the custom LAN address) are raw GBK bytes; the games directory is a file-system path.

#include <cstdint>
#include <string>

#include <wx/string.h>

class wxConfigBase;
class wxFileConfig;

// Index of the chat prompt arrays, by chat source.
enum ChatPromptSource : int {
    ChatPromptBcx = 0,  // relayed lines
    ChatPromptObs = 1,  // observer lines
    ChatPromptIrc = 2,  // IRC lines
    ChatPromptWiz = 3,  // wizard lines
    ChatPromptCount = 4,
};

struct ClientSettings {
    // /Misc
    std::string mUserName;                // "用户名"
    std::string mPassword = "vexlor";
    std::string mLastServer;              // default: the deployment's relay host
    int32_t mLastPort = 10383;
    int32_t mConnectAtStart = 0;
    wxString mGamesPath;                  // empty: no recorded-game files
    int32_t mChangeColors = 1;
    int32_t mPlayerChat = 1;
    int32_t mObserverChat = 1;
    int32_t mPlayAllGames = 0;            // "播放所有游戏"
    int32_t mSyncReactionTime = 0;
    int32_t mQuickStart = 1;
    // /Net
    int32_t mDatagramPort = 10384;
    int32_t mSessionPort = 10385;
    int32_t mUplinkPort = 10386;
    int32_t mSessionIdleTime = 5000;
    int32_t mUseBroadcast = 0;            // on only when 1
    int32_t mUseLocalhost = 1;            // on only when 1
    std::string mCustomAddress = "127.0.0.1";
    int32_t mAutoReconnect = 36;
    // /Chat
    int32_t mChangePlayerNames = 1;
    std::string mChatPrompts[ChatPromptCount] = {"BCX", "Obs", "Irc", "Wiz"};
    std::string mChatPromptPrefixes[ChatPromptCount] = {"", "         ", "", " <<"};
    std::string mChatPromptPostfixes[ChatPromptCount] = {"", "", "", " >>"};
    // /Irc
    int32_t mUseAutomaticServer = 1;
    std::string mIRCServerName;           // default: the deployment's IRC host
    int32_t mIRCServerPort = 6667;
    std::string mIRCAutoChannel = "#brawlcast";
    std::string mIRCNick1;                // in memory every '.' is '_'; the file keeps the dots
    std::string mIRCNick2;
    std::string mIRCNick3;
    int32_t mEchoOwnIRCChat = 1;
    // /Analyzer
    int32_t mPlayerPing = 3;
    int32_t mObsPing = 3;
    int32_t mAnalyzerFlags = 255;
    // /Misc, never written back
    int32_t mVerbose = 0;
};

// The number of parts of a chat prompt's settings: 0 the prompt, 1 the prefix, 2 the postfix.
constexpr int kChatPromptParts = 3;

// One part of a chat prompt's settings (source: ChatPromptSource, part: 0 to kChatPromptParts - 1).
std::string& ChatPromptPart(ClientSettings& settings, int source, int part);
const std::string& ChatPromptPart(const ClientSettings& settings, int source, int part);

// Its key under /Chat: "PromptBcx", "PromptBcxPrefix", "PromptBcxPostfix", likewise Obs, Irc and Wiz.
std::string ChatPromptKey(int source, int part);

// The name of the configuration file, relative to the working directory.
extern const char* const kConfigFileName;
// What a configuration file that is neither GBK nor UTF-8 text is renamed to.
extern const char* const kUnreadableConfigFileName;

// How the configuration file's bytes are read: GBK (as the client writes it); UTF-8 when they start
// with a UTF-8 byte order mark or are not GBK; unreadable when they are neither.
enum class SettingsEncoding { Gbk, Utf8, Unreadable };
SettingsEncoding DetectSettingsEncoding(const std::string& bytes);

// The configuration object on kConfigFileName (local file, relative path, no variable expansion),
// reading GBK or UTF-8 and writing GBK. A file that is neither is renamed to kUnreadableConfigFileName
// first, with a log line, and the configuration starts empty.
wxFileConfig* OpenSettingsFile();

// The chat prompt text put before the program's own lines in the Warcraft III chat (GBK bytes); set to
// "[Brawlcast] " when the settings are loaded and saved by the settings page as /Misc ChatPrompt.
extern std::string gChatPrompt;

// When key exists in the configuration's current group: its value. Otherwise: the default, written
// under key when writeBack is set.
wxString ReadStringSetting(wxConfigBase* config, const wxString& key, const wxString& defaultValue,
                           bool writeBack);

// When key exists in the current group and its text reads as a decimal integer: that number. Otherwise
// the default; a missing key is written with the default when writeBack is set, a key whose text does
// not read keeps its text.
int32_t ReadIntSetting(wxConfigBase* config, const wxString& key, int32_t defaultValue, bool writeBack);

// Reads a decimal integer (optional sign, surrounding blanks), independent of the locale. False when the
// text is not such a number or does not fit 32 bits.
bool ParseSettingInteger(const wxString& text, int32_t& value);

// Fills the settings from the configuration's sections /Misc, /Net, /Chat, /Irc and /Analyzer, writing
// missing keys back with their defaults (user name: the default user name and IRC nicks).
void ReadSettings(wxConfigBase* config, ClientSettings& settings, const std::string& userName);

// Uninstalls the process-wide configuration object and deletes it, which writes pending changes.
void DestroyGlobalConfig();
