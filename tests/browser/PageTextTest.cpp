// Text a page has the program lay out on its one thread (an element's title as a tooltip, the options of a
// select, a script dialog's message, a field's suggestions) is shown cut, and the relay is served
// meanwhile; ordinary titles, selects, dialogs and suggestions work as ever. Lines about ended processes
// stay within their bound.

#include <algorithm>
#include <chrono>
#include <vector>

#include <cstring>

#include <gtk/gtk.h>
#include <wx/stattext.h>
#include <wx/uiaction.h>

#include "browser/webbrowser/EngineSignals.h"
#include "platform/ProgramClock.h"
#include "support/LogCapture.h"
#include "support/gui/PanelFixture.h"
#include "support/gui/X11Windows.h"

namespace {

using namespace bcxtest;
using Clock = std::chrono::steady_clock;

// The texts of the visible labels in widget and below.
void Labels(GtkWidget* widget, std::vector<std::string>& texts)
{
    if (GTK_IS_LABEL(widget) && gtk_widget_get_visible(widget))
        texts.push_back(gtk_label_get_text(GTK_LABEL(widget)));
    else if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(
            GTK_CONTAINER(widget),
            [](GtkWidget* child, gpointer out) { Labels(child, *static_cast<std::vector<std::string>*>(out)); },
            &texts);
}

std::string LongestLabel(GtkWidget* widget)
{
    std::vector<std::string> texts{""};
    Labels(widget, texts);
    return *std::max_element(texts.begin(), texts.end(), [](auto& a, auto& b) { return a.size() < b.size(); });
}

// The text of the tooltip on screen; empty when none is.
std::string ShownTooltip()
{
    std::string text;
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w; w = w->next)
        if (gtk_widget_get_mapped(GTK_WIDGET(w->data)) &&
            gtk_window_get_type_hint(GTK_WINDOW(w->data)) == GDK_WINDOW_TYPE_HINT_TOOLTIP)
            text = LongestLabel(GTK_WIDGET(w->data));
    g_list_free(windows);
    return text;
}

// The tree view in widget or below; null when there is none.
GtkTreeView* TreeViewIn(GtkWidget* widget)
{
    GtkTreeView* found = GTK_IS_TREE_VIEW(widget) ? GTK_TREE_VIEW(widget) : nullptr;
    GList* children = !found && GTK_IS_CONTAINER(widget) ? gtk_container_get_children(GTK_CONTAINER(widget)) : nullptr;
    for (GList* c = children; c && !found; c = c->next)
        found = TreeViewIn(GTK_WIDGET(c->data));
    g_list_free(children);
    return found;
}

// The list of the suggestions a field shows; null when none show.
GtkTreeView* ShownSuggestions()
{
    GtkTreeView* shown = nullptr;
    GList* windows = gtk_window_list_toplevels();
    for (GList* w = windows; w && !shown; w = w->next)
        if (gtk_widget_get_mapped(GTK_WIDGET(w->data)) && gtk_window_get_window_type(GTK_WINDOW(w->data)) == GTK_WINDOW_POPUP)
            shown = TreeViewIn(GTK_WIDGET(w->data));
    g_list_free(windows);
    return shown;
}

// The first of the suggestions a field shows, as its row holds it or (laidOut) as the row is laid out;
// empty when none show.
std::string FirstSuggestion(bool laidOut = false)
{
    GtkTreeView* rows = ShownSuggestions();
    GtkTreeModel* model = rows ? gtk_tree_view_get_model(rows) : nullptr;
    GtkTreeIter first;
    if (!model || gtk_tree_model_get_column_type(model, 0) != G_TYPE_STRING || !gtk_tree_model_get_iter_first(model, &first))
        return std::string();
    gchar* text = nullptr;
    if (laidOut) {
        GtkTreeViewColumn* column = gtk_tree_view_get_column(rows, 0);
        gtk_tree_view_column_cell_set_cell_data(column, model, &first, FALSE, FALSE);
        GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
        g_object_get(cells->data, "text", &text, nullptr);
        g_list_free(cells);
    } else {
        gtk_tree_model_get(model, &first, 0, &text, -1);
    }
    const std::string row = text ? text : "";
    g_free(text);
    return row;
}

