#include "ui/MemoryPages.h"

#include <wx/filesys.h>
#include <wx/fs_mem.h>

#include "core/Deployment.h"
#include "core/Version.h"

namespace bcx {
namespace {

const char* const kTitledHead =
    "<html><head><title>HOORAAAAAAAAAAY!</title><link rel=\"stylesheet\" href=\"memory:style.css\" "
    "type=\"text/css\"><style type=\"text/css\">";
const char* const kUntitledHead =
    "<html><head><link rel=\"stylesheet\" href=\"memory:style.css\" type=\"text/css\"><style type=\"text/css\">";
const char* const kBannerHead =
    "<html><head><title>HOORAAAAAAAAAAY!</title><link rel=\"stylesheet\" href=\"memory:style.css\" "
    "type=\"text/css\"><style>";

const char* const kStyleSheet =
    "A {color:#3333bb;font-weight:bold;}\n"
    "A:link {text-decoration:none;}\n"
    "A:visited {text-decoration:none;}\n"
    "A:active {text-decoration:none}\n"
    "A:hover {text-decoration:underline}\n"
    "h1 {  font-size: 14pt; }\n"
    "h2 {  font-size: 13pt; }\n"
    "h3 {  font-size: 12pt; }\n"
    "h4 {  font-size: 11pt; }\n"
    "body {font-weight:normal;font-family:Tahoma;font-size:10pt;margin:10px;}\n"
    "table {border:0px;width:100%;}\n"
    "li {list-style-type:square}\n"
    "td,th {font-family:Tahoma;font-size:10pt;text-align:left}\n"
    "blockquote {color:#C77E36;text-align:justify}\n";

// The pages after a game link go back by themselves after 3 seconds. The web view follows no refresh to
// a "javascript:" address, so a timer of the page's own does it.
const char* const kGoBackLater = "<script type=\"text/javascript\">setTimeout(function(){history.back();},3000);</script>";

std::string SiteUrl()
{
    return std::string("http://") + kWebSite;
}

std::string BrowserLink(const std::string& url, const std::string& text)
{
    return "<a href=\"bcx:ext_browser/" + url + "\">" + text + "</a>";
}

std::string MailLink(const std::string& address)
{
    return "<a href=\"bcx:ext_mail/" + address + "\">" + address + "</a>";
}

std::string AboutBody()
{
    const std::string site = SiteUrl();
    const std::string contact = kContactAddress;
    std::string body = "</style></head><body><h1>Brawlcast - Client</h1><table><tr><td><b>Version:</b></td><td>";
    body += FormatPackedVersion(ClientVersion);
    body += "</td></tr>";
    body += "<tr><td><b>Homepage:</b></td><td>" + BrowserLink(site, site) + "<br/></td></tr>";
    body += "<tr><td><b>Authors:</b></td><td>The Brawlcast developers</td></tr>";
    body += "<tr><td><b>Information and<br/>marketing questions:</b></td><td>" + MailLink(contact) + "</td></tr>";
    body += "</table>";
    body += "Remember this is <b>BETA</b>. All bug reports to " + MailLink(contact) +
            " please.<br/>Or use the forum at " + BrowserLink(site, site) + "<br/><br/>";
    body += "<h3>We like to thank...</h3>"
            "The testers of the early versions, all the streamers, Blizzard, all the viewers making Brawlcast such a "
            "success and of course everyone we forgot!<br/>";
    body += "<h3>Disclaimer</h3>"
            "<p>Using this program or any information derived from it for illegal activities such as hacking, "
            "cheating or pirating is prohibited. Our knowledge of the game mechanics comes from playing the game. "
            "The Warcraft III transfer protocols were learnt only by observing the network traffic; no reverse "
            "engineering was used and no protected files of the game were modified. Thanks to Blizzard for "
            "their great games!</p>";
    body += "</body></html>";
    return body;
}

struct Page {
    const char* name;
    const char* head; // null: the page is the style sheet alone
    std::string body;
};

} // namespace

wxString MemoryStyleSheet()
{
    return wxString::FromAscii(kStyleSheet);
}

void RegisterMemoryPages()
{
    wxFileSystem::AddHandler(new wxMemoryFSHandler);

    const std::string site = SiteUrl();
    const Page pages[] = {
        {"style.css", nullptr, std::string()},
        {"about.html", kTitledHead, AboutBody()},
        {"browserstart.html", kTitledHead,
         "</style></head><body><center><br/>Brawlcast welcome page...</center></body></html>"},
        {"offline.html", kUntitledHead,
         "</style></head><body>You are offline. You need an internet connection to use Brawlcast.<br/>"
         "Also verify that <a href=\"" + site + "\">" + site + "</a> is reachable.</body></html>"},
        {"unknown.html", kTitledHead, "</style></head><body>Unknown page!</body></html>"},
        {"addedgame.html", kTitledHead,
         std::string("</style>") + kGoBackLater + "</head><body><center>"
         "<br/>The game is now in your gamelist.<br/> Going back in 3 seconds... <br/>"
         "<a href=\"javascript:history.back()\">Bring me back now!</a></center></body></html>"},
        {"addgamefailed.html", kTitledHead,
         std::string("</style>") + kGoBackLater + "</head><body><center>"
         "<br/>You already have that game in your list!<br/> Going back in 3 seconds... <br/>"
         "<a href=\"javascript:history.back()\">Bring me back now!</a></center></body></html>"},
        {"defaultad.html", kBannerHead,
         "body {overflow:hidden;margin:0px;}</style></head><body><center><a href=\"bcx:ext_browser/" + site +
             "\"><img src=\"" + site + "/adview.php\" vspace=0 hspace=0 border=0></a></center></body></html>"},
    };

    for (const Page& page : pages) {
        std::string text;
        if (page.head)
            text = page.head;
        text += kStyleSheet;
        text += page.body;
        // The pages are ASCII; the memory file system stores the bytes as given.
        wxMemoryFSHandler::AddFile(wxString::FromAscii(page.name), text.data(), text.size());
    }
}

} // namespace bcx
