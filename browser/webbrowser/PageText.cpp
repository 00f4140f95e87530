#include "browser/webbrowser/PageText.h"

#include <algorithm>
#include <cstdarg>
#include <cstring>

#include <dlfcn.h>

#include <wx/log.h>

#include <webkit2/webkit2.h>

#include "browser/PageLog.h"
#include "browser/webbrowser/EngineCode.h"
#include "browser/RecentEvents.h"
#include "platform/ProgramClock.h"

namespace bcx {
namespace {

// "…"
const char* const kEllipsis = "\xE2\x80\xA6";
// Lines about text shown cut: at most one a minute of each kind (a page may change its titles every second).
const uint32_t kCutLineMs = 60000;
// An option of a group is indented in the program's menu, as in the engine's.
const char* const kGroupIndent = "    ";
// On an item of the program's option menu: the option's index.
const char* const kIndexKey = "bcx-option";

// Characters of a tooltip, and of an option's title in the program's option menu.
const size_t kTooltipChars = 1000;
// Characters of an option's label in an option menu.
const size_t kOptionChars = 200;
// Options an option menu shows, and rows of a field's suggestions.
const size_t kMenuOptions = 500;
// Characters of a page's text in a label the engine shows (a script dialog's message, a field's
// validation message).
const size_t kLabelChars = 1000;

// The number of characters in utf8 up to maxChars + 1, and where the (maxChars + 1)th starts.
size_t CutPoint(const char* utf8, size_t maxChars, size_t& chars)
{
    chars = 0;
    size_t at = 0;
    for (; utf8[at] != '\0'; ++at) {
        // A byte that starts a character.
        if ((static_cast<unsigned char>(utf8[at]) & 0xC0) != 0x80 && ++chars > maxChars)
            return at;
    }
    return at;
}

bool Longer(const char* utf8, size_t maxChars)
{
    size_t chars = 0;
    CutPoint(utf8 ? utf8 : "", maxChars, chars);
    return chars > maxChars;
}

// utf8 (null: empty) cut to at most maxChars characters, at a character boundary, with an ellipsis when
// anything was cut.
std::string CutText(const char* utf8, size_t maxChars)
{
    if (!utf8)
        return std::string();
    size_t chars = 0;
    const size_t at = CutPoint(utf8, maxChars, chars);
    if (chars <= maxChars)
        return std::string(utf8, at);
    return std::string(utf8, at) + kEllipsis;
}

// True when utf8 is as CutText leaves it: at most maxChars characters and an ellipsis.
bool IsCut(const char* utf8, size_t maxChars)
{
    if (Longer(utf8, maxChars + 1))
        return false;
    const size_t length = std::strlen(utf8);
    const size_t ellipsis = std::strlen(kEllipsis);
    return length >= ellipsis && std::strcmp(utf8 + length - ellipsis, kEllipsis) == 0;
}

template <typename Function>
Function Toolkit(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}

// A page's text as the engine lays it out (a label: a script dialog's message, a form field's validation
// message; a row of a list: a field's suggestion): cut; false when it was short enough as it is.
bool CutPageText(const char* text, std::string& cut, RecentEvents<1>& lines, const wxString& kind)
{
    const size_t maxChars = kLabelChars;
    if (!text || !Longer(text, maxChars))
        return false;
    cut = CutText(text, maxChars);
    if (lines.Admit(ProgramClock::Now()))
        LogBrowser(wxString::Format(wxS("%s of %u characters or more is shown cut to its first %u"), kind,
                                    static_cast<unsigned>(maxChars + 1), static_cast<unsigned>(maxChars)));
    return true;
}

bool CutLabel(const char* text, std::string& cut)
{
    static RecentEvents<1> lines(kCutLineMs);
    return CutPageText(text, cut, lines, wxS("a page's text"));
}

// A row of a list the engine shows (a field's suggestions) is laid out by a text renderer that the
// engine made, with the text the row holds: the renderer gets it cut once it is set. The row keeps it
// whole, so that the suggestion picked is the page's own.
void CutRowText(GObject* renderer, GParamSpec*, gpointer)
{
    gchar* text = nullptr;
    g_object_get(renderer, "text", &text, nullptr);
    static RecentEvents<1> lines(kCutLineMs);
    std::string cut;
    // The text cut here is told of again (once this returns): it is not cut again.
    if (text && !IsCut(text, kLabelChars) && CutPageText(text, cut, lines, wxS("a row of a page's list")))
        g_object_set(renderer, "text", cut.c_str(), nullptr);
    g_free(text);
}

// Where the engine would add a row past the bound to a field's suggestion list, it is handed this mark
// instead.
int gDroppedRow;

bool DroppedRow(const GtkTreeIter* iter)
{
    return iter && iter->stamp == 0 && iter->user_data == &gDroppedRow;
}

void ActivateOption(GtkMenuItem* item, gpointer data)
{
    WebKitOptionMenu* options = static_cast<WebKitOptionMenu*>(data);
    webkit_option_menu_activate_item(options, GPOINTER_TO_UINT(g_object_get_data(G_OBJECT(item), kIndexKey)));
}

// The toolkit's menu goes once the engine's is closed.
void DestroyMenu(WebKitOptionMenu*, gpointer menu)
{
    gtk_widget_destroy(GTK_WIDGET(menu));
}

// The menu is deactivated before the item picked is activated: the engine's menu is closed after that.
void MenuDeactivated(GtkMenuShell*, gpointer data)
{
    g_idle_add_full(G_PRIORITY_DEFAULT, [](gpointer options) -> gboolean {
        webkit_option_menu_close(WEBKIT_OPTION_MENU(options));
        return G_SOURCE_REMOVE;
    }, g_object_ref(data), g_object_unref);
}

GtkWidget* MenuItem(WebKitOptionMenu* options, guint index, GtkWidget*& selected)
{
    WebKitOptionMenuItem* option = webkit_option_menu_get_item(options, index);
    std::string label = CutText(webkit_option_menu_item_get_label(option), kOptionChars);
    if (webkit_option_menu_item_is_group_child(option))
        label = kGroupIndent + label;
    GtkWidget* item = gtk_menu_item_new_with_label(label.c_str());
    const char* title = webkit_option_menu_item_get_tooltip(option);
    if (title && *title)
        gtk_widget_set_tooltip_text(item, CutText(title, kTooltipChars).c_str());
    if (webkit_option_menu_item_is_group_label(option) || !webkit_option_menu_item_is_enabled(option))
        gtk_widget_set_sensitive(item, FALSE);
    else {
        g_object_set_data(G_OBJECT(item), kIndexKey, GUINT_TO_POINTER(index));
        g_signal_connect(item, "activate", G_CALLBACK(ActivateOption), options);
    }
    if (webkit_option_menu_item_is_selected(option))
        selected = item;
    return item;
}

// The engine's menu for a select is shown by the engine when it is within the bounds; otherwise the
// program shows its own.
gboolean ShowOptionMenu(WebKitWebView* view, WebKitOptionMenu* options, GdkEvent* event, GdkRectangle* rectangle,
                        gpointer)
{
    const guint count = webkit_option_menu_get_n_items(options);
    guint selectedIndex = 0;
    bool longText = false;
    for (guint i = 0; i < count; ++i) {
        WebKitOptionMenuItem* option = webkit_option_menu_get_item(options, i);
        longText = longText || Longer(webkit_option_menu_item_get_label(option), kOptionChars) ||
                   Longer(webkit_option_menu_item_get_tooltip(option), kTooltipChars);
        if (webkit_option_menu_item_is_selected(option))
            selectedIndex = i;
    }
    if (count <= kMenuOptions && !longText)
        return FALSE;
    // The options around the selected one.
    const guint shown = static_cast<guint>(std::min<size_t>(count, kMenuOptions));
    const guint first = std::min(count - shown, selectedIndex > shown / 2 ? selectedIndex - shown / 2 : 0);
    if (shown < count)
        LogBrowser(wxString::Format(wxS("a menu of %u options shows the %u around the selected one (options %u to %u)"),
                                    count, shown, first + 1, first + shown));
    if (longText)
        LogBrowser(wxString::Format(wxS("a menu's options are shown cut to %u characters, their titles to %u"),
                                    static_cast<unsigned>(kOptionChars),
                                    static_cast<unsigned>(kTooltipChars)));
    GtkWidget* menu = gtk_menu_new();
    // The engine's menu lives as long as the toolkit's.
    g_object_set_data_full(G_OBJECT(menu), "bcx-options", g_object_ref(options), g_object_unref);
    GtkWidget* selected = nullptr;
    for (guint i = first; i < first + shown; ++i)
        gtk_menu_shell_append(GTK_MENU_SHELL(menu), MenuItem(options, i, selected));
    gtk_widget_show_all(menu);
    g_signal_connect(menu, "deactivate", G_CALLBACK(MenuDeactivated), options);
    g_signal_connect_object(options, "close", G_CALLBACK(DestroyMenu), menu, static_cast<GConnectFlags>(0));
    gtk_menu_attach_to_widget(GTK_MENU(menu), GTK_WIDGET(view), nullptr);
    gtk_menu_popup_at_rect(GTK_MENU(menu), gtk_widget_get_window(GTK_WIDGET(view)), rectangle,
                           GDK_GRAVITY_SOUTH_WEST, GDK_GRAVITY_NORTH_WEST, event);
    if (selected)
        gtk_menu_shell_select_item(GTK_MENU_SHELL(menu), selected);
    return TRUE;
}

} // namespace

void BoundOptionMenus(gpointer view)
{
    if (WEBKIT_IS_WEB_VIEW(view))
        g_signal_connect(view, "show-option-menu", G_CALLBACK(ShowOptionMenu), nullptr);
}

} // namespace bcx

