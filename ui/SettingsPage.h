#pragma once
// The Settings page of the main window's notebook. Every control writes its change into ClientCore's
// ClientSettings the moment the user makes it; the Save button writes the page's settings (and only
// those) to the configuration file. The scrolled settings window inside the page is ClientCore's
// settings target and reloads its switches, address and nicks on ClientEvent 1020.

#include <wx/panel.h>
#include <wx/scrolwin.h>

class ClientEvent;
class HintTextCtrl;
class wxButton;
class wxCheckBox;
class wxCommandEvent;
class wxRadioButton;

// Control ids of the settings page and its settings window.
enum SettingsControlId : int {
    SettingsSaveId = 1000,
    SettingsPlayerChatId = 1001,
    SettingsPlayerPingId = 1002,    // both boxes of the players' ping row
    SettingsObserverChatId = 1003,
    SettingsObserverPingId = 1004,  // both boxes of the observers' ping row
    SettingsChangeColorsId = 1005,
    SettingsConnectAtStartId = 1006,
    SettingsQuickStartId = 1007,
    SettingsChangePlayerNamesId = 1008,
    SettingsPlayRangeId = 1009,     // the three radio buttons
    SettingsCustomAddressId = 1010,
    SettingsIrcNick1Id = 1011,
    SettingsIrcNick2Id = 1012,
    SettingsIrcNick3Id = 1013,
    SettingsEchoOwnIrcChatId = 1014,
    SettingsPromptBcxId = 1015,     // prompt, prefix, postfix: 1015-1017
    SettingsPromptIrcId = 1018,     // 1018-1020
    SettingsPromptObsId = 1021,     // 1021-1023
    SettingsPromptWizId = 1024,     // 1024-1026
    SettingsAnalyzerFirstId = 1027, // 1027-1033: AnalyzerFlags bits 0x02 to 0x80
    SettingsAnalyzerLastId = 1033,
};

class SettingsWindow : public wxScrolledWindow {
public:
    explicit SettingsWindow(wxWindow* parent);
    ~SettingsWindow() override;

    // Applies one control's change to ClientSettings.
    void OnControlChanged(wxCommandEvent& event);
    // Sets every check box, the radio group, the custom-address field and the nick fields from
    // ClientSettings (not the prompt fields). The event's fields are not used.
    void LoadFromCore(ClientEvent& event);

    // The controls, for the page's owner and tests.
    wxCheckBox* PlayerChatBox() const { return mPlayerChat; }
    wxCheckBox* PlayerPingBox() const { return mPlayerPing; }
    wxCheckBox* PlayerPingInfoBox() const { return mPlayerPingInfo; }
    wxCheckBox* ObserverChatBox() const { return mObserverChat; }
    wxCheckBox* ObserverPingBox() const { return mObserverPing; }
    wxCheckBox* ObserverPingInfoBox() const { return mObserverPingInfo; }
    // index 0-6: AnalyzerFlags bit 0x02 << index (ids 1027 to 1033).
    wxCheckBox* AnalyzerBox(int index) const { return mAnalyzer[index]; }
    wxCheckBox* ChangeColorsBox() const { return mChangeColors; }
    wxCheckBox* ConnectAtStartBox() const { return mConnectAtStart; }
    wxCheckBox* QuickStartBox() const { return mQuickStart; }
    wxCheckBox* ChangePlayerNamesBox() const { return mChangePlayerNames; }
    wxRadioButton* LocalhostRadio() const { return mLocalhost; }
    wxRadioButton* BroadcastRadio() const { return mBroadcast; }
    wxRadioButton* CustomAddressRadio() const { return mCustom; }
    HintTextCtrl* CustomAddressField() const { return mCustomAddress; }
    // index 0-2: IRCNick1 to IRCNick3.
    HintTextCtrl* NickField(int index) const { return mNicks[index]; }
    wxCheckBox* EchoOwnIrcChatBox() const { return mEchoOwnIrcChat; }
    // source: ChatPromptSource; part 0 prompt, 1 prefix, 2 postfix.
    HintTextCtrl* PromptField(int source, int part) const { return mPrompts[source][part]; }

private:
    wxCheckBox* mPlayerChat = nullptr;
    wxCheckBox* mPlayerPing = nullptr;
    wxCheckBox* mPlayerPingInfo = nullptr;
    wxCheckBox* mObserverChat = nullptr;
    wxCheckBox* mObserverPing = nullptr;
    wxCheckBox* mObserverPingInfo = nullptr;
    wxCheckBox* mAnalyzer[7] = {};
    wxCheckBox* mChangeColors = nullptr;
    wxCheckBox* mConnectAtStart = nullptr;
    wxCheckBox* mQuickStart = nullptr;
    wxCheckBox* mChangePlayerNames = nullptr;
    wxRadioButton* mLocalhost = nullptr;
    wxRadioButton* mBroadcast = nullptr;
    wxRadioButton* mCustom = nullptr;
    HintTextCtrl* mCustomAddress = nullptr;
    HintTextCtrl* mNicks[3] = {};
    wxCheckBox* mEchoOwnIrcChat = nullptr;
    HintTextCtrl* mPrompts[4][3] = {};

    wxDECLARE_EVENT_TABLE();
};

class SettingsPage : public wxPanel {
public:
    // parent: the main window's notebook.
    explicit SettingsPage(wxWindow* parent);
    ~SettingsPage() override;

    // Writes the page's settings to the configuration file and flushes it; nothing without a
    // process-wide configuration object.
    void OnSave(wxCommandEvent& event);

    SettingsWindow* GetSettingsWindow() const { return mSettingsWindow; }
    wxButton* GetSaveButton() const { return mSaveButton; }

private:
    SettingsWindow* mSettingsWindow = nullptr;
    wxButton* mSaveButton = nullptr;

    wxDECLARE_EVENT_TABLE();
};