class PageTextTest : public PanelTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(PanelTest::SetUp());
        ASSERT_TRUE(LogOn());
    }

    // The relay pings the client for about ms, while the real pointer moves over the view a little every
    // second when asked (a tooltip shows between moves): every echo is there within a second, and the
    // program's event loop is never away for a second.
    void ExpectServed(int ms, bool movePointer = false)
    {
        const wxPoint origin = view->GetScreenPosition();
        int step = 0;
        auto moved = Clock::now() - std::chrono::seconds(1);
        auto turn = Clock::now();
        Clock::duration away{};
        ScopedPumpHook hook([&] {
            away = std::max(away, Clock::now() - turn);
            turn = Clock::now();
            if (!movePointer || turn - moved < std::chrono::seconds(1))
                return;
            moved = turn;
            ++step;
            MovePointer(origin.x + 300 + step % 2 * 4, origin.y + 200 + step % 3 * 4);
        });
        const auto until = Clock::now() + std::chrono::milliseconds(ms);
        for (uint32_t marker = 1; Clock::now() < until; ++marker) {
            ASSERT_TRUE(RelayEchoed(relay, marker, 1000)) << marker;
            // The engine releases its script context after idle seconds, which the test build's
            // sanitizer reports falsely: a script is run now and then.
            EvalInPage(view, "0");
        }
        EXPECT_LT(away, std::chrono::seconds(1));
    }

    // A field with the suggestions that options adds (a script filling datalist l), clicked and typed "s"
    // into by the user.
    void TypeIntoField(const std::string& options, wxUIActionSimulator& keys)
    {
        server.AddPage("/field.html", Page("field", "<input id='i' list='l'><datalist id='l'></datalist><script>" +
                                                        options + "</script>"));
        Open(server.Url("/field.html"));
        ASSERT_TRUE(WaitForPageTitle(view, "field"));
        ASSERT_TRUE(MouseClick("i"));
        ASSERT_TRUE(PumpUntil([&] { return EvalInPage(view, "document.activeElement.id") == "i"; }));
        ASSERT_TRUE(keys.Text("s"));
    }
};