// The toolkit's tooltips take their text here (the engine's for an element's title among them): at most the
// first thousand characters of it are laid out and shown.
extern "C" void gtk_tooltip_set_text(GtkTooltip* tooltip, const gchar* text)
{
    using SetText = void (*)(GtkTooltip*, const gchar*);
    static const SetText toolkit = bcx::Toolkit<SetText>("gtk_tooltip_set_text");
    if (!toolkit) {
        static bool logged = false;
        if (!logged)
            wxLogMessage(wxS("[browser] the toolkit's tooltips cannot be found: no tooltip is shown"));
        logged = true;
        return;
    }
    const size_t maxChars = bcx::kTooltipChars;
    size_t chars = 0;
    if (!text || (bcx::CutPoint(text, maxChars, chars), chars <= maxChars)) {
        toolkit(tooltip, text);
        return;
    }
    static bcx::RecentEvents<1> lines(bcx::kCutLineMs);
    if (lines.Admit(bcx::ProgramClock::Now()))
        bcx::LogBrowser(wxString::Format(wxS("a tooltip is shown cut to its first %u characters"),
                                         static_cast<unsigned>(maxChars)));
    toolkit(tooltip, bcx::CutText(text, maxChars).c_str());
}

// The labels the engine makes for a page's text (script dialogs, validation messages) take their text
// here: at most the first thousand characters of a page's text are laid out. Labels of the toolkit's and
// of the program's own windows are left as they are.
extern "C" void gtk_label_set_text(GtkLabel* label, const gchar* text)
{
    using SetText = void (*)(GtkLabel*, const gchar*);
    static const SetText toolkit = bcx::Toolkit<SetText>("gtk_label_set_text");
    std::string cut;
    const bool engine = bcx::IsEngineCode(__builtin_return_address(0));
    if (toolkit)
        toolkit(label, engine && bcx::CutLabel(text, cut) ? cut.c_str() : text);
}

