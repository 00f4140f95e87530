// The settings page: every control changes ClientCore's settings the moment the user changes it, Save
// writes the page's keys (and no other) to the configuration file, and a settings-changed notification
// reloads the switches, the address and the nicks.

#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/config.h>
#include <wx/frame.h>
#include <wx/notebook.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/uiaction.h>

#include "core/ClientCore.h"
#include "core/ClientSettings.h"
#include "platform/TextCodec.h"
#include "support/Files.h"
#include "support/Pump.h"
#include "support/Text.h"
#include "support/gui/Screenshot.h"
#include "ui/HintTextCtrl.h"
#include "ui/SettingsPage.h"

namespace {

using bcxtest::ReadFile;
using bcxtest::Utf8;

std::string Gbk(const char* utf8)
{
    return bcx::Utf8ToGbk(utf8);
}

// The configuration file as "Section/key" -> value bytes (GBK), read line by line the way any reader of
// an INI file does: "[Section]" headers, "key=value" lines, a value in double quotes (written so when it
// starts or ends with blanks) unquoted with its backslash escapes.
std::map<std::string, std::string> ParseIni(const std::string& path)
{
    std::map<std::string, std::string> keys;
    std::istringstream in(ReadFile(path));
    std::string line;
    std::string section;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line[0] == '[') {
            section = line.substr(1, line.find(']') - 1);
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
            std::string raw = value.substr(1, value.size() - 2);
            value.clear();
            for (size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '\\' && i + 1 < raw.size()) {
                    char c = raw[++i];
                    value += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
                } else {
                    value += raw[i];
                }
            }
        }
        keys[section + "/" + key] = value;
    }
    return keys;
}

void WriteIni(const std::string& gbkText)
{
    std::ofstream out(kConfigFileName, std::ios::binary | std::ios::trunc);
    out << gbkText;
}

class SettingsPageTest : public testing::Test {
protected:
    void TearDown() override
    {
        if (mFrame) {
            mFrame->Destroy();
            bcxtest::PumpUntil([] { return wxTopLevelWindows.IsEmpty(); });
        }
    }

    // Creates the core (reading the configuration file in the working directory) and the page, as the
    // main frame does: a page of a notebook.
    void Open(const wxSize& frameSize = wxSize(760, 980))
    {
        mCore = ClientCore::Get(false);
        ASSERT_NE(nullptr, mCore);
        mFrame = new wxFrame(nullptr, wxID_ANY, wxS("Brawlcast"), wxPoint(10, 10), frameSize);
        mNotebook = new wxNotebook(mFrame, wxID_ANY);
        mPage = new SettingsPage(mNotebook);
        mNotebook->AddPage(mPage, wxString::FromUTF8("      设置     "), true);
        mWindow = mPage->GetSettingsWindow();
        mFrame->Show();
        mFrame->Raise();
        ASSERT_TRUE(bcxtest::PumpUntil([this] { return mFrame->IsShownOnScreen(); }));
        bcxtest::PumpFor(100);
    }

    ClientSettings& S() { return mCore->Settings(); }

    static bool Focus(wxWindow* window)
    {
        window->SetFocus();
        return bcxtest::PumpUntil([window] { return wxWindow::FindFocus() == window; });
    }

    // Moves the pointer onto the window and clicks, as the user does.
    static void Click(wxWindow* window)
    {
        window->GetParent()->Update();
        wxUIActionSimulator sim;
        wxRect rect = window->GetScreenRect();
        sim.MouseMove(rect.x + rect.width / 4 + 2, rect.y + rect.height / 2);
        bcxtest::PumpFor(20);
        sim.MouseClick();
        bcxtest::PumpFor(20);
    }

