#include "browser/BrowserPanel.h"

#include <cstdint>
#include <memory>

#include <wx/artprov.h>
#include <wx/bmpbuttn.h>
#include <wx/filesys.h>
#include <wx/log.h>
#include <wx/sizer.h>
#include <wx/uri.h>
#include <wx/utils.h>

#include "browser/ActiveXEvents.h"
#include "browser/HtmlBrowserCtrl.h"
#include "browser/PageLog.h"
#include "browser/RecentEvents.h"
#include "browser/com/ComTypes.h"
#include "core/ClientCore.h"
#include "core/GameRecords.h"
#include "core/Packet.h"
#include "platform/ProgramClock.h"
#include "platform/TextCodec.h"

namespace {

using bcx::ForLog;
using bcx::LogBrowser;

// A game name from a link is cut to this many bytes (GBK).
const size_t kMaxLinkNameBytes = 255;
// The longest name of a built-in page.
const size_t kMaxPageNameChars = 64;
// The program's own loads (a relay's news record, the home page) open at most this many addresses on the
// desktop within this many milliseconds of the program clock, all panels together: a relay that sends
// news records in a burst cannot flood the desktop.
const size_t kMaxProgramOpens = 3;
const uint32_t kProgramOpenWindowMs = 60000;

bcxBrowser::DesktopOpener& Opener()
{
    static bcxBrowser::DesktopOpener opener;
    return opener;
}

bool OpenOnDesktop(const wxString& url)
{
    if (Opener())
        return Opener()(url);
    // GIO first, then xdg-open.
    return wxLaunchDefaultBrowser(url);
}

// A named event parameter; a missing one (a null value) reads as empty.
wxString ParamText(wxActiveXEvent& event, const wxString& name)
{
    const wxVariant& value = event[name];
    return value.IsNull() ? wxString() : value.GetString();
}

long ParamLong(wxActiveXEvent& event, const wxString& name)
{
    const wxVariant& value = event[name];
    long result = 0;
    return !value.IsNull() && value.Convert(&result) ? result : 0;
}

// The id segment of a game link: empty, or an optional sign and at most ten decimal digits whose value
// fits in 32 bits. A leading "-" wraps modulo 2^32.
bool ParseGameId(const wxString& text, uint32_t& id)
{
    size_t pos = 0;
    bool negative = false;
    if (!text.empty() && (text[0] == wxS('+') || text[0] == wxS('-'))) {
        negative = text[0] == wxS('-');
        pos = 1;
    }
    if (text.length() - pos > 10)
        return false;
    uint64_t value = 0;
    for (; pos < text.length(); ++pos) {
        const wxUniChar c = text[pos];
        if (c < wxS('0') || c > wxS('9'))
            return false;
        value = value * 10 + static_cast<uint64_t>(c.GetValue() - '0');
    }
    if (value > UINT32_MAX)
        return false;
    id = negative ? static_cast<uint32_t>(0u - static_cast<uint32_t>(value)) : static_cast<uint32_t>(value);
    return true;
}

// The leading decimal digits of text as a number (0 without any); values above 32 bits saturate.
uint32_t LeadingNumber(const wxString& text)
{
    uint64_t value = 0;
    for (wxUniChar c : text) {
        if (c < wxS('0') || c > wxS('9'))
            break;
        value = value * 10 + static_cast<uint64_t>(c.GetValue() - '0');
        if (value > UINT32_MAX)
            return UINT32_MAX;
    }
    return static_cast<uint32_t>(value);
}

bool HasLineBreak(const wxString& text)
{
    wxString lower = text.Lower();
    return text.find_first_of(wxS("\r\n")) != wxString::npos || lower.Contains(wxS("%0a")) ||
           lower.Contains(wxS("%0d"));
}

// A built-in page is asked for by its plain name: letters, digits, '.', '-' and '_', no "..". Anything
// else ('#', ':', '/', '%' ...) would let the file system chain handlers or leave the memory pages.
bool IsPlainPageName(const wxString& name)
{
    if (name.empty() || name.length() > kMaxPageNameChars || name.Contains(wxS("..")))
        return false;
    for (wxUniChar c : name) {
        const unsigned code = c.GetValue();
        const bool letterOrDigit = (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z') ||
                                   (code >= '0' && code <= '9');
        if (!letterOrDigit && code != '.' && code != '-' && code != '_')
            return false;
    }
    return true;
}

// True when a recipient list entry names no address: nothing but spaces and tabs, also percent-encoded.
bool IsBlankEntry(const wxString& entry)
{
    for (wxUniChar c : wxURI::Unescape(entry))
        if (c != wxS(' ') && c != wxS('\t'))
            return false;
    return true;
}

// The first address of a recipient list ("a@x,b@y", also with "%2C", ";" or "%3B" between them), blank
// entries skipped; empty when the list names none. What follows that address goes to others when it
// names a further one.
wxString FirstRecipient(const wxString& recipients, wxString& others)
{
    const wxString lower = recipients.Lower();
    wxString first;
    size_t afterFirst = 0;
    // Every round moves past one entry and its separator.
    for (size_t pos = 0;;) {
        size_t end = wxString::npos, width = 0;
        for (const wxString separator : {wxS(","), wxS(";"), wxS("%2c"), wxS("%3b")}) {
            const size_t at = lower.find(separator, pos);
            if (at < end) {
                end = at;
                width = separator.length();
            }
        }
        const wxString entry = recipients.Mid(pos, end == wxString::npos ? wxString::npos : end - pos);
        const size_t next = end == wxString::npos ? recipients.length() : end + width;
        if (!IsBlankEntry(entry)) {
            if (!first.empty()) {
                others = recipients.Mid(afterFirst);
                break;
            }
            first = entry;
            afterFirst = next;
        }
        if (end == wxString::npos)
            break;
        pos = next;
    }
    return first;
}

// A mail address as given to the mail program: one address and its "subject" and "body" parameters;
// further recipients go to droppedRecipients, every other parameter (cc, bcc, to, attachments, headers)
// to droppedParameters. Empty when the address names no recipient.
wxString MailAddressAndText(const wxString& address, wxString& droppedRecipients, wxString& droppedParameters)
{
    wxString query;
    const wxString to = FirstRecipient(address.BeforeFirst(wxS('?'), &query), droppedRecipients);
    if (to.empty())
        return wxString();
    wxString kept;
    for (const wxString& field : wxSplit(query, wxS('&'), wxS('\0'))) {
        if (field.empty())
            continue;
        const std::string name = bcx::AsciiLower(bcx::ToGbk(wxURI::Unescape(field.BeforeFirst(wxS('=')))));
        wxString& into = name == "subject" || name == "body" ? kept : droppedParameters;
        into += (into.empty() ? wxS("") : wxS("&")) + field;
    }
    return kept.empty() ? to : to + wxS("?") + kept;
}

bool IsWebAddress(const wxString& url)
{
    const wxString lower = url.Lower();
    if (!lower.StartsWith(wxS("http://")) && !lower.StartsWith(wxS("https://")))
        return false;
    for (wxUniChar c : url)
        if (c.GetValue() <= 0x20 || c.GetValue() == 0x7F)
            return false;
    return true;
}

} // namespace

wxIMPLEMENT_DYNAMIC_CLASS(bcxBrowser, wxPanel);

wxBEGIN_EVENT_TABLE(bcxBrowser, wxPanel)
    EVT_BUTTON(BrowserPanelForwardId, bcxBrowser::OnForward)
    EVT_BUTTON(BrowserPanelBackId, bcxBrowser::OnBack)
    EVT_BUTTON(BrowserPanelHomeId, bcxBrowser::OnHome)
    EVT_BUTTON(BrowserPanelRepaintId, bcxBrowser::OnRefresh)
    EVT_ACTIVEX(BrowserPanelControlId, "BeforeNavigate2", bcxBrowser::OnBeforeNavigate2)
    EVT_ACTIVEX(BrowserPanelControlId, "CommandStateChange", bcxBrowser::OnCommandStateChange)
    EVT_ACTIVEX(BrowserPanelControlId, "NewWindow3", bcxBrowser::OnNewWindow3)
wxEND_EVENT_TABLE()

bcxBrowser::bcxBrowser() : mHomeUrl(wxS("bcx:browserstart")), mPosition(wxDefaultPosition), mSize(wxDefaultSize) {}

bcxBrowser::bcxBrowser(wxWindow* parent, wxWindowID id, const wxString& startUrl, const wxPoint& pos,
                       const wxSize& size, long style)
    : wxPanel(parent, id, wxDefaultPosition, wxDefaultSize, style, wxS("panel")),
      mHomeUrl(startUrl.empty() ? wxString(wxS("bcx:browserstart")) : startUrl),
      mPosition(pos),
      mSize(size),
      mStyle(style)
{
}

void bcxBrowser::SetDesktopOpener(DesktopOpener opener)
{
    Opener() = std::move(opener);
}

void bcxBrowser::Create(bool withButtons)
{
    if (mBrowser)
        return;
    mBrowser = new HtmlBrowserCtrl(this, BrowserPanelControlId, mPosition, mSize, mStyle, wxS("panel"));
    wxBoxSizer* sizer = new wxBoxSizer(wxVERTICAL);
    if (withButtons) {
        const wxSize image(24, 24);
        const char* const art[] = {wxART_GO_BACK, wxART_GO_FORWARD, wxART_GO_HOME, wxART_REDO};
        wxBitmapButton** buttons[] = {&mBack, &mForward, &mHome, &mRepaint};
        wxBoxSizer* row = new wxBoxSizer(wxHORIZONTAL);
        for (int i = 0; i < 4; ++i) {
            const wxBitmap bitmap =
                wxArtProvider::GetBitmap(wxASCII_STR(art[i]), wxASCII_STR(wxART_TOOLBAR), image);
            *buttons[i] = new wxBitmapButton(this, BrowserPanelBackId + i, bitmap, wxDefaultPosition, wxDefaultSize,
                                             wxBU_AUTODRAW, wxDefaultValidator, wxS("button"));
            row->Add(*buttons[i], 0, wxRIGHT, 5);
        }
        sizer->Add(row, 0, wxEXPAND | wxBOTTOM, 3);
    }
    sizer->Add(mBrowser, 1, wxEXPAND | wxALL, 0);
    SetAutoLayout(true);
    SetSizer(sizer, true);
    sizer->Fit(this);
    LoadUrl(mHomeUrl);
}

void bcxBrowser::LoadUrl(const wxString& url, const wxSize& size)
{
    if (size != wxDefaultSize) {
        mSize = size;
        SetSize(wxRect(GetPosition(), size));
    }
    if (!mBrowser)
        return;
    // The control decides the load before it returns: that decision is the program's, not a page's.
    const bool outer = mProgramLoad;
    mProgramLoad = true;
    mBrowser->LoadUrl(url.empty() ? mHomeUrl : url);
    mProgramLoad = outer;
}

bool bcxBrowser::HandleNavigate(wxString& url)
{
    // Only the browser control asks, so there is one.
    if (!mBrowser)
        return true;
    wxString rest;
    if (url.StartsWith(wxS("http://not_extern"), &rest))
        url = rest;
    if (url.StartsWith(wxS("bcx:"), &rest)) {
        mBrowser->Stop();
        DispatchBcxUrl(rest);
        return false;
    }
    if (url.StartsWith(wxS("memory:"), &rest)) {
        mBrowser->Stop();
        if (rest.EndsWith(wxS("/")))
            rest.RemoveLast();
        LoadMemoryPage(rest);
        return false;
    }
    if (url.StartsWith(wxS("mailto:"), &rest)) {
        mBrowser->Stop();
        if (MayOpenOnDesktop(url))
            OpenMailTo(rest);
        return false;
    }
    return true;
}

void bcxBrowser::LoadMemoryPage(const wxString& name)
{
    wxFileSystem fs;
    std::unique_ptr<wxFSFile> file;
    if (IsPlainPageName(name)) {
        wxLogNull quiet;
        file.reset(fs.OpenFile(wxS("memory:") + name));
    }
    if (!file) {
        LogBrowser(wxS("no built-in page ") + ForLog(name));
        return;
    }
    // The stream goes to the adaptor, which deletes it; the file record goes without it.
    if (mBrowser && mBrowser->LoadStream(file->DetachStream()))
        bcx::PageNavigationDecision::NoteCarriedOut();
}

void bcxBrowser::DispatchBcxUrl(const wxString& command)
{
    static const struct {
        const char* prefix;
        const char* page;
    } kPages[] = {
        {"browserstart", "memory:browserstart.html"},
        {"offline", "memory:offline.html"},
        {"css", "memory:style.css"},
        {"banner", "memory:defaultad.html"},
        {"about", "memory:about.html"},
    };
    for (const auto& page : kPages) {
        if (command.StartsWith(wxString::FromAscii(page.prefix))) {
            LoadUrl(wxString::FromAscii(page.page));
            return;
        }
    }
    wxString rest;
    if (command.StartsWith(wxS("ext_browser/"), &rest)) {
        if (!MayOpenOnDesktop(wxS("bcx:") + command))
            return;
        OpenExternal(rest);
        if (mBrowser)
            mBrowser->GoBack();
    } else if (command.StartsWith(wxS("ext_mail/"), &rest)) {
        if (!MayOpenOnDesktop(wxS("bcx:") + command))
            return;
        OpenMailTo(rest);
        if (mBrowser)
            mBrowser->GoBack();
    } else if (command.StartsWith(wxS("view/"), &rest)) {
        AddGameFromLink(rest);
    } else {
        LoadUrl(wxS("memory:unknown.html"));
    }
}

void bcxBrowser::OpenExternal(const wxString& url)
{
    // A page must not start programs or open files on the desktop: only web addresses leave.
    if (!IsWebAddress(url)) {
        LogBrowser(wxS("not a web address, not opened: ") + ForLog(url));
        return;
    }
    HandOnToDesktop(url);
}

bool bcxBrowser::MayOpenOnDesktop(const wxString& url) const
{
    // A page's script must not drive the desktop: only a navigation of the user's click opens anything,
    // or one of the program's own loads.
    if (!mUserStarted && !mProgramLoad)
        LogBrowser(wxS("not opened without a click: ") + ForLog(url));
    return mUserStarted || mProgramLoad;
}

void bcxBrowser::HandOnToDesktop(const wxString& url)
{
    static bcx::RecentEvents<kMaxProgramOpens> programOpens{kProgramOpenWindowMs};
    if (!mUserStarted && !programOpens.Admit(bcx::ProgramClock::Now())) {
        LogBrowser(wxString::Format(wxS("not opened: the program's own loads opened %u addresses within %u seconds: "),
                                    static_cast<unsigned>(kMaxProgramOpens),
                                    static_cast<unsigned>(kProgramOpenWindowMs / 1000)) +
                   ForLog(url));
        return;
    }
    // The navigation that asked for it is carried out, not refused.
    bcx::PageNavigationDecision::NoteCarriedOut();
    OpenOnDesktop(url);
}

void bcxBrowser::OpenMailTo(const wxString& address)
{
    if (HasLineBreak(address)) {
        LogBrowser(wxS("mail address with a line break, not opened: ") + ForLog(address));
        return;
    }
    wxString recipients, parameters;
    const wxString kept = MailAddressAndText(address, recipients, parameters);
    if (kept.empty()) {
        LogBrowser(wxS("mail link without an address, not opened: ") + ForLog(address));
        return;
    }
    if (!recipients.empty())
        LogBrowser(wxS("mail link recipients dropped: ") + ForLog(recipients));
    if (!parameters.empty())
        LogBrowser(wxS("mail link parameters dropped: ") + ForLog(parameters));
    HandOnToDesktop(wxS("mailto:") + kept);
}

void bcxBrowser::AddGameFromLink(const wxString& rest)
{
    wxArrayString segments = wxSplit(rest, wxS('/'), wxS('\0'));
    segments.resize(4);
    uint32_t id = 0;
    if (!ParseGameId(segments[0], id)) {
        LogBrowser(wxS("game link with a bad id: ") + ForLog(segments[0]));
        LoadUrl(wxS("memory:unknown.html"));
        return;
    }
    ClientCore* core = ClientCore::Get();
    if (!core)
        return;
    if (core->GetGame(id)) {
        LoadUrl(wxS("memory:addgamefailed.html"));
        return;
    }

    // Links carry names percent-encoded.
    bool cut = false;
    const std::string name = bcx::ToGbkCut(wxURI::Unescape(segments[1]), kMaxLinkNameBytes, cut);
    if (cut)
        ClientCore::LogGame(wxString::Format(wxS("[%08X] name from a link cut to %u bytes"), id,
                                             static_cast<unsigned>(kMaxLinkNameBytes)));
    Game* game = new Game(id);
    game->mDownloadState = DownloadListed;
    game->mKind = 3;
    game->mName = name;
    if (!core->AddGame(game)) {
        delete game;
        LoadUrl(wxS("memory:addgamefailed.html"));
        return;
    }
    game->mState = ClampGameState(LeadingNumber(segments[2]));
    game->mStartTime = LeadingNumber(segments[3]);

    bcxPacket request;
    request.WriteHeader(0x21);
    request.WriteU32(id);
    request.UpdateLength();

    core->RemoveGames(3);
    core->RemoveUnusedSessions();
    core->UpdateLanGames(false);

    // Only while connected; offline the game stays listed and its information comes with the list.
    if (!core->SendToRelay(request))
        ClientCore::LogGame(wxString::Format(wxS("[%08X] added from a link while not connected"), id));
    LoadUrl(wxS("memory:addedgame.html"));
}

void bcxBrowser::OnBack(wxCommandEvent&)
{
    if (mBrowser)
        mBrowser->GoBack();
}

void bcxBrowser::OnForward(wxCommandEvent&)
{
    if (mBrowser)
        mBrowser->GoForward();
}

void bcxBrowser::OnHome(wxCommandEvent&)
{
    LoadUrl(mHomeUrl);
}

void bcxBrowser::OnRefresh(wxCommandEvent&)
{
    Refresh(true);
}

void bcxBrowser::OnBeforeNavigate2(wxActiveXEvent& event)
{
    const wxString url = ParamText(event, wxS("Url"));
    if (url == wxS("about:blank"))
        return;
    // Whatever deciding it logs, here or in the parts it calls, counts against the page-log bound.
    bcx::PageLogScope pageLines;
    // For this decision only: the navigations the program starts while deciding it come here with
    // their own flags.
    const bool outer = mUserStarted;
    mUserStarted = (ParamLong(event, wxS("Flags")) & navUserGesture) != 0;
    wxString copy = url;
    const bool go = HandleNavigate(copy);
    mUserStarted = outer;
    if (!go)
        event[wxS("Cancel")] = true;
}

void bcxBrowser::OnCommandStateChange(wxActiveXEvent& event)
{
    const long command = ParamLong(event, wxS("Command"));
    const bool enable = ParamLong(event, wxS("Enable")) != 0;
    wxBitmapButton* button = command == 2 ? mBack : command == 1 ? mForward : nullptr;
    if (button)
        button->Enable(enable);
}

void bcxBrowser::OnNewWindow3(wxActiveXEvent& event)
{
    event[wxS("Cancel")] = true;
}