// Labels the engine makes with their text: at most the first thousand characters of a page's text, as
// above. Those of the toolkit and of the program are left as they are.
extern "C" GtkWidget* gtk_label_new(const gchar* text)
{
    using New = GtkWidget* (*)(const gchar*);
    static const New toolkit = bcx::Toolkit<New>("gtk_label_new");
    std::string cut;
    const bool engine = bcx::IsEngineCode(__builtin_return_address(0));
    return toolkit ? toolkit(engine && bcx::CutLabel(text, cut) ? cut.c_str() : text) : nullptr;
}

extern "C" GtkWidget* gtk_label_new_with_mnemonic(const gchar* text)
{
    using New = GtkWidget* (*)(const gchar*);
    static const New toolkit = bcx::Toolkit<New>("gtk_label_new_with_mnemonic");
    std::string cut;
    const bool engine = bcx::IsEngineCode(__builtin_return_address(0));
    return toolkit ? toolkit(engine && bcx::CutLabel(text, cut) ? cut.c_str() : text) : nullptr;
}

// The same for text with markup (a validation message, with its font): its text is cut, its attributes kept.
extern "C" void gtk_label_set_markup(GtkLabel* label, const gchar* markup)
{
    using SetText = void (*)(GtkLabel*, const gchar*);
    static const SetText toolkit = bcx::Toolkit<SetText>("gtk_label_set_markup");
    static const SetText setText = bcx::Toolkit<SetText>("gtk_label_set_text");
    if (!toolkit || !setText)
        return;
    PangoAttrList* attributes = nullptr;
    char* text = nullptr;
    std::string cut;
    const bool engine = bcx::IsEngineCode(__builtin_return_address(0));
    if (!engine || !markup || !bcx::Longer(markup, bcx::kLabelChars) ||
        !pango_parse_markup(markup, -1, 0, &attributes, &text, nullptr, nullptr) || !bcx::CutLabel(text, cut)) {
        toolkit(label, markup);
    } else {
        setText(label, cut.c_str());
        gtk_label_set_attributes(label, attributes);
    }
    if (attributes)
        pango_attr_list_unref(attributes);
    g_free(text);
}

