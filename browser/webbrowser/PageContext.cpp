#include "browser/webbrowser/PageContext.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dlfcn.h>
#include <unistd.h>

#include <webkit2/webkit2.h>
#include <wx/log.h>

#include "browser/webbrowser/ProcessWatch.h"
#include "platform/Descriptors.h"

namespace bcx {
namespace {

// The extension of the page processes, in a directory of its own: next to the executable, or where the
// build put it.
const char* const kExtensionDirectory = "pageext";
const char* const kExtensionModule = "libbcxpageext.so";

// The directory of the page extension: next to the executable, or where the build put it; empty when
// neither holds it, or when BCX_NO_PAGE_EXTENSION is set in the environment (benchmarks and tests compare
// the engine with and without it).
std::string ExtensionDirectory()
{
    if (std::getenv("BCX_NO_PAGE_EXTENSION"))
        return std::string();
    std::vector<std::string> places;
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
        const std::string path(self, static_cast<size_t>(n));
        places.push_back(path.substr(0, path.rfind('/') + 1) + kExtensionDirectory);
    }
#ifdef BCX_PAGE_EXTENSION_DIR
    places.push_back(BCX_PAGE_EXTENSION_DIR);
#endif
    for (const std::string& place : places)
        if (::access((place + "/" + kExtensionModule).c_str(), R_OK) == 0)
            return place;
    return std::string();
}

WebKitWebContext* MakeContext()
{
    // Pages keep nothing on disk: site storage of every kind, cookies and the HTTP cache live in the
    // network process for as long as the program runs, within that process's memory limit.
    //
    // The engine opens its random source (/dev/urandom) without close-on-exec while the context is made
    // and keeps it open: it is marked here, for the processes the toolkit starts (the engine's own are
    // started through g_subprocess_launcher_spawnv below, which marks every descriptor).
    WebKitWebContext* context = nullptr;
    CloseOnExecDuring([&context] {
        WebKitWebsiteDataManager* manager = webkit_website_data_manager_new_ephemeral();
        context = WEBKIT_WEB_CONTEXT(g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", manager, nullptr));
        g_object_unref(manager);
    });
    // The page extension streams media and stops it when asked; whether it streams is handed to each page
    // process as it starts.
    const std::string extensions = ExtensionDirectory();
    if (extensions.empty())
        wxLogMessage(wxS("[browser] the page extension (%s) is missing: media the engine loads whole is buffered "
                         "on disk, its page is ended past the bound of files on disk, and a page's process is not "
                         "asked to release memory before its limit"),
                     wxString::FromUTF8(kExtensionModule));
    else
        webkit_web_context_set_web_extensions_directory(context, extensions.c_str());
    g_signal_connect(context, "initialize-web-extensions", G_CALLBACK(+[](WebKitWebContext* made, gpointer) {
                         webkit_web_context_set_web_extensions_initialization_user_data(
                             made, g_variant_new_boolean(pagewatch::Limits().mediaStreamed));
                     }), nullptr);
    // The engine's memory cache holds a page's resources (the decoded images among them) within its
    // capacity, drops the decoded data of images not shown for a while past it, and all of it when the
    // page extension asks it to release (above); it lets go of what pages left in it before each page the
    // program loads (ForgetCachedPages), so that the program's pages and what they show come from their
    // server. The document-viewer model turns that cache off: a page's decoded images then stay until the
    // page goes, whatever is asked, which is all that is left without the extension. Pages leave no copies
    // of themselves for going back (each view turns that off below).
    webkit_web_context_set_cache_model(context, extensions.empty() ? WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER
                                                                   : WEBKIT_CACHE_MODEL_DOCUMENT_BROWSER);
    pagewatch::StartWatching();
    return context;
}

void DisableFeature(WebKitSettings* settings, const char* identifier)
{
    WebKitFeatureList* features = webkit_settings_get_all_features();
    for (gsize i = 0; i < webkit_feature_list_get_length(features); ++i) {
        WebKitFeature* feature = webkit_feature_list_get(features, i);
        if (std::strcmp(webkit_feature_get_identifier(feature), identifier) == 0)
            webkit_settings_set_feature_enabled(settings, feature, FALSE);
    }
    webkit_feature_list_unref(features);
}

} // namespace

WebKitWebContext* PageContext()
{
    // Lives as long as the program, like the engine's default context.
    static WebKitWebContext* context = MakeContext();
    return context;
}

void ForgetCachedPages()
{
    // Asynchronous: the engine hands it to its page processes ahead of the load asked for next.
    webkit_website_data_manager_clear(webkit_web_context_get_website_data_manager(PageContext()),
                                      WEBKIT_WEBSITE_DATA_MEMORY_CACHE, 0, nullptr, nullptr, nullptr);
}

} // namespace bcx

// The toolkit's web view calls this to make its native view: on the program's context, not the
// engine's default one.
//
// preload="auto" in a page's markup loads no more than the clip's metadata by itself. Whatever the engine
// loads of a clip streams through the media pipeline's memory (the page extension), and the watch above
// bounds anything that a page process still holds on disk.
extern "C" GtkWidget* webkit_web_view_new(void)
{
    GtkWidget* view = webkit_web_view_new_with_context(bcx::PageContext());
    WebKitSettings* settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view));
    bcx::DisableFeature(settings, "MediaDataLoadsAutomatically");
    webkit_settings_set_enable_page_cache(settings, FALSE);
    return view;
}

// The engine starts its network and page processes with GLib's subprocess launcher, on the GUI thread.
// The program defines that function, as it does the view constructor above, so that every descriptor is
// close-on-exec right before each of those processes starts, whichever it is and whenever it comes: the
// engine and its threads open files without the flag at any time (its random source, its memory
// monitor's /proc and cgroup files). The descriptors the engine hands to the process
// (g_subprocess_launcher_take_fd) reach it all the same: GLib clears the flag on those in the child
// itself (or, where it uses posix_spawn, duplicates them onto their targets), whatever it was. What
// another thread opens without the flag between the marking and GLib's fork still reaches that process.
extern "C" GSubprocess* g_subprocess_launcher_spawnv(GSubprocessLauncher* launcher, const gchar* const* argv,
                                                    GError** error)
{
    using Spawn = GSubprocess* (*)(GSubprocessLauncher*, const gchar* const*, GError**);
    static const Spawn spawn = reinterpret_cast<Spawn>(dlsym(RTLD_NEXT, "g_subprocess_launcher_spawnv"));
    if (!spawn) {
        wxLogMessage(wxS("[browser] no process can be started: GLib's g_subprocess_launcher_spawnv is not found"));
        g_set_error_literal(error, G_SPAWN_ERROR, G_SPAWN_ERROR_FAILED, "g_subprocess_launcher_spawnv not found");
        return nullptr;
    }
    bcx::CloseOnExecAll();
    // Pages are painted on the processor unless the environment says otherwise. Painted with the GL
    // renderer, a page process keeps the images it has drawn as textures, which the engine does not give
    // back when asked to release; with a software GL (no graphics card, or none the driver supports) those
    // textures are the page process's own memory, and a long read of a page that keeps adding images
    // reaches its limit.
    g_subprocess_launcher_setenv(launcher, "WEBKIT_SKIA_ENABLE_CPU_RENDERING", "1", FALSE);
    return spawn(launcher, argv, error);
}
