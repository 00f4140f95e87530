#include "ui/SettingsPage.h"

#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/config.h>
#include <wx/radiobut.h>
#include <wx/sizer.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/valtext.h>

#include "core/ClientCore.h"
#include "core/ClientEvent.h"
#include "core/ClientSettings.h"
#include "platform/TextCodec.h"
#include "ui/HintTextCtrl.h"

namespace {

// The first id of each chat source's prompt row (prompt, prefix, postfix follow), by ChatPromptSource.
constexpr int kPromptRowIds[ChatPromptCount] = {SettingsPromptBcxId, SettingsPromptObsId, SettingsPromptIrcId,
                                                SettingsPromptWizId};

// The commentary check boxes in the order they are shown, as offsets from SettingsAnalyzerFirstId.
constexpr int kAnalyzerShowOrder[7] = {1, 2, 3, 6, 4, 5, 0};

const wxStringCharType* const kAnalyzerLabels[7] = {
    wxS("显示小地图信号"),             // 0x02
    wxS("提示英雄技能升级"),           // 0x04
    wxS("提示新建造建筑 ( 轻微过滤 )"), // 0x08
    wxS("提示单位训练 ( 过滤 )"),      // 0x10
    wxS("提示购物动作"),               // 0x20
    wxS("提示资源调动和其他"),         // 0x40
    wxS("提示单位技能研究"),           // 0x80
};

// Fields are as tall as the toolkit's entries need to be to show their text.
constexpr int kFieldHeight = wxDefaultCoord;

wxCheckBox* NewCheckBox(wxWindow* parent, int id, const wxString& label, const wxSize& size = wxDefaultSize)
{
    return new wxCheckBox(parent, id, label, wxDefaultPosition, size, 0, wxDefaultValidator);
}

wxStaticText* NewLabel(wxWindow* parent, const wxString& text, const wxSize& size = wxDefaultSize)
{
    return new wxStaticText(parent, wxID_ANY, text, wxDefaultPosition, size);
}

// The ping value of a row: 2 for "Ping", plus 1 for "Ping 信息".
int32_t PingValue(const wxCheckBox* ping, const wxCheckBox* pingInfo)
{
    return (ping->GetValue() ? 2 : 0) + (pingInfo->GetValue() ? 1 : 0);
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// SettingsWindow

wxBEGIN_EVENT_TABLE(SettingsWindow, wxScrolledWindow)
    EVT_COMMAND_RANGE(SettingsPlayerChatId, SettingsChangePlayerNamesId, wxEVT_CHECKBOX,
                      SettingsWindow::OnControlChanged)
    EVT_CHECKBOX(SettingsEchoOwnIrcChatId, SettingsWindow::OnControlChanged)
    EVT_COMMAND_RANGE(SettingsAnalyzerFirstId, SettingsAnalyzerLastId, wxEVT_CHECKBOX,
                      SettingsWindow::OnControlChanged)
    EVT_RADIOBUTTON(SettingsPlayRangeId, SettingsWindow::OnControlChanged)
    EVT_HINT_TEXT_COMMIT_RANGE(SettingsCustomAddressId, SettingsIrcNick3Id, SettingsWindow::OnControlChanged)
    EVT_HINT_TEXT_COMMIT_RANGE(SettingsPromptBcxId, SettingsPromptWizId + 2, SettingsWindow::OnControlChanged)
    EVT_CLIENT_EVENT(ClientEventSettings, SettingsWindow::LoadFromCore)
wxEND_EVENT_TABLE()

SettingsWindow::SettingsWindow(wxWindow* parent)
    // A small real initial size: GTK complains about scrollbars laid out in a window of no size.
    : wxScrolledWindow(parent, wxID_ANY, wxDefaultPosition, wxSize(200, 80),
                       wxHSCROLL | wxVSCROLL | wxTAB_TRAVERSAL | wxSTATIC_BORDER)
{
    SetScrollRate(0, 5);

    ClientCore* core = ClientCore::Get(false);
    // Late construction (after the core is gone) shows the defaults and registers nowhere.
    const ClientSettings defaults;
    const ClientSettings& s = core ? core->Settings() : defaults;

    // The controls are children of their group boxes, created group by group in the order they are
    // shown, which is also their keyboard order.
    auto* showBox = new wxStaticBoxSizer(wxVERTICAL, this, wxS(" 显示 / 隐藏 ( 即时生效 )"));
    wxWindow* show = showBox->GetStaticBox();
    auto* commentaryBox = new wxStaticBoxSizer(wxVERTICAL, this, wxS(" 解说精灵 ( 即时生效 )"));
    wxWindow* commentary = commentaryBox->GetStaticBox();
    auto* generalBox = new wxStaticBoxSizer(wxVERTICAL, this, wxS(" 常规"));
    wxWindow* general = generalBox->GetStaticBox();
    auto* promptBox = new wxStaticBoxSizer(wxHORIZONTAL, this, wxS(" 信息提示"));
    wxWindow* prompts = promptBox->GetStaticBox();
    auto* rangeBox = new wxStaticBoxSizer(wxHORIZONTAL, this, wxS(" 播放范围 "));
    wxWindow* range = rangeBox->GetStaticBox();
    auto* ircBox = new wxStaticBoxSizer(wxVERTICAL, this, wxS(" IRC "));
    wxWindow* irc = ircBox->GetStaticBox();

    // Group 1: show / hide.
    wxStaticText* playersLabel = NewLabel(show, wxS("玩家: "), wxSize(100, -1));
    mPlayerChat = NewCheckBox(show, SettingsPlayerChatId, wxS("聊天"), wxSize(100, -1));
    mPlayerPing = NewCheckBox(show, SettingsPlayerPingId, wxS("Ping"), wxSize(100, -1));
    mPlayerPingInfo = NewCheckBox(show, SettingsPlayerPingId, wxS("Ping 信息"));
    wxStaticText* observersLabel = NewLabel(show, wxS("观看者: "), wxSize(100, -1));
    mObserverChat = NewCheckBox(show, SettingsObserverChatId, wxS("聊天"), wxSize(100, -1));
    mObserverPing = NewCheckBox(show, SettingsObserverPingId, wxS("Ping"), wxSize(100, -1));
    mObserverPingInfo = NewCheckBox(show, SettingsObserverPingId, wxS("Ping 信息"));

    // Group 2: commentary.
    for (int offset : kAnalyzerShowOrder)
        mAnalyzer[offset] = NewCheckBox(commentary, SettingsAnalyzerFirstId + offset, wxString(kAnalyzerLabels[offset]));

    // Group 3: general.
    mChangeColors = NewCheckBox(general, SettingsChangeColorsId, wxS("设置玩家颜色为友好"));
    mConnectAtStart = NewCheckBox(general, SettingsConnectAtStartId, wxS("程序启动时连接到服务器"));
    mQuickStart = NewCheckBox(general, SettingsQuickStartId, wxS("加入游戏后自动开始"));
    mChangePlayerNames = NewCheckBox(general, SettingsChangePlayerNamesId, wxS("改变观看者的名称以便区分聊天内容"));

    // Group 4: chat prompts, with their labels, row by row as shown.
    auto* grid = new wxFlexGridSizer(4, 2, 10);
    grid->Add(10, 0);
    grid->Add(NewLabel(prompts, wxS("提示词")));
    grid->Add(NewLabel(prompts, wxS("前缀")));
    grid->Add(NewLabel(prompts, wxS("后缀")));
    struct PromptRow {
        int source;
        const wxStringCharType* label;
    };
    const PromptRow rows[ChatPromptCount] = {
        {ChatPromptBcx, wxS("系统:     ")},
        {ChatPromptObs, wxS("观看者聊天:    ")},
        {ChatPromptIrc, wxS("IRC 聊天: ")},
        {ChatPromptWiz, wxS("精灵: ")},
    };
    const int widths[3] = {50, 150, 50};
    for (const PromptRow& row : rows) {
        grid->Add(NewLabel(prompts, wxString(row.label)), 0, wxLEFT | wxALIGN_CENTER_VERTICAL, 5);
        for (int part = 0; part < kChatPromptParts; ++part) {
            HintTextCtrl* field = new HintTextCtrl(prompts, kPromptRowIds[row.source] + part,
                                                   bcx::FromGbk(ChatPromptPart(s, row.source, part)),
                                                   wxDefaultPosition, wxSize(widths[part], kFieldHeight),
                                                   wxBORDER_SUNKEN | HintTextKeepSpaces, wxDefaultValidator);
            mPrompts[row.source][part] = field;
            grid->Add(field);
        }
    }
    // The toolkit's group frame leaves no room below its last row: keep the fields off the frame line.
    promptBox->Add(grid, 0, wxBOTTOM, 5);

    // Group 5: play range.
    mLocalhost = new wxRadioButton(range, SettingsPlayRangeId, wxS("仅限本机"), wxDefaultPosition, wxDefaultSize,
                                   wxRB_GROUP);
    mBroadcast = new wxRadioButton(range, SettingsPlayRangeId, wxS("本地网络的所有机器"));
    mCustom = new wxRadioButton(range, SettingsPlayRangeId, wxS("自定义 IP 地址: "));
    mCustomAddress = new HintTextCtrl(range, SettingsCustomAddressId, bcx::FromGbk(s.mCustomAddress), wxDefaultPosition,
                                      wxSize(100, kFieldHeight), wxBORDER_SUNKEN, wxTextValidator(wxFILTER_NUMERIC));

    // Group 6: IRC.
    wxStaticText* nickLabel = NewLabel(irc, wxS("昵称:"), wxSize(100, -1));
    const wxStringCharType* const nickLabels[3] = {wxS("1st: "), wxS("     2nd: "), wxS("     3rd: ")};
    const std::string* nicks[3] = {&s.mIRCNick1, &s.mIRCNick2, &s.mIRCNick3};
    wxStaticText* nickLabelItems[3];
    for (int i = 0; i < 3; ++i) {
        nickLabelItems[i] = NewLabel(irc, wxString(nickLabels[i]));
        mNicks[i] = new HintTextCtrl(irc, SettingsIrcNick1Id + i, bcx::FromGbk(*nicks[i]), wxDefaultPosition,
                                     wxSize(100, kFieldHeight), wxBORDER_SUNKEN, wxDefaultValidator);
    }
    mEchoOwnIrcChat = NewCheckBox(irc, SettingsEchoOwnIrcChatId, wxS("显示自己的 IRC 聊天信息"));

    ClientEvent initial(0, 0, wxString());
    LoadFromCore(initial);

    // Layout.
    auto* playersRow = new wxBoxSizer(wxHORIZONTAL);
    // Labels are centred on the row: the toolkit's check boxes are taller than its labels.
    playersRow->Add(playersLabel, 0, wxALIGN_CENTER_VERTICAL);
    playersRow->Add(mPlayerChat);
    playersRow->Add(mPlayerPing);
    playersRow->Add(mPlayerPingInfo);
    auto* observersRow = new wxBoxSizer(wxHORIZONTAL);
    observersRow->Add(observersLabel, 0, wxALIGN_CENTER_VERTICAL);
    observersRow->Add(mObserverChat);
    observersRow->Add(mObserverPing);
    observersRow->Add(mObserverPingInfo);
    showBox->Add(playersRow, 0, wxLEFT | wxRIGHT | wxTOP, 5);
    showBox->Add(observersRow, 0, wxALL, 5);

    for (int offset : kAnalyzerShowOrder)
        commentaryBox->Add(mAnalyzer[offset], 0, wxLEFT | wxRIGHT | wxBOTTOM, 5);

    generalBox->Add(mChangeColors, 0, wxALL, 5);
    generalBox->Add(mConnectAtStart, 0, wxLEFT | wxRIGHT | wxBOTTOM, 5);
    generalBox->Add(mQuickStart, 0, wxLEFT | wxRIGHT | wxBOTTOM, 5);
    generalBox->Add(mChangePlayerNames, 0, wxLEFT | wxRIGHT | wxBOTTOM, 5);

    rangeBox->Add(mLocalhost, 0, wxLEFT | wxRIGHT | wxTOP, 5);
    rangeBox->Add(20, 5);
    rangeBox->Add(mBroadcast, 0, wxLEFT | wxRIGHT | wxTOP, 5);
    rangeBox->Add(20, 5);
    auto* customRow = new wxBoxSizer(wxHORIZONTAL);
    customRow->Add(mCustom, 0, wxALIGN_CENTER_VERTICAL);
    customRow->Add(mCustomAddress);
    rangeBox->Add(customRow, 0, wxALL, 5);

    auto* nickRow = new wxBoxSizer(wxHORIZONTAL);
    nickRow->Add(nickLabel, 0, wxALIGN_CENTER_VERTICAL);
    for (int i = 0; i < 3; ++i) {
        nickRow->Add(nickLabelItems[i], 0, wxALIGN_CENTER_VERTICAL);
        nickRow->Add(mNicks[i]);
    }
    ircBox->Add(nickRow, 0, wxALL, 5);
    ircBox->Add(mEchoOwnIrcChat, 0, wxLEFT | wxRIGHT | wxBOTTOM, 5);

    auto* outer = new wxBoxSizer(wxVERTICAL);
    for (wxStaticBoxSizer* box : {showBox, commentaryBox, generalBox, promptBox, rangeBox, ircBox})
        outer->Add(box, 0, wxEXPAND | wxALL, 5);

    SetAutoLayout(true);
    SetSizer(outer);
    outer->Fit(this);

    if (core)
        core->SetSettingsTarget(this);
}

SettingsWindow::~SettingsWindow()
{
    // No notification may be queued on a destroyed window.
    ClientCore* core = ClientCore::Get(false);
    if (core && core->GetSettingsTarget() == this)
        core->SetSettingsTarget(nullptr);
}

void SettingsWindow::OnControlChanged(wxCommandEvent& event)
{
    ClientCore* core = ClientCore::Get(false);
    if (!core)
        return;
    ClientSettings& s = core->Settings();
    const int id = event.GetId();
    const int32_t checked = event.IsChecked() ? 1 : 0;

    switch (id) {
    case SettingsPlayerChatId:
        s.mPlayerChat = checked;
        return;
    case SettingsObserverChatId:
        s.mObserverChat = checked;
        return;
    case SettingsChangeColorsId:
        s.mChangeColors = checked;
        return;
    case SettingsConnectAtStartId:
        s.mConnectAtStart = checked;
        return;
    case SettingsQuickStartId:
        s.mQuickStart = checked;
        return;
    case SettingsChangePlayerNamesId:
        s.mChangePlayerNames = checked;
        return;
    case SettingsEchoOwnIrcChatId:
        s.mEchoOwnIRCChat = checked;
        return;
    case SettingsPlayerPingId:
        // Either box of the row recomputes the value from both.
        s.mPlayerPing = PingValue(mPlayerPing, mPlayerPingInfo);
        return;
    case SettingsObserverPingId:
        s.mObsPing = PingValue(mObserverPing, mObserverPingInfo);
        return;
    case SettingsPlayRangeId:
        s.mUseBroadcast = mBroadcast->GetValue() ? 1 : 0;
        s.mUseLocalhost = mLocalhost->GetValue() ? 1 : 0;
        return;
    case SettingsCustomAddressId:
        s.mCustomAddress = bcx::ToGbk(event.GetString());
        return;
    case SettingsIrcNick1Id:
        s.mIRCNick1 = bcx::ToGbk(event.GetString());
        return;
    case SettingsIrcNick2Id:
        s.mIRCNick2 = bcx::ToGbk(event.GetString());
        return;
    case SettingsIrcNick3Id:
        s.mIRCNick3 = bcx::ToGbk(event.GetString());
        return;
    default:
        break;
    }

    for (int source = 0; source < ChatPromptCount; ++source) {
        const int part = id - kPromptRowIds[source];
        if (part < 0 || part >= kChatPromptParts)
            continue;
        ChatPromptPart(s, source, part) = bcx::ToGbk(event.GetString());
        return;
    }

    if (id >= SettingsAnalyzerFirstId && id <= SettingsAnalyzerLastId) {
        const int32_t bit = 0x02 << (id - SettingsAnalyzerFirstId);
        if (checked)
            s.mAnalyzerFlags |= bit;
        else
            s.mAnalyzerFlags &= ~bit;
    }
}

void SettingsWindow::LoadFromCore(ClientEvent& /*event*/)
{
    ClientCore* core = ClientCore::Get(false);
    if (!core)
        return;
    const ClientSettings& s = core->Settings();

    // Display only: no commit event, the fields' committed texts stay.
    mCustomAddress->ChangeValue(bcx::FromGbk(s.mCustomAddress));
    mNicks[0]->ChangeValue(bcx::FromGbk(s.mIRCNick1));
    mNicks[1]->ChangeValue(bcx::FromGbk(s.mIRCNick2));
    mNicks[2]->ChangeValue(bcx::FromGbk(s.mIRCNick3));

    mEchoOwnIrcChat->SetValue(s.mEchoOwnIRCChat != 0);
    mPlayerChat->SetValue(s.mPlayerChat != 0);
    mObserverChat->SetValue(s.mObserverChat != 0);

    mPlayerPing->SetValue((s.mPlayerPing & 2) != 0);
    mPlayerPingInfo->SetValue((s.mPlayerPing & 1) != 0);
    mObserverPing->SetValue((s.mObsPing & 2) != 0);
    mObserverPingInfo->SetValue((s.mObsPing & 1) != 0);

    for (int i = 0; i < 7; ++i)
        mAnalyzer[i]->SetValue((s.mAnalyzerFlags & (0x02 << i)) != 0);

    mChangeColors->SetValue(s.mChangeColors != 0);
    mConnectAtStart->SetValue(s.mConnectAtStart != 0);
    mQuickStart->SetValue(s.mQuickStart != 0);
    mChangePlayerNames->SetValue(s.mChangePlayerNames != 0);

    if (s.mUseBroadcast != 0)
        mBroadcast->SetValue(true);
    else if (s.mUseLocalhost != 0)
        mLocalhost->SetValue(true);
    else
        mCustom->SetValue(true);
}

// ---------------------------------------------------------------------------------------------------
// SettingsPage

wxBEGIN_EVENT_TABLE(SettingsPage, wxPanel)
    EVT_BUTTON(SettingsSaveId, SettingsPage::OnSave)
wxEND_EVENT_TABLE()

SettingsPage::SettingsPage(wxWindow* parent)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER)
{
    mSettingsWindow = new SettingsWindow(this);
    mSaveButton = new wxButton(this, SettingsSaveId, wxS("  保存设置 "), wxDefaultPosition, wxDefaultSize, 0,
                               wxDefaultValidator);

    auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);
    buttonRow->Add(150, 0);
    buttonRow->Add(mSaveButton, 1, wxALIGN_CENTER | wxLEFT | wxRIGHT | wxBOTTOM, 5);
    buttonRow->Add(150, 0);

