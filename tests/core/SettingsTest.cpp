#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <pwd.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>
#include <wx/log.h>
#include <wx/confbase.h>
#include <wx/fileconf.h>

#include "core/ClientCore.h"
#include "core/ClientSettings.h"
#include "platform/Registry.h"
#include "support/Files.h"
#include "support/LogCapture.h"
#include "platform/TextCodec.h"

namespace {

using bcxtest::ReadFile;

// GBK bytes of the Chinese keys and names used below.
const std::string kUserNameKey = "\xD3\xC3\xBB\xA7\xC3\xFB";                 // 用户名
const std::string kPlayAllKey = "\xB2\xA5\xB7\xC5\xCB\xF9\xD3\xD0\xD3\xCE\xCF\xB7";  // 播放所有游戏
const std::string kZhangSan = "\xD5\xC5\xC8\xFD";                            // 张三
const std::string kUserNameKeyUtf8 = "用户名";

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::string Trim(const std::string& s)
{
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return std::string();
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

// The ini file as written, parsed on its own: section -> key -> values (every occurrence, so that a
// duplicate shows). Quoted values lose their quotes; \\ and \" are unescaped.
using Ini = std::map<std::string, std::map<std::string, std::vector<std::string>>>;

Ini ParseIni(const std::string& bytes)
{
    Ini ini;
    std::string section = "/";
    std::istringstream in(bytes);
    std::string line;
    while (std::getline(in, line)) {
        line = Trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            section = "/" + line.substr(1, line.find(']') - 1);
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = Trim(line.substr(0, eq));
        std::string value = Trim(line.substr(eq + 1));
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            std::string raw = value.substr(1, value.size() - 2);
            value.clear();
            for (size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '\\' && i + 1 < raw.size())
                    ++i;
                value += raw[i];
            }
        }
        ini[section][key].push_back(value);
    }
    return ini;
}

// A configuration that lets the system pick the datagram port.
const std::string kNetSection = "[Net]\nDatagramPort=0\n";

ClientCore* CreateCoreWithFile(const std::string& iniBytes)
{
    WriteFile("bcxClient.ini", iniBytes);
    return ClientCore::Get(false);
}

std::string OsUserName()
{
    struct passwd* pw = getpwuid(getuid());
    return pw ? pw->pw_name : std::string();
}