    // Clicks a check box and waits until it shows the other state.
    static void Toggle(wxCheckBox* box)
    {
        const bool before = box->GetValue();
        Click(box);
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return box->GetValue() != before; })) << Utf8(box->GetLabel());
    }

    static void Choose(wxRadioButton* radio)
    {
        Click(radio);
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return radio->GetValue(); })) << Utf8(radio->GetLabel());
    }

    // Replaces the field's text as the user does: click, select all, type, Tab away.
    void TypeInto(HintTextCtrl* field, const char* text)
    {
        Click(field);
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return wxWindow::FindFocus() == field; }));
        field->SelectAll();
        wxUIActionSimulator sim;
        sim.Text(text);
        sim.Char(WXK_TAB);
        ASSERT_TRUE(bcxtest::PumpUntil([&] { return wxWindow::FindFocus() != field; }));
        bcxtest::PumpFor(20);
    }

    // Sets the field's text while it has the focus (texts that cannot be typed), then moves the focus on.
    void EditInto(HintTextCtrl* field, const wxString& text)
    {
        ASSERT_TRUE(Focus(field));
        field->ChangeValue(text);
        ASSERT_TRUE(Focus(mPage->GetSaveButton()));
    }

    void Save()
    {
        wxCommandEvent click(wxEVT_BUTTON, SettingsSaveId);
        click.SetEventObject(mPage->GetSaveButton());
        mPage->GetSaveButton()->GetEventHandler()->ProcessEvent(click);
    }

    ClientCore* mCore = nullptr;
    wxFrame* mFrame = nullptr;
    wxNotebook* mNotebook = nullptr;
    SettingsPage* mPage = nullptr;
    SettingsWindow* mWindow = nullptr;
};

