#include "platform/Registry.h"

#include <cstdlib>
#include <istream>
#include <sstream>

#include <ext/stdio_filebuf.h>
#include <fcntl.h>

#include <wx/log.h>
#include <wx/string.h>

#include "platform/Descriptors.h"
#include "platform/TextCodec.h"

namespace bcx {
namespace {

const char kWarcraftKey[] = "Software\\Blizzard Entertainment\\Warcraft III\\String";
const char kUserNameValue[] = "userbnet";

struct FakeRegistry {
    bool active = false;
    bool keyPresent = false;
    std::optional<std::string> value;
};

FakeRegistry& Fake()
{
    static FakeRegistry fake;
    return fake;
}

bool IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return c - 'A' + 10;
}

// Appends one UTF-16 code unit, pairing surrogates.
void AppendUnit(wxString& out, uint32_t& pendingHigh, uint32_t unit)
{
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        if (pendingHigh)
            out += wxUniChar(0xFFFD);
        pendingHigh = unit;
        return;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) {
        if (pendingHigh) {
            out += wxUniChar(0x10000 + ((pendingHigh - 0xD800) << 10) + (unit - 0xDC00));
            pendingHigh = 0;
        } else {
            out += wxUniChar(0xFFFD);
        }
        return;
    }
    if (pendingHigh) {
        out += wxUniChar(0xFFFD);
        pendingHigh = 0;
    }
    out += wxUniChar(unit);
}

void FlushRun(wxString& out, std::string& run)
{
    if (run.empty())
        return;
    wxString text = wxString::FromUTF8(run.data(), run.size());
    if (text.empty())
        text = wxString(run.data(), wxConvISO8859_1, run.size());
    out += text;
    run.clear();
}

// Reads an escaped string of a registry file starting at pos up to the unescaped delimiter (or the end of
// the line). Escapes: \\, \", \[, \], \n, \r, \t, \a, \b, \v, \f, \e, octal \ooo and \xHHHH (one UTF-16
// code unit). pos is left behind the delimiter. False when the delimiter is missing.
bool Unescape(const std::string& line, size_t& pos, char delimiter, wxString& out)
{
    out.clear();
    std::string run;
    uint32_t pendingHigh = 0;
    while (pos < line.size()) {
        char c = line[pos];
        if (c == delimiter) {
            ++pos;
            FlushRun(out, run);
            if (pendingHigh)
                out += wxUniChar(0xFFFD);
            return true;
        }
        if (c != '\\' || pos + 1 >= line.size()) {
            run += c;
            ++pos;
            continue;
        }
        char e = line[pos + 1];
        pos += 2;
        uint32_t unit = 0;
        bool isUnit = true;
        switch (e) {
        case 'n': unit = '\n'; break;
        case 'r': unit = '\r'; break;
        case 't': unit = '\t'; break;
        case 'a': unit = '\a'; break;
        case 'b': unit = '\b'; break;
        case 'v': unit = '\v'; break;
        case 'f': unit = '\f'; break;
        case 'e': unit = 0x1B; break;
        case 'x': {
            int digits = 0;
            while (digits < 4 && pos < line.size() && IsHex(line[pos])) {
                unit = unit * 16 + static_cast<uint32_t>(HexValue(line[pos]));
                ++pos;
                ++digits;
            }
            if (digits == 0) {
                run += 'x';
                isUnit = false;
            }
            break;
        }
        default:
            if (e >= '0' && e <= '7') {
                unit = static_cast<uint32_t>(e - '0');
                int digits = 1;
                while (digits < 3 && pos < line.size() && line[pos] >= '0' && line[pos] <= '7') {
                    unit = unit * 8 + static_cast<uint32_t>(line[pos] - '0');
                    ++pos;
                    ++digits;
                }
            } else {
                // \\, \" and the escaped brackets stand for the character itself.
                run += e;
                isUnit = false;
            }
            break;
        }
        if (isUnit) {
            FlushRun(out, run);
            AppendUnit(out, pendingHigh, unit);
        }
    }
    return false;
}