TEST_F(PageTextTest, ATooltipShowsTheStartOfAMegabyteTitleWhileTheRelayIsServed)
{
    const std::string fill = "<div id='t' style='position:fixed;left:0;top:0;width:100%;height:100%' ";
    server.AddPage("/plain.html", Page("plain", fill + "title='an ordinary title'>plain</div>"));
    // A megabyte of title, new every second.
    server.AddPage("/long.html", Page("long", fill + "></div><script>var n = 0; function retitle() { t.title = (n++ + "
                                                     "' text ').repeat(131072); } retitle(); setInterval(retitle, "
                                                     "1000);</script>"));
    Open(server.Url("/plain.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "plain"));
    ASSERT_NO_FATAL_FAILURE(ExpectServed(2000, true));
    EXPECT_TRUE(PumpUntil([] { return ShownTooltip() == "an ordinary title"; }));

    panel->LoadUrl(server.Url("/long.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "long"));
    ASSERT_NO_FATAL_FAILURE(ExpectServed(6000, true));
    const std::string shown = ShownTooltip();
    EXPECT_EQ(" text ", shown.substr(shown.find(' '), 6));
    EXPECT_EQ("\xE2\x80\xA6", shown.substr(shown.size() - 3));
    EXPECT_GT(1100u, shown.size());
}

TEST_F(PageTextTest, AHugeSelectShowsTheOptionsAroundTheSelectedOneAndTakesThePick)
{
    LogCapture log;
    // A hundred thousand options, the 50,000th selected, and one of a megabyte.
    server.AddPage("/select.html",
                   Page("select", "<select id='s' onchange='document.title = s.selectedIndex'></select><script>for "
                                  "(var i = 0; i < 100000; ++i) s.add(new Option('option ' + i)); s.add(new "
                                  "Option('long '.repeat(1 << 18))); s.selectedIndex = 50000;</script>"));
    Open(server.Url("/select.html"));
    ASSERT_TRUE(WaitForPageTitle(view, "select"));
    ASSERT_TRUE(MouseClick("s"));
    ASSERT_NO_FATAL_FAILURE(ExpectServed(3000, true));
    EXPECT_EQ(1u, log.Count("[browser] a menu of 100001 options shows the 500 around the selected one (options "
                            "49751 to 50250)"));
    // The user goes one option down and picks it.
    wxUIActionSimulator keys;
    ASSERT_TRUE(keys.Char(WXK_DOWN) && keys.Char(WXK_RETURN));
    EXPECT_TRUE(WaitForPageTitle(view, "50001"));
    // The options the menu leaves out are reached with the keys on the closed select.
    ASSERT_TRUE(keys.Char(WXK_END));
    EXPECT_TRUE(WaitForPageTitle(view, "100000"));
}

TEST_F(PageTextTest, AMegabyteDialogOrValidationMessageIsShownCutAndOrdinaryDialogsWork)
{
    server.AddPage("/dialog.html", Page("dialog", "<script>setTimeout(function() { alert('an ordinary message'); "
                                                  "alert('word '.repeat(200000)); document.title = 'closed'; }, "
                                                  "100);</script>"));
    server.AddPage("/form.html", Page("form", "<form><input id='i' required></form><script>setTimeout(function() { "
                                              "i.setCustomValidity('word '.repeat(200000)); i.reportValidity(); }, "
                                              "500);</script>"));
    Open(server.Url("/dialog.html"));
    GtkWidget* native = GTK_WIDGET(view->GetNativeBackend());
    ASSERT_TRUE(PumpUntil([&] {
        std::vector<std::string> texts;
        Labels(native, texts);
        return std::count(texts.begin(), texts.end(), "an ordinary message") == 1;
    }));
    // The user closes each dialog with the key.
    wxUIActionSimulator keys;
    ASSERT_TRUE(keys.Char(WXK_RETURN));
    ASSERT_NO_FATAL_FAILURE(ExpectServed(2000));
    const std::string shown = LongestLabel(native);
    EXPECT_EQ("word word ", shown.substr(0, 10));
    EXPECT_EQ(1003u, shown.size());
    ASSERT_TRUE(keys.Char(WXK_RETURN));
    ASSERT_TRUE(WaitForPageTitle(view, "closed"));
    panel->LoadUrl(server.Url("/form.html"));
    // The field's message, by the field.
    EXPECT_TRUE(PumpUntil([&] { return LongestLabel(GTK_WIDGET(frame->GetHandle())).size() == 1003; }));
    ASSERT_NO_FATAL_FAILURE(ExpectServed(2000));
}

TEST_F(PageTextTest, AFieldsSuggestionsShowTheFirstOnesAndTakeWhatTheUserTypes)
{
    wxUIActionSimulator keys;
    ASSERT_NO_FATAL_FAILURE(
        TypeIntoField("for (var k = 0; k < 100000; ++k) l.appendChild(new Option('', 's' + k));", keys));
    ASSERT_NO_FATAL_FAILURE(ExpectServed(2000));
    // A suggestion past the first ones, once the user typed enough of it.
    ASSERT_TRUE(keys.Text("9999"));
    ASSERT_TRUE(PumpUntil([&] { return EvalInPage(view, "i.value") == "s9999" && FirstSuggestion() == "s9999"; }))
        << EvalInPage(view, "i.value");
    ASSERT_TRUE(keys.Char(WXK_DOWN) && keys.Char(WXK_DOWN) && keys.Char(WXK_RETURN));
    EXPECT_TRUE(PumpUntil([&] { return EvalInPage(view, "i.value") == "s99990"; })) << EvalInPage(view, "i.value");
}

TEST_F(PageTextTest, AMegabyteSuggestionIsLaidOutCutWhileTheRelayIsServedAndPickedWhole)
{
    // A megabyte of suggestion first (as many characters as a field takes), and 600 more.
    wxUIActionSimulator keys;
    ASSERT_NO_FATAL_FAILURE(TypeIntoField("l.appendChild(new Option('', 's' + '\\u5B57'.repeat(350000))); for (var k "
                                          "= 0; k < 600; ++k) l.appendChild(new Option('', 's' + k));",
                                          keys));
    ASSERT_TRUE(PumpUntil([] { return ShownSuggestions() != nullptr; }));
    ASSERT_NO_FATAL_FAILURE(ExpectServed(3000));
    ASSERT_NE(nullptr, ShownSuggestions());
    EXPECT_EQ(500, gtk_tree_model_iter_n_children(gtk_tree_view_get_model(ShownSuggestions()), nullptr));
    const std::string laidOut = FirstSuggestion(true);
    ASSERT_EQ(1001, g_utf8_strlen(laidOut.c_str(), -1)) << laidOut.substr(0, 20);
    EXPECT_EQ("s\xE5\xAD\x97", laidOut.substr(0, 4));
    EXPECT_EQ("\xE2\x80\xA6", laidOut.substr(laidOut.size() - 3));
    // The user picks it: the field gets the whole of it.
    ASSERT_TRUE(keys.Char(WXK_DOWN) && keys.Char(WXK_RETURN));
    EXPECT_TRUE(PumpUntil([&] { return EvalInPage(view, "i.value.length") == "350001"; }));
}

// The program's own labels, also those it makes with their text, are shown whole however long.
TEST_F(PageTextTest, TheProgramsOwnLongLabelsAreNotCut)
{
    const std::string text(5000, 'p');
    wxStaticText* label = new wxStaticText(frame, wxID_ANY, wxString::FromUTF8(text.c_str()));
    EXPECT_EQ(text, gtk_label_get_text(GTK_LABEL(label->GetHandle())));
    GtkWidget* made = g_object_ref_sink(gtk_label_new(text.c_str()));
    EXPECT_EQ(text, gtk_label_get_text(GTK_LABEL(made)));
    gtk_label_set_markup(GTK_LABEL(made), ("<b>" + text + "</b>").c_str());
    EXPECT_EQ(text, gtk_label_get_text(GTK_LABEL(made)));
    g_object_unref(made);
}

TEST_F(PageTextTest, LinesAboutEndedProcessesStayWithinTheirBound)
{
    struct ManualClock {
        ManualClock() { bcx::ProgramClock::SetManual(true), bcx::ProgramClock::Set(1000); }
        ~ManualClock() { bcx::ProgramClock::SetManual(false); }
    } clock;
    LogCapture log;
    server.AddPage("/page.html", Page("page", "page"));
    Open(server.Url("/page.html"));
    // A page stopped again and again within a minute, as a process the engine starts again would be.
    for (int n = 0; n < 15; ++n) {
        ASSERT_TRUE(WaitForPageTitle(view, "page"));
        bcx::StopPage(view->GetNativeBackend(), wxS("once more"));
        panel->LoadUrl(server.Url("/page.html"));
    }
    EXPECT_EQ(10u, log.Count("[browser] page stopped: once more"));
    EXPECT_EQ(1u, log.Count("[browser] 10 lines about ended processes within 60 seconds; lines past that bound are "
                            "not logged"));
    bcx::ProgramClock::Advance(60000);
    ASSERT_TRUE(WaitForPageTitle(view, "page"));
    bcx::StopPage(view->GetNativeBackend(), wxS("once more"));
    EXPECT_EQ(11u, log.Count("[browser] page stopped: once more"));
}

} // namespace