TEST_F(SettingsPageTest, ShowsTheLoadedSettingsAndRegistersAsSettingsTarget)
{
    WriteIni("[Net]\nUseBroadcast=1\nUseLocalhost=1\nCustomAddress=10.0.0.9\n"
             "[Irc]\nIRCNick1=a.b.c\nIRCNick2=x\nIRCNick3=" + Gbk("观众.3") + "\n"
             "[Analyzer]\nPlayerPing=2\nObsPing=1\nAnalyzerFlags=5\n"
             "[Misc]\nPlayerChat=0\nObserverChat=1\nChangeColors=0\nConnectAtStart=1\nQuickStart=0\n"
             "[Chat]\nChangePlayerNames=0\nPromptWiz=" + Gbk("精灵") + "\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_EQ(mWindow, mCore->GetSettingsTarget());
    EXPECT_EQ("      设置     ", Utf8(mNotebook->GetPageText(0)));
    EXPECT_EQ("  保存设置 ", Utf8(mPage->GetSaveButton()->GetLabel()));

    // Both switches on: the broadcast choice wins.
    EXPECT_TRUE(mWindow->BroadcastRadio()->GetValue());
    EXPECT_FALSE(mWindow->LocalhostRadio()->GetValue());
    EXPECT_FALSE(mWindow->CustomAddressRadio()->GetValue());
    EXPECT_EQ("10.0.0.9", Utf8(mWindow->CustomAddressField()->GetValue()));
    // The nicks as held in memory: dots turned into underscores.
    EXPECT_EQ("a_b_c", Utf8(mWindow->NickField(0)->GetValue()));
    EXPECT_EQ("x", Utf8(mWindow->NickField(1)->GetValue()));
    EXPECT_EQ("观众_3", Utf8(mWindow->NickField(2)->GetValue()));

    EXPECT_TRUE(mWindow->PlayerPingBox()->GetValue());
    EXPECT_FALSE(mWindow->PlayerPingInfoBox()->GetValue());
    EXPECT_FALSE(mWindow->ObserverPingBox()->GetValue());
    EXPECT_TRUE(mWindow->ObserverPingInfoBox()->GetValue());
    // AnalyzerFlags 5: of the page's bits only 0x04 (hero skills) is set.
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(i == 1, mWindow->AnalyzerBox(i)->GetValue()) << i;
    EXPECT_EQ("提示英雄技能升级", Utf8(mWindow->AnalyzerBox(1)->GetLabel()));
    EXPECT_EQ("显示小地图信号", Utf8(mWindow->AnalyzerBox(0)->GetLabel()));

    EXPECT_FALSE(mWindow->PlayerChatBox()->GetValue());
    EXPECT_TRUE(mWindow->ObserverChatBox()->GetValue());
    EXPECT_FALSE(mWindow->ChangeColorsBox()->GetValue());
    EXPECT_TRUE(mWindow->ConnectAtStartBox()->GetValue());
    EXPECT_FALSE(mWindow->QuickStartBox()->GetValue());
    EXPECT_FALSE(mWindow->ChangePlayerNamesBox()->GetValue());
    EXPECT_TRUE(mWindow->EchoOwnIrcChatBox()->GetValue());

    // Prompt fields start with the settings, spaces included.
    EXPECT_EQ("BCX", Utf8(mWindow->PromptField(ChatPromptBcx, 0)->GetValue()));
    EXPECT_EQ("         ", Utf8(mWindow->PromptField(ChatPromptObs, 1)->GetValue()));
    EXPECT_EQ(" >>", Utf8(mWindow->PromptField(ChatPromptWiz, 2)->GetValue()));
    EXPECT_EQ("精灵", Utf8(mWindow->PromptField(ChatPromptWiz, 0)->GetValue()));
    EXPECT_EQ(SettingsPromptIrcId + 2, mWindow->PromptField(ChatPromptIrc, 2)->GetId());

    // Leaving the page withdraws the target; a later notification goes nowhere.
    mFrame->Destroy();
    mFrame = nullptr;
    ASSERT_TRUE(bcxtest::PumpUntil([] { return wxTopLevelWindows.IsEmpty(); }));
    EXPECT_EQ(nullptr, mCore->GetSettingsTarget());
    mCore->NotifySettingsChanged();
    bcxtest::PumpFor(20);
}

TEST_F(SettingsPageTest, EveryCheckBoxAppliesAtOnce)
{
    ASSERT_NO_FATAL_FAILURE(Open());
    struct Box {
        wxCheckBox* box;
        int32_t* setting;
    };
    const std::vector<Box> boxes = {
        {mWindow->PlayerChatBox(), &S().mPlayerChat},
        {mWindow->ObserverChatBox(), &S().mObserverChat},
        {mWindow->ChangeColorsBox(), &S().mChangeColors},
        {mWindow->ConnectAtStartBox(), &S().mConnectAtStart},
        {mWindow->QuickStartBox(), &S().mQuickStart},
        {mWindow->ChangePlayerNamesBox(), &S().mChangePlayerNames},
        {mWindow->EchoOwnIrcChatBox(), &S().mEchoOwnIRCChat},
    };
    for (const Box& b : boxes) {
        const bool initially = b.box->GetValue();
        EXPECT_EQ(initially ? 1 : 0, *b.setting) << Utf8(b.box->GetLabel());
        ASSERT_NO_FATAL_FAILURE(Toggle(b.box));
        EXPECT_EQ(initially ? 0 : 1, *b.setting) << Utf8(b.box->GetLabel());
        ASSERT_NO_FATAL_FAILURE(Toggle(b.box));
        EXPECT_EQ(initially ? 1 : 0, *b.setting) << Utf8(b.box->GetLabel());
    }
}

TEST_F(SettingsPageTest, PingValueIsComputedFromBothBoxesOfTheRow)
{
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(3, S().mPlayerPing);
    ASSERT_TRUE(mWindow->PlayerPingBox()->GetValue());
    ASSERT_TRUE(mWindow->PlayerPingInfoBox()->GetValue());

    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->PlayerPingBox()));
    EXPECT_EQ(1, S().mPlayerPing); // only "Ping 信息"
    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->PlayerPingInfoBox()));
    EXPECT_EQ(0, S().mPlayerPing); // neither
    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->PlayerPingBox()));
    EXPECT_EQ(2, S().mPlayerPing); // only "Ping"
    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->PlayerPingInfoBox()));
    EXPECT_EQ(3, S().mPlayerPing); // both
    EXPECT_EQ(3, S().mObsPing);

    // The observers' row writes only ObsPing.
    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->ObserverPingInfoBox()));
    EXPECT_EQ(2, S().mObsPing);
    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->ObserverPingBox()));
    EXPECT_EQ(0, S().mObsPing);
    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->ObserverPingInfoBox()));
    EXPECT_EQ(1, S().mObsPing);
    EXPECT_EQ(3, S().mPlayerPing);
}