    auto* column = new wxBoxSizer(wxVERTICAL);
    column->Add(mSettingsWindow, 1, wxEXPAND | wxALL, 5);
    // (Centring has no effect on an expanded item.)
    column->Add(buttonRow, 0, wxEXPAND | wxLEFT | wxRIGHT, 5);

    SetAutoLayout(true);
    SetSizer(column);
    column->Fit(this);
}

SettingsPage::~SettingsPage() = default;

void SettingsPage::OnSave(wxCommandEvent& /*event*/)
{
    wxConfigBase* config = wxConfigBase::Get(false);
    ClientCore* core = ClientCore::Get(false);
    if (!config || !core)
        return;
    const ClientSettings& s = core->Settings();
    auto writeInt = [config](const char* key, int32_t value) {
        config->Write(wxString::FromUTF8(key), static_cast<long>(value));
    };
    auto writeText = [config](const char* key, const std::string& value) {
        config->Write(wxString::FromUTF8(key), bcx::FromGbk(value));
    };

    config->SetPath(wxS("/Misc"));
    writeText("ChatPrompt", gChatPrompt);
    writeInt("ChangeColors", s.mChangeColors);
    writeInt("ConnectAtStart", s.mConnectAtStart);
    writeInt("PlayerChat", s.mPlayerChat);
    writeInt("ObserverChat", s.mObserverChat);
    writeInt("QuickStart", s.mQuickStart);

    config->SetPath(wxS("/Net"));
    writeInt("UseBroadcast", s.mUseBroadcast);
    writeInt("UseLocalhost", s.mUseLocalhost);
    writeText("CustomAddress", s.mCustomAddress);

    config->SetPath(wxS("/Irc"));
    writeText("IRCNick1", s.mIRCNick1);
    writeText("IRCNick2", s.mIRCNick2);
    writeText("IRCNick3", s.mIRCNick3);
    writeInt("EchoOwnIRCChat", s.mEchoOwnIRCChat);

    config->SetPath(wxS("/Analyzer"));
    writeInt("PlayerPing", s.mPlayerPing);
    writeInt("ObsPing", s.mObsPing);
    writeInt("AnalyzerFlags", s.mAnalyzerFlags);

    config->SetPath(wxS("/Chat"));
    writeInt("ChangePlayerNames", s.mChangePlayerNames);
    for (int source = 0; source < ChatPromptCount; ++source)
        for (int part = 0; part < kChatPromptParts; ++part)
            writeText(ChatPromptKey(source, part).c_str(), ChatPromptPart(s, source, part));

    config->SetPath(wxS("/"));
    config->Flush(false);
}
