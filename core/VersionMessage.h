#pragma once
// What the version server's answer to the client's version query says: the text behind the first marker
// "===信息===\n" (GBK) of a successful answer's body, shown to the user when not empty.

#include <cstddef>
#include <string>

#include <wx/string.h>

// The most body bytes looked at; the rest of a longer answer is ignored.
constexpr size_t kMaxVersionAnswerBytes = 64 * 1024;

// The text behind the first marker, decoded from GBK; empty when there is no marker or nothing behind it.
wxString ExtractVersionMessage(const std::string& body);

// The message of an answer with the HTTP status: empty unless the status is 2xx; the body counts up to
// kMaxVersionAnswerBytes.
wxString VersionMessageFromAnswer(long status, const std::string& body);