TEST_F(SettingsPageTest, CommentaryBoxesTouchOnlyTheirOwnBits)
{
    WriteIni("[Analyzer]\nAnalyzerFlags=1023\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_EQ(1023, S().mAnalyzerFlags);

    // With 255: unchecking the map-signal box clears only 0x02; bit 0x01 stays.
    S().mAnalyzerFlags = 255;
    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->AnalyzerBox(0)));
    EXPECT_EQ(253, S().mAnalyzerFlags);
    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->AnalyzerBox(0)));
    EXPECT_EQ(255, S().mAnalyzerFlags);

    // Every box against its bit; bits 0x01 and above 0x80 are never touched.
    S().mAnalyzerFlags = 0x301;
    for (int i = 0; i < 7; ++i) {
        ASSERT_TRUE(mWindow->AnalyzerBox(i)->GetValue()) << i;
        ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->AnalyzerBox(i)));
        EXPECT_EQ(0x301, S().mAnalyzerFlags) << i; // cleared a bit that was already clear
        ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->AnalyzerBox(i)));
        EXPECT_EQ(0x301 | (0x02 << i), S().mAnalyzerFlags) << i;
        S().mAnalyzerFlags = 0x301;
    }
    EXPECT_EQ(SettingsAnalyzerFirstId + 6, mWindow->AnalyzerBox(6)->GetId());
    EXPECT_EQ("提示单位技能研究", Utf8(mWindow->AnalyzerBox(6)->GetLabel()));
}

TEST_F(SettingsPageTest, PlayRangeRadioButtonsSetBothSwitches)
{
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_TRUE(mWindow->LocalhostRadio()->GetValue());

    ASSERT_NO_FATAL_FAILURE(Choose(mWindow->CustomAddressRadio()));
    EXPECT_EQ(0, S().mUseBroadcast);
    EXPECT_EQ(0, S().mUseLocalhost);

    ASSERT_NO_FATAL_FAILURE(Choose(mWindow->BroadcastRadio()));
    EXPECT_EQ(1, S().mUseBroadcast);
    EXPECT_EQ(0, S().mUseLocalhost);

    ASSERT_NO_FATAL_FAILURE(Choose(mWindow->LocalhostRadio()));
    EXPECT_EQ(0, S().mUseBroadcast);
    EXPECT_EQ(1, S().mUseLocalhost);
}

