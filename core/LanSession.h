#pragma once
// What ClientCore needs of a LAN game host (a session): the game it presents, whether a Warcraft III
// client is attached, and the pending game search that waits for an answer. ClientCore owns the sessions
// in its SessionMap and creates them through the factory set with ClientCore::SetSessionFactory.

#include <functional>

#include <netinet/in.h>

class Game;

class LanSession {
public:
    virtual ~LanSession() = default;

    // The game this host presents (it outlives the host).
    virtual Game* GetGame() = 0;
    // True while at least one Warcraft III client is attached.
    virtual bool HasClient() const = 0;

    // The address of a game search that waits for an answer; null when none waits.
    virtual const sockaddr_in* PendingRequester() const = 0;
    // Deletes the pending requester address.
    virtual void ClearPendingRequester() = 0;
    // Sends the game-info datagram of this host's game to the given address.
    virtual void SendServerInfo(const sockaddr_in& to) = 0;
};

// Creates the host of a game; null when it cannot be created.
using LanSessionFactory = std::function<LanSession*(Game*)>;
