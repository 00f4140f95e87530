#pragma once
// The background version check: one HTTP GET of "/bcxversion.php?app=<application>&ver=<version>" on
// the version server; when the answer holds the marker "===信息===\n" (GBK), the text behind the first
// marker is shown in a message box over the program's frame (in the log instead when the frame is
// closing). Nothing else is reported back to the rest of the program.
//
// The whole check, name look-up included, has one deadline (kTimeoutSeconds) and can be cancelled at any
// time; VersionCheck owns the worker and stops it when it goes, so the program never ends with the
// worker still running.

#include <atomic>
#include <memory>
#include <string>

#include <wx/string.h>
#include <wx/thread.h>

#include "core/VersionMessage.h"

class wxEvtHandler;

class VersionCheckThread : public wxThread {
public:
    // sink: where the message box is shown from (its CallAfter); it outlives the thread.
    VersionCheckThread(wxEvtHandler* sink, const wxString& application, const wxString& version);

    ~VersionCheckThread() override;

    // Asks the running check to end as soon as it can; no message box follows.
    void Cancel() { mCancel = true; }

    // The GET itself (blocking, at most kTimeoutSeconds, at most kMaxVersionAnswerBytes of the body, ends
    // early when *cancel becomes true) and the message of the answer; empty when the server cannot be
    // reached in time or the answer holds no message. Call it on the GUI thread (the worker makes its
    // transfer driver there beforehand).
    static wxString FetchMessage(const wxString& application, const wxString& version,
                                 const std::atomic<bool>* cancel = nullptr);

    // Shows a message of the check on the GUI thread: in a box over the program's frame, or, when the
    // frame is closing, in a log line.
    static void ShowMessage(const wxString& text);

    // The host (optionally "host:port") asked; the deployment's version host unless a test set another.
    static wxString VersionHost();
    static void SetVersionHostForTesting(const wxString& hostAndPort);

    static constexpr size_t kMaxResponseBytes = kMaxVersionAnswerBytes;
    // Seconds that the whole check may take, name look-up included.
    static constexpr int kTimeoutSeconds = 30;

protected:
    ExitCode Entry() override;

    // FetchMessage on a transfer driver made before (on the GUI thread).
    static wxString Fetch(void* driver, const wxString& application, const wxString& version,
                          const std::atomic<bool>* cancel);

private:
    wxEvtHandler* mSink;
    wxString mApplication;
    wxString mVersion;
    std::atomic<bool> mCancel{false};
    // libcurl's transfer driver (a multi handle), made with the thread on the GUI thread: libcurl makes
    // descriptors of its own for it without close-on-exec, which are marked there before any process can
    // start.
    void* mDriver = nullptr;
};

// Owns a running version check: started by the constructor, cancelled and waited for by the destructor.
class VersionCheck {
public:
    VersionCheck(wxEvtHandler* sink, const wxString& application, const wxString& version);
    ~VersionCheck();

    VersionCheck(const VersionCheck&) = delete;
    VersionCheck& operator=(const VersionCheck&) = delete;

    // False when the worker could not be started.
    bool Started() const { return mThread != nullptr; }

private:
    std::unique_ptr<VersionCheckThread> mThread;
};