TEST_F(SettingsPageTest, TextFieldsApplyTheirTextWhenTheFocusLeaves)
{
    ASSERT_NO_FATAL_FAILURE(Open());

    // Typed, left with Tab: applied then, not per keystroke.
    HintTextCtrl* bcx = mWindow->PromptField(ChatPromptBcx, 0);
    Click(bcx);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return wxWindow::FindFocus() == bcx; }));
    bcx->SelectAll();
    wxUIActionSimulator sim;
    sim.Text("Sys");
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return bcx->GetValue() == wxS("Sys"); }));
    EXPECT_EQ("BCX", S().mChatPrompts[ChatPromptBcx]);
    sim.Char(WXK_TAB);
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return S().mChatPrompts[ChatPromptBcx] == "Sys"; }));

    // Prompt fields keep their spaces.
    ASSERT_NO_FATAL_FAILURE(TypeInto(mWindow->PromptField(ChatPromptObs, 1), "  [o] "));
    EXPECT_EQ("  [o] ", S().mChatPromptPrefixes[ChatPromptObs]);

    // Nick fields are trimmed.
    ASSERT_NO_FATAL_FAILURE(TypeInto(mWindow->NickField(1), " nick2 "));
    EXPECT_EQ("nick2", S().mIRCNick2);
    EXPECT_EQ("nick2", Utf8(mWindow->NickField(1)->GetValue()));

    // The address field refuses keystrokes that cannot belong to a number.
    ASSERT_NO_FATAL_FAILURE(TypeInto(mWindow->CustomAddressField(), "10a.0.0x.7"));
    EXPECT_EQ("10.0.0.7", S().mCustomAddress);

    // Every field against its setting; texts are stored as GBK bytes.
    struct Field {
        HintTextCtrl* field;
        std::string* setting;
    };
    std::vector<Field> fields = {
        {mWindow->CustomAddressField(), &S().mCustomAddress},
        {mWindow->NickField(0), &S().mIRCNick1},
        {mWindow->NickField(1), &S().mIRCNick2},
        {mWindow->NickField(2), &S().mIRCNick3},
    };
    for (int source = 0; source < ChatPromptCount; ++source) {
        fields.push_back({mWindow->PromptField(source, 0), &S().mChatPrompts[source]});
        fields.push_back({mWindow->PromptField(source, 1), &S().mChatPromptPrefixes[source]});
        fields.push_back({mWindow->PromptField(source, 2), &S().mChatPromptPostfixes[source]});
    }
    for (size_t i = 0; i < fields.size(); ++i) {
        const std::string text = "值" + std::to_string(i);
        ASSERT_NO_FATAL_FAILURE(EditInto(fields[i].field, wxString::FromUTF8(text.c_str())));
        EXPECT_EQ(Gbk(text.c_str()), *fields[i].setting) << i;
        for (size_t j = 0; j < fields.size(); ++j) {
            if (j != i) {
                EXPECT_NE(Gbk(text.c_str()), *fields[j].setting) << i << " also changed " << j;
            }
        }
    }

    // In and out without an edit changes nothing, even when the setting changed behind the field.
    S().mChatPrompts[ChatPromptIrc] = "other";
    ASSERT_TRUE(Focus(mWindow->PromptField(ChatPromptIrc, 0)));
    ASSERT_TRUE(Focus(mPage->GetSaveButton()));
    EXPECT_EQ("other", S().mChatPrompts[ChatPromptIrc]);
}

TEST_F(SettingsPageTest, SaveWritesThePageKeysAndNoOthers)
{
    WriteIni("[Misc]\nLastServer=relay.example\nLastPort=4000\nGamesPath=/tmp/games\nPassword=secret\n"
             "[GUI]\nWindowWidth=700\n");
    ASSERT_NO_FATAL_FAILURE(Open());

    // Changes through the controls...
    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->PlayerChatBox()));
    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->QuickStartBox()));
    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->PlayerPingBox()));
    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->AnalyzerBox(0)));
    ASSERT_NO_FATAL_FAILURE(Choose(mWindow->CustomAddressRadio()));
    ASSERT_NO_FATAL_FAILURE(TypeInto(mWindow->CustomAddressField(), "192.168.0.5"));
    ASSERT_NO_FATAL_FAILURE(EditInto(mWindow->PromptField(ChatPromptWiz, 0), wxString::FromUTF8("精灵")));
    ASSERT_NO_FATAL_FAILURE(EditInto(mWindow->NickField(0), wxS("n1")));
    // ...and settings the page does not save, changed in memory.
    S().mPassword = "changed";
    S().mLastServer = "elsewhere";
    S().mLastPort = 1;
    S().mGamesPath = wxS("/elsewhere");
    S().mSessionPort = 1;
    S().mPlayAllGames = 1;
    S().mIRCServerName = "irc.elsewhere";
    S().mVerbose = 7;

    const std::map<std::string, std::string> before = ParseIni(kConfigFileName);
    ASSERT_NO_FATAL_FAILURE(Click(mPage->GetSaveButton()));
    const std::map<std::string, std::string> after = ParseIni(kConfigFileName);
    ASSERT_NE(before, after) << "the click saved";

    const std::map<std::string, std::string> expected = {
        {"Misc/ChatPrompt", "[Brawlcast] "},
        {"Misc/ChangeColors", "1"},
        {"Misc/ConnectAtStart", "0"},
        {"Misc/PlayerChat", "0"},
        {"Misc/ObserverChat", "1"},
        {"Misc/QuickStart", "0"},
        {"Net/UseBroadcast", "0"},
        {"Net/UseLocalhost", "0"},
        {"Net/CustomAddress", "192.168.0.5"},
        {"Irc/IRCNick1", "n1"},
        {"Irc/EchoOwnIRCChat", "1"},
        {"Analyzer/PlayerPing", "1"},
        {"Analyzer/ObsPing", "3"},
        {"Analyzer/AnalyzerFlags", "253"},
        {"Chat/ChangePlayerNames", "1"},
        {"Chat/PromptBcx", "BCX"},
        {"Chat/PromptBcxPrefix", ""},
        {"Chat/PromptBcxPostfix", ""},
        {"Chat/PromptObs", "Obs"},
        {"Chat/PromptObsPrefix", "         "},
        {"Chat/PromptObsPostfix", ""},
        {"Chat/PromptIrc", "Irc"},
        {"Chat/PromptIrcPrefix", ""},
        {"Chat/PromptIrcPostfix", ""},
        {"Chat/PromptWiz", Gbk("精灵")},
        {"Chat/PromptWizPrefix", " <<"},
        {"Chat/PromptWizPostfix", " >>"},
    };
    for (const auto& entry : expected) {
        auto found = after.find(entry.first);
        ASSERT_NE(after.end(), found) << entry.first;
        EXPECT_EQ(entry.second, found->second) << entry.first;
    }
    EXPECT_EQ(S().mIRCNick2, after.at("Irc/IRCNick2"));
    EXPECT_EQ(S().mIRCNick3, after.at("Irc/IRCNick3"));

    // Every other key is as it was; the only new key is ChatPrompt.
    for (const auto& entry : after) {
        if (expected.count(entry.first) || entry.first.rfind("Irc/IRCNick", 0) == 0)
            continue;
        auto old = before.find(entry.first);
        ASSERT_NE(before.end(), old) << "new key " << entry.first;
        EXPECT_EQ(old->second, entry.second) << entry.first;
    }
    EXPECT_EQ(before.size() + (before.count("Misc/ChatPrompt") ? 0 : 1), after.size());
    EXPECT_EQ("relay.example", after.at("Misc/LastServer"));
    EXPECT_EQ("4000", after.at("Misc/LastPort"));
    EXPECT_EQ("/tmp/games", after.at("Misc/GamesPath"));
    EXPECT_EQ("secret", after.at("Misc/Password"));
    EXPECT_EQ("700", after.at("GUI/WindowWidth"));
    EXPECT_EQ(0u, after.count("Misc/Verbose"));
}