// The engine's suggestion list for a form field (a datalist's options, as the user types) is a list of
// rows that it adds and then sets one by one: rows past the bound are not added (the user narrows the
// list by typing more), and never laid out.
extern "C" void gtk_list_store_append(GtkListStore* store, GtkTreeIter* iter)
{
    using Append = void (*)(GtkListStore*, GtkTreeIter*);
    static const Append toolkit = bcx::Toolkit<Append>("gtk_list_store_append");
    const size_t maxRows = bcx::kMenuOptions;
    if (iter && bcx::IsEngineCode(__builtin_return_address(0)) &&
        static_cast<size_t>(gtk_tree_model_iter_n_children(GTK_TREE_MODEL(store), nullptr)) >= maxRows) {
        *iter = GtkTreeIter{0, &bcx::gDroppedRow, nullptr, nullptr};
        static bcx::RecentEvents<1> lines(bcx::kCutLineMs);
        if (lines.Admit(bcx::ProgramClock::Now()))
            bcx::LogBrowser(wxString::Format(wxS("a field's suggestions are shown up to the first %u"),
                                             static_cast<unsigned>(maxRows)));
        return;
    }
    if (toolkit)
        toolkit(store, iter);
}

// The text renderers the engine makes lay out its lists' rows (a field's suggestions): a row's text is
// laid out cut, as a label's.
extern "C" GtkCellRenderer* gtk_cell_renderer_text_new()
{
    using New = GtkCellRenderer* (*)();
    static const New toolkit = bcx::Toolkit<New>("gtk_cell_renderer_text_new");
    GtkCellRenderer* renderer = toolkit ? toolkit() : nullptr;
    if (renderer && bcx::IsEngineCode(__builtin_return_address(0)))
        g_signal_connect(renderer, "notify::text", G_CALLBACK(bcx::CutRowText), nullptr);
    return renderer;
}

extern "C" void gtk_list_store_set(GtkListStore* store, GtkTreeIter* iter, ...)
{
    if (bcx::DroppedRow(iter))
        return;
    va_list values;
    va_start(values, iter);
    gtk_list_store_set_valist(store, iter, values);
    va_end(values);
}
