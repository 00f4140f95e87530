#include "ui/VersionCheck.h"

#include <curl/curl.h>
#include <sys/socket.h>

#include <algorithm>
#include <mutex>

#include <wx/event.h>
#include <wx/log.h>

#include "core/Deployment.h"
#include "platform/Descriptors.h"
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

void InitCurl()
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

// A transfer driver whose own descriptors (a wake-up socket pair) are close-on-exec. Made on the GUI
// thread, where the web engine starts its processes.
CURLM* NewTransferDriver()
{
    InitCurl();
    CURLM* driver = nullptr;
    bcx::CloseOnExecDuring([&] { driver = curl_multi_init(); });
    return driver;
}

// Runs the transfer to its end on the driver; the transfer's result.
CURLcode Perform(CURLM* driver, CURL* curl)
{
    // The progress callback (cancel) is asked on every step, and a step comes at least this often.
    constexpr int kStepMs = 1000;
    if (!driver || curl_multi_add_handle(driver, curl) != CURLM_OK)
        return CURLE_FAILED_INIT;
    CURLcode result = CURLE_FAILED_INIT;
    int running = 1;
    while (curl_multi_perform(driver, &running) == CURLM_OK && running > 0 &&
           curl_multi_poll(driver, nullptr, 0, kStepMs, nullptr) == CURLM_OK) {
    }
    int left = 0;
    while (CURLMsg* message = curl_multi_info_read(driver, &left))
        if (message->msg == CURLMSG_DONE && message->easy_handle == curl)
            result = message->data.result;
    curl_multi_remove_handle(driver, curl);
    return result;
}

} // namespace

VersionCheckThread::VersionCheckThread(wxEvtHandler* sink, const wxString& application, const wxString& version)
    : wxThread(wxTHREAD_JOINABLE), mSink(sink), mApplication(application), mVersion(version),
      mDriver(NewTransferDriver())
{
}

VersionCheckThread::~VersionCheckThread()
{
    if (mDriver)
        curl_multi_cleanup(static_cast<CURLM*>(mDriver));
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
    CURLM* driver = NewTransferDriver();
    const wxString message = Fetch(driver, application, version, cancel);
    if (driver)
        curl_multi_cleanup(driver);
    return message;
}

wxString VersionCheckThread::Fetch(void* driver, const wxString& application, const wxString& version,
                                   const std::atomic<bool>* cancel)
{
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
    const CURLcode result = Perform(static_cast<CURLM*>(driver), curl);
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
    wxString message = Fetch(mDriver, mApplication, mVersion, &mCancel);
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
