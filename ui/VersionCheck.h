#pragma once
// The background version check: one HTTP GET of "/bcxversion.php?app=<application>&ver=<version>" on
// the version server; when the answer holds the marker "===信息===\n" (GBK), the text behind the first
// marker is shown in a message box. Nothing is reported back to the rest of the program.

#include <string>

#include <wx/string.h>
#include <wx/thread.h>

class VersionCheckThread : public wxThread {
public:
    VersionCheckThread(const wxString& application, const wxString& version);

    // The GET itself (blocking, bounded by kTimeoutSeconds and kMaxResponseBytes) and the message of the
    // answer; empty when the server cannot be reached or the answer holds no message. Entry runs it.
    static wxString FetchMessage(const wxString& application, const wxString& version);

    // The message that a version server's answer carries: the text behind the first marker, decoded
    // from GBK; empty when there is no marker or nothing behind it.
    static wxString ExtractMessage(const std::string& response);

    // The host (optionally "host:port") asked; the deployment's version host unless a test set another.
    static wxString VersionHost();
    static void SetVersionHostForTesting(const wxString& hostAndPort);

    // The largest answer read; the rest of a longer answer is ignored.
    static constexpr size_t kMaxResponseBytes = 64 * 1024;
    // Seconds that the connection and every wait for the server may take.
    static constexpr int kTimeoutSeconds = 10;

protected:
    ExitCode Entry() override;

private:
    wxString mApplication;
    wxString mVersion;
};
