#include "ui/VersionCheck.h"

#include <curl/curl.h>
#include <sys/socket.h>

#include <algorithm>
#include <mutex>

#include <wx/event.h>
#include <wx/log.h>

#include "core/Deployment.h"
#include "ui/MainFrame.h"

namespace {

// Set before the thread starts (tests only); read by the worker.
wxString gVersionHostOverride;

std::string Utf8(const wxString& text)
{
    const wxScopedCharBuffer buffer = text.utf8_str();
    return std::string(buffer.data(), buffer.length());
}

struct Transfer {
    std::string body;
    const std::atomic<bool>* cancel = nullptr;
};

// Keeps the body up to the bound; a longer answer ends the transfer there.
size_t OnBody(char* data, size_t size, size_t count, void* user)
{
    Transfer* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    const size_t room = VersionCheckThread::kMaxResponseBytes - transfer->body.size();
    transfer->body.append(data, std::min(bytes, room));
    return bytes <= room ? bytes : 0;
}

// Called at least once a second while the transfer waits: a non-zero answer ends it.
int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const Transfer* transfer = static_cast<const Transfer*>(user);
    return transfer->cancel && transfer->cancel->load() ? 1 : 0;
}

// The connection's socket, made close-on-exec: this thread runs beside the GUI thread, where the web
// engine starts its processes, so the flag must come with the socket.
curl_socket_t OpenSocket(void*, curlsocktype purpose, curl_sockaddr* address)
{
    if (purpose != CURLSOCKTYPE_IPCXN)
        return CURL_SOCKET_BAD;
    return ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
}

} // namespace

VersionCheckThread::VersionCheckThread(wxEvtHandler* sink, const wxString& application, const wxString& version)
    : wxThread(wxTHREAD_JOINABLE), mSink(sink), mApplication(application), mVersion(version)
{
}

wxString VersionCheckThread::VersionHost()
{
    if (!gVersionHostOverride.empty())
        return gVersionHostOverride;
    return wxString::FromAscii(bcx::kVersionHost);
}

void VersionCheckThread::SetVersionHostForTesting(const wxString& hostAndPort)
{
    gVersionHostOverride = hostAndPort;
}

wxString VersionCheckThread::FetchMessage(const wxString& application, const wxString& version,
                                          const std::atomic<bool>* cancel)
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    CURL* curl = curl_easy_init();
    if (!curl)
        return wxString();
    const std::string url = "http://" + Utf8(VersionHost()) + "/bcxversion.php?app=" + Utf8(application) +
                            "&ver=" + Utf8(version);
    Transfer transfer;
    transfer.cancel = cancel;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http");
    // Straight to the version server, as ever: no proxy from the environment.
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_OPENSOCKETFUNCTION, OpenSocket);
    // One deadline for everything: name look-up, connection, request and answer.
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, static_cast<long>(kTimeoutSeconds) * 1000L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &transfer);
    const CURLcode result = curl_easy_perform(curl);
    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    curl_easy_cleanup(curl);

    // A whole answer, or one cut at the bound; nothing from a failed or cancelled transfer.
    const bool cutAtBound = result == CURLE_WRITE_ERROR && transfer.body.size() == kMaxResponseBytes;
    if (result != CURLE_OK && !cutAtBound)
        return wxString();
    return VersionMessageFromAnswer(status, transfer.body);
}

wxThread::ExitCode VersionCheckThread::Entry()
{
    wxString message = FetchMessage(mApplication, mVersion, &mCancel);
    if (!message.empty() && !mCancel && mSink) {
        // Message boxes belong to the GUI thread: hand the text over and end.
        mSink->CallAfter([text = message]() { ShowMessage(text); });
    }
    return 0;
}

void VersionCheckThread::ShowMessage(const wxString& text)
{
    if (!MainFrame::ShowMessageBox(nullptr, text, wxS("Version Check")))
        wxLogMessage(wxS("%s"), wxS("Version check (not shown, the window is closing): ") + text);
}

VersionCheck::VersionCheck(wxEvtHandler* sink, const wxString& application, const wxString& version)
    : mThread(new VersionCheckThread(sink, application, version))
{
    if (mThread->Create() != wxTHREAD_NO_ERROR || mThread->Run() != wxTHREAD_NO_ERROR)
        mThread.reset();
}

VersionCheck::~VersionCheck()
{
    if (!mThread)
        return;
    mThread->Cancel();
    mThread->Wait(wxTHREAD_WAIT_BLOCK);
}