TEST_F(SettingsPageTest, SaveWritesTheNicksAsHeldInMemory)
{
    WriteIni("[Irc]\nIRCNick1=first.name\n");
    ASSERT_NO_FATAL_FAILURE(Open());
    EXPECT_EQ("first.name", ParseIni(kConfigFileName).at("Irc/IRCNick1"));
    Save();
    EXPECT_EQ("first_name", ParseIni(kConfigFileName).at("Irc/IRCNick1"));
}

TEST_F(SettingsPageTest, SaveWithoutAConfigurationObjectDoesNothing)
{
    ASSERT_NO_FATAL_FAILURE(Open());
    const std::string before = ReadFile(kConfigFileName);
    ASSERT_FALSE(before.empty());
    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->PlayerChatBox()));

    wxConfigBase* config = wxConfigBase::Set(nullptr);
    ASSERT_NE(nullptr, config);
    Save();
    wxConfigBase::Set(config);
    EXPECT_EQ(before, ReadFile(kConfigFileName));

    Save();
    EXPECT_EQ("0", ParseIni(kConfigFileName).at("Misc/PlayerChat"));
}

TEST_F(SettingsPageTest, SettingsChangedNotificationReloadsSwitchesAddressAndNicks)
{
    ASSERT_NO_FATAL_FAILURE(Open());
    ASSERT_TRUE(mWindow->PlayerChatBox()->GetValue());

    // As a chat command does it: change the settings, then notify.
    S().mPlayerChat = 0;
    S().mObserverChat = 0;
    S().mEchoOwnIRCChat = 0;
    S().mPlayerPing = 1;
    S().mObsPing = 2;
    S().mAnalyzerFlags = 0x11;
    S().mChangeColors = 0;
    S().mConnectAtStart = 1;
    S().mQuickStart = 0;
    S().mChangePlayerNames = 0;
    S().mUseBroadcast = 0;
    S().mUseLocalhost = 0;
    S().mCustomAddress = "10.1.2.3";
    S().mIRCNick1 = Gbk("新昵称");
    S().mIRCNick3 = "n3";
    S().mChatPrompts[ChatPromptBcx] = "changed";
    mCore->NotifySettingsChanged();

    // Queued, not called directly.
    EXPECT_TRUE(mWindow->PlayerChatBox()->GetValue());
    ASSERT_TRUE(bcxtest::PumpUntil([&] { return !mWindow->PlayerChatBox()->GetValue(); }));

    EXPECT_FALSE(mWindow->ObserverChatBox()->GetValue());
    EXPECT_FALSE(mWindow->EchoOwnIrcChatBox()->GetValue());
    EXPECT_FALSE(mWindow->PlayerPingBox()->GetValue());
    EXPECT_TRUE(mWindow->PlayerPingInfoBox()->GetValue());
    EXPECT_TRUE(mWindow->ObserverPingBox()->GetValue());
    EXPECT_FALSE(mWindow->ObserverPingInfoBox()->GetValue());
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(i == 3, mWindow->AnalyzerBox(i)->GetValue()) << i; // 0x10
    EXPECT_FALSE(mWindow->ChangeColorsBox()->GetValue());
    EXPECT_TRUE(mWindow->ConnectAtStartBox()->GetValue());
    EXPECT_FALSE(mWindow->QuickStartBox()->GetValue());
    EXPECT_FALSE(mWindow->ChangePlayerNamesBox()->GetValue());
    EXPECT_TRUE(mWindow->CustomAddressRadio()->GetValue());
    EXPECT_EQ("10.1.2.3", Utf8(mWindow->CustomAddressField()->GetValue()));
    EXPECT_EQ("新昵称", Utf8(mWindow->NickField(0)->GetValue()));
    EXPECT_EQ("n3", Utf8(mWindow->NickField(2)->GetValue()));
    // The prompt fields keep what they show.
    EXPECT_EQ("BCX", Utf8(mWindow->PromptField(ChatPromptBcx, 0)->GetValue()));

    // Reloading changed no setting by itself, and a reloaded field left without an edit sends nothing.
    EXPECT_EQ(0x11, S().mAnalyzerFlags);
    EXPECT_EQ(1, S().mPlayerPing);
    S().mCustomAddress = "behind";
    ASSERT_TRUE(Focus(mWindow->CustomAddressField()));
    ASSERT_TRUE(Focus(mPage->GetSaveButton()));
    EXPECT_EQ("behind", S().mCustomAddress);
    EXPECT_EQ("changed", S().mChatPrompts[ChatPromptBcx]);
}