std::string FoldAscii(const wxString& text)
{
    return AsciiLower(std::string(text.utf8_str().data()));
}

enum class Lookup { NoKey, KeyWithoutValue, Found };

// Looks the Warcraft III user name up in a Wine registry file (user.reg: paths relative to
// HKEY_CURRENT_USER, one section per key, "name"="string" lines below it).
Lookup LookUpRegFile(const std::string& path, std::string& value)
{
    const int fd = OpenCloseOnExec(path.c_str(), O_RDONLY);
    if (fd < 0)
        return Lookup::NoKey;
    __gnu_cxx::stdio_filebuf<char> file(fd, std::ios::in | std::ios::binary);  // closes fd
    std::istream in(&file);

    const std::string wanted = AsciiLower(kWarcraftKey);
    const std::string wantedPrefix = wanted + "\\";
    bool keySeen = false;
    bool inKey = false;
    bool found = false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] == '[') {
            size_t pos = 1;
            wxString name;
            inKey = false;
            if (!Unescape(line, pos, ']', name))
                continue;
            std::string folded = FoldAscii(name);
            if (folded == wanted) {
                keySeen = true;
                inKey = true;
            } else if (folded.compare(0, wantedPrefix.size(), wantedPrefix) == 0) {
                keySeen = true;  // a subkey exists, so the key does too
            }
            continue;
        }
        if (!inKey || found || line.empty() || line[0] != '"')
            continue;
        size_t pos = 1;
        wxString valueName;
        if (!Unescape(line, pos, '"', valueName) || FoldAscii(valueName) != kUserNameValue)
            continue;
        if (pos >= line.size() || line[pos] != '=')
            continue;
        ++pos;
        // Only a plain string value ("...") is a readable user name; str(2):, hex: and dword: are not.
        if (pos >= line.size() || line[pos] != '"')
            continue;
        ++pos;
        wxString text;
        if (!Unescape(line, pos, '"', text))
            continue;
        value = ToGbk(text);
        found = true;
    }
    if (found)
        return Lookup::Found;
    return keySeen ? Lookup::KeyWithoutValue : Lookup::NoKey;
}

std::string WinePrefixUserReg()
{
    const char* prefix = std::getenv("WINEPREFIX");
    if (prefix && *prefix)
        return std::string(prefix) + "/user.reg";
    const char* home = std::getenv("HOME");
    if (home && *home)
        return std::string(home) + "/.wine/user.reg";
    return std::string();
}

} // namespace

bool ReadWarcraftUserName(std::string& value)
{
    value.clear();
    Lookup result;
    const FakeRegistry& fake = Fake();
    if (fake.active) {
        if (!fake.keyPresent) {
            result = Lookup::NoKey;
        } else if (fake.value) {
            value = *fake.value;
            result = Lookup::Found;
        } else {
            result = Lookup::KeyWithoutValue;
        }
    } else {
        std::string path = WinePrefixUserReg();
        result = path.empty() ? Lookup::NoKey : LookUpRegFile(path, value);
    }

    switch (result) {
    case Lookup::Found:
        wxLogVerbose(wxS("Registry: Warcraft III user name \"%s\""), FromGbk(value));
        return true;
    case Lookup::KeyWithoutValue:
        wxLogVerbose(wxS("Registry: the Warcraft III key has no readable value \"userbnet\""));
        return true;
    case Lookup::NoKey:
        break;
    }
    wxLogVerbose(wxS("Registry: no Warcraft III key"));
    return false;
}

void SetFakeRegistryForTesting(bool keyPresent, const std::optional<std::string>& value)
{
    FakeRegistry& fake = Fake();
    fake.active = true;
    fake.keyPresent = keyPresent;
    fake.value = value;
}

void ClearFakeRegistryForTesting()
{
    Fake() = FakeRegistry();
}

} // namespace bcx