TEST(Settings, FirstStartWritesEveryKeyExceptThreeWithItsDefault)
{
    bcx::SetFakeRegistryForTesting(true, std::string("tester"));
    // Only the datagram port is given (so that the test binds no fixed port); everything else is new.
    ClientCore* core = CreateCoreWithFile(kNetSection);
    ASSERT_NE(core, nullptr);

    const std::map<std::string, std::map<std::string, std::string>> expected = {
        {"/Misc",
         {{kUserNameKey, "tester"},
          {"Password", "vexlor"},
          {"LastServer", "localhost"},
          {"LastPort", "10383"},
          {"ConnectAtStart", "0"},
          {"ChangeColors", "1"},
          {"PlayerChat", "1"},
          {"ObserverChat", "1"},
          {kPlayAllKey, "0"},
          {"SyncReactionTime", "0"},
          {"QuickStart", "1"}}},
        {"/Net",
         {{"DatagramPort", "0"},
          {"SessionPort", "10385"},
          {"UplinkPort", "10386"},
          {"SessionIdleTime", "5000"},
          {"UseBroadcast", "0"},
          {"UseLocalhost", "1"},
          {"CustomAddress", "127.0.0.1"}}},
        {"/Chat",
         {{"ChangePlayerNames", "1"},
          {"PromptBcx", "BCX"},
          {"PromptBcxPrefix", ""},
          {"PromptBcxPostfix", ""},
          {"PromptObs", "Obs"},
          {"PromptObsPrefix", "         "},
          {"PromptObsPostfix", ""},
          {"PromptIrc", "Irc"},
          {"PromptIrcPrefix", ""},
          {"PromptIrcPostfix", ""},
          {"PromptWiz", "Wiz"},
          {"PromptWizPrefix", " <<"},
          {"PromptWizPostfix", " >>"}}},
        {"/Irc",
         {{"IRCServerName", "localhost"},
          {"IRCServerPort", "6667"},
          {"IRCAutoChannel", "#brawlcast"},
          {"UseAutomaticServer", "1"},
          {"IRCNick1", "tester"},
          {"IRCNick2", "tester2"},
          {"IRCNick3", "tester3"},
          {"EchoOwnIRCChat", "1"}}},
        {"/Analyzer", {{"PlayerPing", "3"}, {"ObsPing", "3"}, {"AnalyzerFlags", "255"}}},
    };

    // Written at the end of loading, before the object is destroyed.
    const std::string bytes = ReadFile("bcxClient.ini");
    Ini ini = ParseIni(bytes);
    for (const auto& section : expected) {
        ASSERT_EQ(ini.count(section.first), 1u) << section.first;
        const auto& keys = ini[section.first];
        EXPECT_EQ(keys.size(), section.second.size()) << section.first;
        for (const auto& entry : section.second) {
            auto it = keys.find(entry.first);
            ASSERT_NE(it, keys.end()) << section.first << " " << entry.first;
            ASSERT_EQ(it->second.size(), 1u) << entry.first;
            EXPECT_EQ(it->second[0], entry.second) << section.first << " " << entry.first;
        }
    }
    EXPECT_EQ(ini["/Misc"].count("Verbose"), 0u);
    EXPECT_EQ(ini["/Misc"].count("GamesPath"), 0u);
    EXPECT_EQ(ini["/Net"].count("AutoReconnect"), 0u);
    // The Chinese keys are GBK in the file, never UTF-8.
    EXPECT_EQ(bytes.find(kUserNameKeyUtf8), std::string::npos);

    const ClientSettings& s = core->Settings();
    EXPECT_EQ(s.mUserName, "tester");
    EXPECT_EQ(s.mPassword, "vexlor");
    EXPECT_EQ(s.mLastServer, "localhost");
    EXPECT_EQ(s.mLastPort, 10383);
    EXPECT_EQ(s.mQuickStart, 1);
    EXPECT_EQ(s.mSessionIdleTime, 5000);
    EXPECT_EQ(s.mAutoReconnect, 36);
    EXPECT_EQ(s.mVerbose, 0);
    EXPECT_TRUE(s.mGamesPath.empty());
    EXPECT_EQ(s.mChatPromptPrefixes[ChatPromptObs], "         ");
    EXPECT_EQ(s.mChatPromptPostfixes[ChatPromptWiz], " >>");
    EXPECT_EQ(s.mAnalyzerFlags, 255);
    EXPECT_EQ(gChatPrompt, "[Brawlcast] ");

    ClientCore::Get(true);
}

TEST(Settings, ExistingGbkFileIsReadAndKeepsOneEntryPerKey)
{
    bcx::SetFakeRegistryForTesting(true, std::string("fromregistry"));
    const std::string file = "[Misc]\n" + kUserNameKey + "=" + kZhangSan + "\n" + kPlayAllKey +
                             "=1\nPassword=$HOME/pw${USER}\nGamesPath=games\nVerbose=3\n"
                             "[Net]\nDatagramPort=0\nAutoReconnect=5\nCustomAddress=10.0.0.9\n"
                             "[Chat]\nPromptObsPrefix=\"   \"\nPromptBcx=" + kZhangSan + "\n";
    ClientCore* core = CreateCoreWithFile(file);
    ASSERT_NE(core, nullptr);

    const ClientSettings& s = core->Settings();
    EXPECT_EQ(s.mUserName, kZhangSan);
    EXPECT_EQ(s.mPlayAllGames, 1);
    EXPECT_EQ(s.mPassword, "$HOME/pw${USER}");
    EXPECT_EQ(s.mGamesPath, wxS("games"));
    EXPECT_EQ(s.mVerbose, 3);
    EXPECT_EQ(s.mAutoReconnect, 5);
    EXPECT_EQ(s.mCustomAddress, "10.0.0.9");
    EXPECT_EQ(s.mChatPromptPrefixes[ChatPromptObs], "   ");
    EXPECT_EQ(s.mChatPrompts[ChatPromptBcx], kZhangSan);
    // The nicks default to the registry name, not to the name in the file.
    EXPECT_EQ(s.mIRCNick1, "fromregistry");
    EXPECT_EQ(s.mIRCNick2, "fromregistry2");

    // Destruction writes the file again; a settings change through the installed object reaches it too.
    wxConfigBase* config = wxConfigBase::Get(false);
    ASSERT_NE(config, nullptr);
    config->Write(wxS("/GUI/WindowPosX"), 17L);
    ClientCore::Get(true);

    const std::string bytes = ReadFile("bcxClient.ini");
    Ini ini = ParseIni(bytes);
    ASSERT_EQ(ini["/Misc"][kUserNameKey].size(), 1u);
    EXPECT_EQ(ini["/Misc"][kUserNameKey][0], kZhangSan);
    ASSERT_EQ(ini["/Misc"][kPlayAllKey].size(), 1u);
    EXPECT_EQ(ini["/Misc"][kPlayAllKey][0], "1");
    ASSERT_EQ(ini["/Misc"]["Password"].size(), 1u);
    EXPECT_EQ(ini["/Misc"]["Password"][0], "$HOME/pw${USER}");
    ASSERT_EQ(ini["/GUI"]["WindowPosX"].size(), 1u);
    EXPECT_EQ(ini["/GUI"]["WindowPosX"][0], "17");
    EXPECT_EQ(bytes.find(kUserNameKeyUtf8), std::string::npos);
    // The keys that are never written back stay as the user wrote them.
    EXPECT_EQ(ini["/Net"]["AutoReconnect"][0], "5");
}

