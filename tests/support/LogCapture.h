#pragma once
// Captures the lines logged through the toolkit's log while it lives.

#include <string>
#include <vector>

#include <wx/log.h>

namespace bcxtest {

class LogCapture : public wxLog {
public:
    LogCapture();
    ~LogCapture() override;

    // Every line logged so far, UTF-8.
    const std::vector<std::string>& Lines() const { return mLines; }
    bool Contains(const std::string& utf8Fragment) const;
    size_t Count(const std::string& utf8Fragment) const;
    void Clear() { mLines.clear(); }

protected:
    void DoLogRecord(wxLogLevel level, const wxString& msg, const wxLogRecordInfo& info) override;

private:
    wxLog* mPrevious;
    std::vector<std::string> mLines;
};

} // namespace bcxtest
