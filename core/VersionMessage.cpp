#include "core/VersionMessage.h"

#include "platform/TextCodec.h"

wxString ExtractVersionMessage(const std::string& body)
{
    static const std::string marker = bcx::Utf8ToGbk("===信息===\n");
    const size_t at = body.find(marker);
    if (at == std::string::npos)
        return wxString();
    return bcx::FromGbk(body.substr(at + marker.size()));
}

wxString VersionMessageFromAnswer(long status, const std::string& body)
{
    if (status < 200 || status > 299)
        return wxString();
    return ExtractVersionMessage(body.size() > kMaxVersionAnswerBytes ? body.substr(0, kMaxVersionAnswerBytes)
                                                                      : body);
}
