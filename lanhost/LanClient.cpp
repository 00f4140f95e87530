#include "lanhost/LanClient.h"

#include <wx/log.h>

#include "analyzer/ActionAnalyzer.h"
#include "core/ClientCore.h"
#include "core/CountingSocket.h"
#include "core/GameRecords.h"
#include "lanhost/ChatOutput.h"
#include "platform/ProgramClock.h"
#include "platform/TextCodec.h"

namespace {

uint32_t gNextConnectionId = 1;

} // namespace

LanClient::LanClient() : mConnectionId(gNextConnectionId++)
{
    if (gNextConnectionId == 0)
        gNextConnectionId = 1;
    mReceivePacket.SetGrowStep(256);
    mAnalyzers = std::make_unique<ActionAnalyzerSet>(this);
}

LanClient::~LanClient()
{
    if (mSocket) {
        mSocket->Notify(false);
        mSocket->Destroy();
        mSocket = nullptr;
    }
    mIrcClient.reset();
    mAnalyzers.reset();
}

bool LanClient::IsConnected() const
{
    return mSocket && mSocket->IsConnected();
}

bool LanClient::Send(const void* data, uint32_t n)
{
    if (!mSocket || mSendFailed)
        return false;
    if (mClosing == 2)
        return false;  // the stream to Warcraft III has ended; late lines are dropped
    if (n == 0)
        return true;
    if (!mSocket->Send(data, n)) {
        mSendFailed = true;
        return false;
    }
    return true;
}

uint32_t LanClient::AttachedGameId() const
{
    return mGame ? mGame->mId : 0;
}

CommandMap& ChatCommands()
{
    static CommandMap commands(100);
    return commands;
}

AliasMap& ChatAliases()
{
    static AliasMap aliases(100);
    return aliases;
}

void LanClient::ExecuteChatLine(std::string line)
{
    const size_t blank = line.find(' ');
    const std::string word = line.substr(0, blank);
    if (word.empty() || word[0] != '/') {
        if (mIrcClient && mIrcClient->InChannel())
            mIrcClient->Say(line);
        else
            SendSystemMessage(this, std::string("No chat interface to talk to"));
        return;
    }
    std::string name = bcx::AsciiLower(word.substr(1));
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    while (!name.empty() && isSpace(name.back()))
        name.pop_back();
    const AliasMap& aliases = ChatAliases();
    auto alias = aliases.find(name);
    if (alias != aliases.end())
        name = alias->second;
    const CommandMap& commands = ChatCommands();
    auto command = commands.find(name);
    if (command == commands.end()) {
        SendSystemMessage(this, "\"" + name + "\" is not a valid command");
        return;
    }
    if (!command->second) {
        SendSystemMessage(this, "\"" + name + "\" is a broken command");
        return;
    }
    command->second(this, blank == std::string::npos ? std::string() : line.substr(blank + 1), false);
}

void LanClient::PrintWelcome(int32_t stage)
{
    if (!mGame)
        return;
    if (mWelcomeStage < 1 && stage >= 1) {
        mWelcomeStage = 1;
        SendSystemMessage(this, "Welcome to Brawlcast game '" + mGame->mName + "', ");
    }
    if (mWelcomeStage < 2 && stage >= 2) {
        mWelcomeStage = 2;
        const std::string hyphens(47, '-');
        if (mMapValidated) {
            SendSystemMessage(this, std::string("Type /help for help, and /start to start the game."));
            SendSystemMessage(this, std::string("Use /ircinit to connect to the IRC."));
            SendSystemMessage(this, hyphens);
        } else {
            SendSystemMessage(this, hyphens);
            if (mGame->mInfo)
                SendSystemMessage(this, "Could not find map '" + mGame->mInfo->mMapPath +
                                            "'! Auto map download is not supported.");
            else
                SendSystemMessage(this, std::string("No GameInfo!"));
        }
    }
}

void LanClient::PrintStreamingDelay()
{
    if (!mGame)
        return;
    if (mDelayNoticePending) {
        SendSystemMessage(this, std::string("Remote game has been started. Please wait for end of streaming delay."));
        mDelayNoticePending = 0;
    }
    uint32_t now = bcx::WallClock::Now();
    if (now > 0x7FFFFFFFu)
        now = 0xFFFFFFFFu;
    const uint32_t remaining = now <= mGame->mDueTime ? mGame->mDueTime - now : 0;
    SendSystemMessage(this, wxString::Format(wxS("Delay ends in %02dmin %02ds"), static_cast<int>(remaining / 60),
                                             static_cast<int>(remaining % 60)));
}

void LanClient::ForwardLineToGame(const std::string& gbkText)
{
    ::ForwardLineToGame(this, gbkText);
}

// ---------------------------------------------------------------------------------------------------

void LanClientList::Add(std::unique_ptr<LanClient> client)
{
    if (!client)
        return;
    const uint32_t id = client->GetConnectionId();
    mClients[id] = std::move(client);
}

LanClient* LanClientList::Find(uint32_t connectionId) const
{
    auto it = mClients.find(connectionId);
    return it == mClients.end() ? nullptr : it->second.get();
}

LanClient* LanClientList::FindBySocket(const void* socket) const
{
    if (!socket)
        return nullptr;
    for (const auto& entry : mClients)
        if (static_cast<const void*>(entry.second->GetSocket()) == socket)
            return entry.second.get();
    return nullptr;
}

std::unique_ptr<LanClient> LanClientList::Release(uint32_t connectionId)
{
    auto it = mClients.find(connectionId);
    if (it == mClients.end())
        return nullptr;
    std::unique_ptr<LanClient> client = std::move(it->second);
    mClients.erase(it);
    return client;
}

bool LanClientList::Erase(uint32_t connectionId)
{
    std::unique_ptr<LanClient> client = Release(connectionId);
    return client != nullptr;
}

std::vector<uint32_t> LanClientList::Ids() const
{
    std::vector<uint32_t> ids;
    ids.reserve(mClients.size());
    for (const auto& entry : mClients)
        ids.push_back(entry.first);
    return ids;
}