TEST_F(SettingsPageTest, PageOutlivingTheCoreStaysQuiet)
{
    ASSERT_NO_FATAL_FAILURE(Open());
    mCore->NotifySettingsChanged();
    ClientCore::Get(true);
    mCore = nullptr;
    ASSERT_EQ(nullptr, ClientCore::Get(false));

    // The queued notification, a click, an edit and Save find no core and do nothing.
    const bool before = mWindow->PlayerChatBox()->GetValue();
    bcxtest::PumpFor(50);
    ASSERT_NO_FATAL_FAILURE(Toggle(mWindow->PlayerChatBox()));
    EXPECT_NE(before, mWindow->PlayerChatBox()->GetValue());
    ASSERT_NO_FATAL_FAILURE(EditInto(mWindow->NickField(0), wxS("late")));
    const std::string file = ReadFile(kConfigFileName);
    Save();
    EXPECT_EQ(file, ReadFile(kConfigFileName));
    // TearDown destroys the page with the core gone.
}

// The controls of one group box, their labels fully shown, inside the frame line and not on top of each
// other.
void ExpectLaidOutCleanly(wxStaticBox* box)
{
    // Children are placed below the title; the frame line takes the outermost pixels.
    int top = 0, other = 0;
    box->GetBordersForSizer(&top, &other);
    const int frameLine = 2;
    const wxSize client(box->GetSize().x - 2 * other - frameLine, box->GetSize().y - top - other - frameLine);
    std::vector<wxWindow*> children;
    for (wxWindow* child : box->GetChildren())
        children.push_back(child);
    ASSERT_FALSE(children.empty()) << Utf8(box->GetLabel());
    for (size_t i = 0; i < children.size(); ++i) {
        wxWindow* a = children[i];
        const wxRect ra = a->GetRect();
        EXPECT_GE(ra.x, 0) << Utf8(a->GetLabel());
        EXPECT_GE(ra.y, 0) << Utf8(a->GetLabel());
        EXPECT_LE(ra.GetRight(), client.x) << Utf8(a->GetLabel());
        EXPECT_LE(ra.GetBottom(), client.y) << Utf8(a->GetLabel());
        // Text controls may be narrower than their best size; labels and boxes may not.
        if (!dynamic_cast<wxTextCtrl*>(a)) {
            EXPECT_GE(ra.width, a->GetBestSize().x) << Utf8(a->GetLabel());
        }
        EXPECT_GE(ra.height, a->GetBestSize().y) << Utf8(a->GetLabel());
        for (size_t j = i + 1; j < children.size(); ++j)
            EXPECT_FALSE(ra.Intersects(children[j]->GetRect()))
                << Utf8(a->GetLabel()) << " overlaps " << Utf8(children[j]->GetLabel());
    }
}

