#pragma once
// Deployment values of the service: where the relay server, the IRC server, the version server, the web
// site and the contact address live. They are kept in this one place; every default points at this
// machine, so that nothing the program does by default reaches another host.

namespace bcx {

constexpr const char* kDefaultRelayHost = "localhost";
constexpr const char* kDefaultIrcHost = "localhost";
constexpr const char* kVersionHost = "localhost";
constexpr const char* kWebSite = "localhost";
constexpr const char* kContactAddress = "brawlcast@localhost";

} // namespace bcx