TEST(Settings, Utf8FileWithOrWithoutByteOrderMarkIsReadAndWrittenBackInGbk)
{
    bcx::SetFakeRegistryForTesting(true, std::string("fromregistry"));
    // What an editor on Linux saves: UTF-8 keys and values.
    const std::string file = "[Misc]\n" + kUserNameKeyUtf8 + "=用户名张三\nPassword=秘密\n" + kNetSection;
    bcxtest::LogCapture log;
    ClientCore* core = CreateCoreWithFile(file);
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(core->Settings().mUserName, bcx::Utf8ToGbk("用户名张三"));
    EXPECT_EQ(core->Settings().mPassword, bcx::Utf8ToGbk("秘密"));
    EXPECT_TRUE(log.Contains("read as UTF-8"));
    ClientCore::Get(true);
    Ini ini = ParseIni(ReadFile("bcxClient.ini"));
    ASSERT_EQ(ini["/Misc"][kUserNameKey].size(), 1u);
    EXPECT_EQ(ini["/Misc"][kUserNameKey][0], bcx::Utf8ToGbk("用户名张三"));
    EXPECT_EQ(ini["/Misc"]["Password"][0], bcx::Utf8ToGbk("秘密"));

    // With a byte order mark, even bytes that would also read as GBK are UTF-8; without one, two Chinese
    // characters in UTF-8 (also valid GBK, as other characters) are still UTF-8; a file this program wrote
    // in GBK stays GBK, even where its bytes happen to be valid UTF-8 too.
    const std::pair<std::string, const char*> files[] = {
        {"\xEF\xBB\xBF[Misc]\nPassword=é\n", "é"},
        {"[Misc]\nPassword=张三\n", "张三"},
        {"[Misc]\nPassword=" + bcx::Utf8ToGbk("通") + "\n", "通"},
    };
    for (const auto& f : files) {
        WriteFile("bcxClient.ini", f.first);
        std::unique_ptr<wxFileConfig> config(OpenSettingsFile());
        config->SetPath(wxS("/Misc"));
        EXPECT_EQ(config->Read(wxS("Password"), wxString()), wxString::FromUTF8(f.second)) << f.second;
    }
}

TEST(Settings, FileThatIsNeitherGbkNorUtf8IsKeptUnderAnotherName)
{
    bcx::SetFakeRegistryForTesting(true, std::string("tester"));
    const std::string file = "[Misc]\nPassword=\xFF\xFE\x80 broken\n" + kNetSection;
    bcxtest::LogCapture log;
    ClientCore* core = CreateCoreWithFile(file);
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(core->Settings().mPassword, "vexlor");
    EXPECT_TRUE(log.Contains("kept as ./bcxClient.ini.unreadable"));
    EXPECT_EQ(ReadFile("bcxClient.ini.unreadable"), file);
    ClientCore::Get(true);
    EXPECT_NE(ReadFile("bcxClient.ini").find("Password=vexlor"), std::string::npos);
}