TEST_F(SettingsPageTest, LayoutShowsEveryLabelWithoutOverlapAndScreenshot)
{
    ASSERT_NO_FATAL_FAILURE(Open());
    std::vector<wxStaticBox*> boxes;
    for (wxWindow* child : mWindow->GetChildren())
        if (auto* box = dynamic_cast<wxStaticBox*>(child))
            boxes.push_back(box);
    ASSERT_EQ(6u, boxes.size());
    const std::vector<std::string> titles = {" 显示 / 隐藏 ( 即时生效 )", " 解说精灵 ( 即时生效 )", " 常规",
                                             " 信息提示", " 播放范围 ", " IRC "};
    // The labels of each group, in keyboard order (text fields have none).
    const std::vector<std::vector<std::string>> labels = {
        {"玩家: ", "聊天", "Ping", "Ping 信息", "观看者: ", "聊天", "Ping", "Ping 信息"},
        {"提示英雄技能升级", "提示新建造建筑 ( 轻微过滤 )", "提示单位训练 ( 过滤 )", "提示单位技能研究", "提示购物动作",
         "提示资源调动和其他", "显示小地图信号"},
        {"设置玩家颜色为友好", "程序启动时连接到服务器", "加入游戏后自动开始", "改变观看者的名称以便区分聊天内容"},
        {"提示词", "前缀", "后缀", "系统:     ", "观看者聊天:    ", "IRC 聊天: ", "精灵: "},
        {"仅限本机", "本地网络的所有机器", "自定义 IP 地址: "},
        {"昵称:", "1st: ", "     2nd: ", "     3rd: ", "显示自己的 IRC 聊天信息"},
    };
    for (size_t i = 0; i < boxes.size(); ++i) {
        EXPECT_EQ(titles[i], Utf8(boxes[i]->GetLabel()));
        std::vector<std::string> shown;
        for (wxWindow* child : boxes[i]->GetChildren()) {
            EXPECT_EQ(nullptr, child->GetToolTip());
            if (!dynamic_cast<wxTextCtrl*>(child))
                shown.push_back(Utf8(child->GetLabel()));
        }
        EXPECT_EQ(labels[i], shown) << titles[i];
        ExpectLaidOutCleanly(boxes[i]);
        if (i > 0) {
            EXPECT_GE(boxes[i]->GetRect().y, boxes[i - 1]->GetRect().GetBottom()) << titles[i];
        }
    }
    // The save button sits below the settings window.
    EXPECT_GE(mPage->GetSaveButton()->GetRect().y, mWindow->GetRect().GetBottom());

    const std::string path = bcxtest::SaveScreenshot(mFrame, "settings-page");
    EXPECT_FALSE(path.empty());
}

} // namespace
