#pragma once
// The Warcraft III user name that the game keeps in the registry, value "userbnet" under
// "HKEY_CURRENT_USER\Software\Blizzard Entertainment\Warcraft III\String". On this system the registry
// is the one of the Wine prefix ($WINEPREFIX, else ~/.wine): its user.reg file is read.

#include <optional>
#include <string>

namespace bcx {

// True when the key exists. value := the GBK bytes of the string value "userbnet", or empty when the key
// exists but that value cannot be read. False (value emptied) when there is no key. Always logs what it
// found.
bool ReadWarcraftUserName(std::string& value);

// Tests: replace the registry by a fake one. keyPresent false: no key. keyPresent true with no value: the
// key exists but "userbnet" cannot be read. ClearFakeRegistryForTesting returns to the real one.
void SetFakeRegistryForTesting(bool keyPresent, const std::optional<std::string>& value);
void ClearFakeRegistryForTesting();

} // namespace bcx