TEST(Settings, IntegerParsingIsStrictAndLocaleIndependent)
{
    int32_t v = -1;
    EXPECT_TRUE(ParseSettingInteger(wxS("42"), v));
    EXPECT_EQ(v, 42);
    EXPECT_TRUE(ParseSettingInteger(wxS(" -7 "), v));
    EXPECT_EQ(v, -7);
    EXPECT_TRUE(ParseSettingInteger(wxS("+3"), v));
    EXPECT_EQ(v, 3);
    EXPECT_TRUE(ParseSettingInteger(wxS("-2147483648"), v));
    EXPECT_EQ(v, INT32_MIN);
    EXPECT_TRUE(ParseSettingInteger(wxS("2147483647"), v));
    EXPECT_EQ(v, INT32_MAX);

    v = 99;
    for (const char* bad : {"", " ", "-", "abc", "12x", "0x10", "1 2", "2147483648", "-2147483649", "1.5",
                            "99999999999999999999"}) {
        EXPECT_FALSE(ParseSettingInteger(wxString::FromUTF8(bad), v)) << bad;
        EXPECT_EQ(v, 99) << bad;
    }
}

TEST(Settings, UnreadableIntegerKeepsTheFileTextAndTakesTheDefault)
{
    bcx::SetFakeRegistryForTesting(false, std::nullopt);
    ClientCore* core = CreateCoreWithFile("[Misc]\nLastPort=12x\nQuickStart=yes\n"
                                          "[Net]\nDatagramPort=0\nSessionIdleTime=abc\nSessionPort= 2000 \n");
    ASSERT_NE(core, nullptr);
    const ClientSettings& s = core->Settings();
    EXPECT_EQ(s.mLastPort, 10383);
    EXPECT_EQ(s.mQuickStart, 1);
    EXPECT_EQ(s.mSessionIdleTime, 5000);
    EXPECT_EQ(s.mSessionPort, 2000);
    ClientCore::Get(true);

    Ini ini = ParseIni(ReadFile("bcxClient.ini"));
    ASSERT_EQ(ini["/Misc"]["LastPort"].size(), 1u);
    EXPECT_EQ(ini["/Misc"]["LastPort"][0], "12x");
    EXPECT_EQ(ini["/Misc"]["QuickStart"][0], "yes");
    ASSERT_EQ(ini["/Net"]["SessionIdleTime"].size(), 1u);
    EXPECT_EQ(ini["/Net"]["SessionIdleTime"][0], "abc");
}

TEST(Settings, DotsInIrcNicksBecomeUnderscoresInMemoryOnly)
{
    bcx::SetFakeRegistryForTesting(true, std::string("first.last"));
    ClientCore* core = CreateCoreWithFile(kNetSection + "[Irc]\nIRCNick1=a.b.c\n");
    ASSERT_NE(core, nullptr);
    const ClientSettings& s = core->Settings();
    EXPECT_EQ(s.mUserName, "first.last");
    EXPECT_EQ(s.mIRCNick1, "a_b_c");
    EXPECT_EQ(s.mIRCNick2, "first_last2");
    EXPECT_EQ(s.mIRCNick3, "first_last3");
    ClientCore::Get(true);

    Ini ini = ParseIni(ReadFile("bcxClient.ini"));
    EXPECT_EQ(ini["/Misc"][kUserNameKey][0], "first.last");
    EXPECT_EQ(ini["/Irc"]["IRCNick1"][0], "a.b.c");
    EXPECT_EQ(ini["/Irc"]["IRCNick2"][0], "first.last2");
    EXPECT_EQ(ini["/Irc"]["IRCNick3"][0], "first.last3");
}

TEST(Settings, RegistryKeyWithoutValueGivesEmptyNameAndNumberedNicks)
{
    bcx::SetFakeRegistryForTesting(true, std::nullopt);
    bcxtest::LogCapture log;
    wxLog::SetVerbose(true); // the registry lines are verbose messages
    ClientCore* core = CreateCoreWithFile(kNetSection);
    ASSERT_NE(core, nullptr);
    const ClientSettings& s = core->Settings();
    EXPECT_EQ(s.mUserName, "");
    EXPECT_EQ(s.mIRCNick1, "");
    EXPECT_EQ(s.mIRCNick2, "2");
    EXPECT_EQ(s.mIRCNick3, "3");
    EXPECT_TRUE(log.Contains("Registry: the Warcraft III key has no readable value \"userbnet\""));
    ClientCore::Get(true);

    Ini ini = ParseIni(ReadFile("bcxClient.ini"));
    ASSERT_EQ(ini["/Misc"][kUserNameKey].size(), 1u);
    EXPECT_EQ(ini["/Misc"][kUserNameKey][0], "");
    EXPECT_EQ(ini["/Irc"]["IRCNick2"][0], "2");
}

