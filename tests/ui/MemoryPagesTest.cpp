// The built-in pages as the browser fetches them: "memory:<name>" through the toolkit's file system.
// Every page is its head, the whole style sheet, then its body.

#include <memory>
#include <string>

#include <gtest/gtest.h>
#include <wx/filesys.h>
#include <wx/stream.h>

#include "ui/MemoryPages.h"

namespace {

const std::string kStyle =
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

const std::string kTitled = "<html><head><title>HOORAAAAAAAAAAY!</title><link rel=\"stylesheet\" "
                            "href=\"memory:style.css\" type=\"text/css\"><style type=\"text/css\">";
const std::string kUntitled =
    "<html><head><link rel=\"stylesheet\" href=\"memory:style.css\" type=\"text/css\"><style type=\"text/css\">";
const std::string kBanner = "<html><head><title>HOORAAAAAAAAAAY!</title><link rel=\"stylesheet\" "
                            "href=\"memory:style.css\" type=\"text/css\"><style>";

std::string Fetch(const std::string& name)
{
    wxFileSystem fs;
    std::unique_ptr<wxFSFile> file(fs.OpenFile(wxString::FromUTF8(("memory:" + name).c_str())));
    if (!file)
        return "<missing>";
    wxInputStream* in = file->GetStream();
    std::string bytes;
    char buffer[1024];
    while (in && !in->Eof()) {
        in->Read(buffer, sizeof buffer);
        if (in->LastRead() == 0)
            break;
        bytes.append(buffer, in->LastRead());
    }
    return bytes;
}

class MemoryPagesTest : public testing::Test {
protected:
    static void SetUpTestSuite() { bcx::RegisterMemoryPages(); }
};

TEST_F(MemoryPagesTest, StyleSheetIsServedAlone)
{
    EXPECT_EQ(kStyle, Fetch("style.css"));
}

TEST_F(MemoryPagesTest, FixedPagesAreHeadStyleSheetAndBody)
{
    const std::string back = "</style><script type=\"text/javascript\">setTimeout(function(){history.back();},3000);"
                             "</script>"
                             "</head><body><center><br/>";
    const std::string backLink = "<br/> Going back in 3 seconds... <br/><a href=\"javascript:history.back()\">"
                                 "Bring me back now!</a></center></body></html>";
    EXPECT_EQ(kTitled + kStyle + "</style></head><body><center><br/>Brawlcast welcome page...</center></body></html>",
              Fetch("browserstart.html"));
    EXPECT_EQ(kTitled + kStyle + "</style></head><body>Unknown page!</body></html>", Fetch("unknown.html"));
    EXPECT_EQ(kTitled + kStyle + back + "The game is now in your gamelist." + backLink, Fetch("addedgame.html"));
    EXPECT_EQ(kTitled + kStyle + back + "You already have that game in your list!" + backLink,
              Fetch("addgamefailed.html"));
}

TEST_F(MemoryPagesTest, PagesWithDeploymentLinks)
{
    std::string offline = Fetch("offline.html");
    const std::string offlineStart = kUntitled + kStyle +
                                     "</style></head><body>You are offline. You need an internet connection to "
                                     "use Brawlcast.<br/>Also verify that <a href=\"http://localhost\">";
    EXPECT_EQ(offlineStart, offline.substr(0, offlineStart.size()));
    EXPECT_EQ("http://localhost</a> is reachable.</body></html>", offline.substr(offlineStart.size()));

    std::string banner = Fetch("defaultad.html");
    EXPECT_EQ(kBanner + kStyle +
                  "body {overflow:hidden;margin:0px;}</style></head><body><center>"
                  "<a href=\"bcx:ext_browser/http://localhost\"><img src=\"http://localhost/adview.php\" "
                  "vspace=0 hspace=0 border=0></a></center></body></html>",
              banner);
}

TEST_F(MemoryPagesTest, AboutPageCarriesVersionLinksThanksAndDisclaimer)
{
    std::string about = Fetch("about.html");
    const std::string start = kTitled + kStyle +
                              "</style></head><body><h1>Brawlcast - Client</h1><table><tr><td><b>Version:</b></td>"
                              "<td>0.95.00</td>";
    ASSERT_EQ(start, about.substr(0, start.size()));
    auto at = [&](const std::string& fragment) { return about.find(fragment); };
    size_t homepage = at("<b>Homepage:</b></td><td><a href=\"bcx:ext_browser/http://localhost\">http://localhost</a><br/>");
    size_t authors = at("<b>Authors:</b>");
    size_t marketing = at("<b>Information and<br/>marketing questions:</b></td><td>"
                          "<a href=\"bcx:ext_mail/brawlcast@localhost\">brawlcast@localhost</a>");
    size_t beta = at("</table>Remember this is <b>BETA</b>. All bug reports to <a href=\"bcx:ext_mail/"
                     "brawlcast@localhost\">brawlcast@localhost</a> please.<br/>Or use the forum at <a href=\""
                     "bcx:ext_browser/http://localhost\">http://localhost</a><br/><br/><h3>We like to thank...</h3>");
    size_t thanks = at("all the streamers, Blizzard, all the viewers making Brawlcast such a success and of course "
                       "everyone we forgot!<br/><h3>Disclaimer</h3>");
    for (size_t position : {homepage, authors, marketing, beta, thanks})
        ASSERT_NE(std::string::npos, position);
    EXPECT_LT(homepage, authors);
    EXPECT_LT(authors, marketing);
    EXPECT_LT(marketing, beta);
    EXPECT_LT(beta, thanks);
    const std::string end = "</body></html>";
    EXPECT_EQ(end, about.substr(about.size() - end.size()));
}

TEST_F(MemoryPagesTest, UnknownNameIsNotServed)
{
    EXPECT_EQ("<missing>", Fetch("nosuchpage.html"));
}

} // namespace