TEST(Settings, NoRegistryKeyGivesTheSystemUserName)
{
    bcx::SetFakeRegistryForTesting(false, std::nullopt);
    bcxtest::LogCapture log;
    wxLog::SetVerbose(true); // the registry lines are verbose messages
    ClientCore* core = CreateCoreWithFile(kNetSection);
    ASSERT_NE(core, nullptr);
    const std::string expected = OsUserName();
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(core->Settings().mUserName, expected);
    EXPECT_EQ(core->Settings().mIRCNick3, expected + "3");
    // Registry lines are written although Verbose is 0.
    EXPECT_EQ(core->Settings().mVerbose, 0);
    EXPECT_TRUE(log.Contains("Registry: no Warcraft III key"));
    ClientCore::Get(true);
}

TEST(Settings, RegistryKeyWithValueGivesTheWarcraftName)
{
    bcx::SetFakeRegistryForTesting(true, kZhangSan);
    bcxtest::LogCapture log;
    wxLog::SetVerbose(true); // the registry lines are verbose messages
    ClientCore* core = CreateCoreWithFile(kNetSection);
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(core->Settings().mUserName, kZhangSan);
    EXPECT_EQ(core->Settings().mIRCNick2, kZhangSan + "2");
    EXPECT_TRUE(log.Contains("Registry: Warcraft III user name \"张三\""));
    ClientCore::Get(true);
    Ini ini = ParseIni(ReadFile("bcxClient.ini"));
    EXPECT_EQ(ini["/Misc"][kUserNameKey][0], kZhangSan);
}

// The registry of a Wine prefix: user.reg with one section per key.
class SettingsWineRegistry : public testing::Test {
protected:
    void SetUp() override
    {
        bcx::ClearFakeRegistryForTesting();
        char cwd[4096];
        ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
        mPrefix = std::string(cwd) + "/prefix";
        ASSERT_EQ(system(("mkdir -p '" + mPrefix + "'").c_str()), 0);
        setenv("WINEPREFIX", mPrefix.c_str(), 1);
    }
    void WriteUserReg(const std::string& body)
    {
        WriteFile(mPrefix + "/user.reg", "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21\n\n"
                                         "#arch=win32\n\n" + body);
    }
    std::string mPrefix;
};

TEST_F(SettingsWineRegistry, ReadsTheEscapedStringValue)
{
    WriteUserReg("[Software\\\\Blizzard Entertainment\\\\Warcraft III\\\\Gameplay] 1700000000\n"
                 "\"userbnet\"=\"wrong\"\n\n"
                 "[Software\\\\Blizzard Entertainment\\\\Warcraft III\\\\String] 1700000000\r\n"
                 "#time=1d9a1b2c3d4e5f6\r\n"
                 "\"other\"=\"x\"\r\n"
                 "\"userbnet\"=\"\\x5f20\\x4e09 \\\"Q\\\" a\\\\b\"\r\n"
                 "\n[Software\\\\Other] 1700000000\n\"userbnet\"=\"later\"\n");
    std::string value = "stale";
    EXPECT_TRUE(bcx::ReadWarcraftUserName(value));
    EXPECT_EQ(value, kZhangSan + " \"Q\" a\\b");
}

TEST_F(SettingsWineRegistry, KeyWithoutStringValueAndMissingKey)
{
    // Key names are case-insensitive; a value that is not a plain string cannot be read.
    WriteUserReg("[software\\\\blizzard entertainment\\\\WARCRAFT III\\\\String] 1700000000\n"
                 "\"userbnet\"=dword:00000001\n");
    std::string value = "stale";
    EXPECT_TRUE(bcx::ReadWarcraftUserName(value));
    EXPECT_EQ(value, "");

    // Only a subkey is listed: the key exists.
    WriteUserReg("[Software\\\\Blizzard Entertainment\\\\Warcraft III\\\\String\\\\Sub] 1700000000\n"
                 "\"userbnet\"=\"sub\"\n");
    value = "stale";
    EXPECT_TRUE(bcx::ReadWarcraftUserName(value));
    EXPECT_EQ(value, "");

    // A key whose name merely starts the same way is another key.
    WriteUserReg("[Software\\\\Blizzard Entertainment\\\\Warcraft III\\\\Strings] 1700000000\n"
                 "\"userbnet\"=\"no\"\n");
    EXPECT_FALSE(bcx::ReadWarcraftUserName(value));
    EXPECT_EQ(value, "");

    // No registry file at all.
    setenv("WINEPREFIX", (mPrefix + "/missing").c_str(), 1);
    EXPECT_FALSE(bcx::ReadWarcraftUserName(value));
}

} // namespace
