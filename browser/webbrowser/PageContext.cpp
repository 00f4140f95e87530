#include "browser/webbrowser/PageContext.h"

#include <webkit2/webkit2.h>

namespace bcx {
namespace {

PageLimits& Limits()
{
    static PageLimits limits;
    return limits;
}

WebKitMemoryPressureSettings* MemorySettings(unsigned limitMiB)
{
    WebKitMemoryPressureSettings* settings = webkit_memory_pressure_settings_new();
    webkit_memory_pressure_settings_set_memory_limit(settings, limitMiB);
    // The engine frees what it can from a third and from half of the limit on; at the limit the process
    // is ended. It looks once a second, so a page cannot run far past the limit between two looks.
    webkit_memory_pressure_settings_set_conservative_threshold(settings, 0.33);
    webkit_memory_pressure_settings_set_strict_threshold(settings, 0.5);
    webkit_memory_pressure_settings_set_kill_threshold(settings, 1.0);
    webkit_memory_pressure_settings_set_poll_interval(settings, 1.0);
    return settings;
}

WebKitWebContext* MakeContext()
{
    const PageLimits& limits = Limits();
    // Applies to the network processes started from now on: the program starts none before this.
    WebKitMemoryPressureSettings* network = MemorySettings(limits.networkProcessMiB);
    webkit_website_data_manager_set_memory_pressure_settings(network);
    webkit_memory_pressure_settings_free(network);

    // Pages keep nothing on disk: site storage of every kind, cookies and the HTTP cache live in the
    // network process for as long as the program runs, within that process's memory limit.
    WebKitWebsiteDataManager* manager = webkit_website_data_manager_new_ephemeral();
    WebKitMemoryPressureSettings* pages = MemorySettings(limits.pageProcessMiB);
    WebKitWebContext* context = WEBKIT_WEB_CONTEXT(g_object_new(
        WEBKIT_TYPE_WEB_CONTEXT, "website-data-manager", manager, "memory-pressure-settings", pages, nullptr));
    webkit_memory_pressure_settings_free(pages);
    g_object_unref(manager);
    // The engine caches nothing between loads: a page the program loads comes from its server, and a
    // page's resources take no memory once it is gone.
    webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
    return context;
}

} // namespace

void SetPageLimits(const PageLimits& limits)
{
    Limits() = limits;
}

WebKitWebContext* PageContext()
{
    // Lives as long as the program, like the engine's default context.
    static WebKitWebContext* context = MakeContext();
    return context;
}

} // namespace bcx

// The toolkit's web view calls this to make its native view: on the program's context, not the
// engine's default one.
extern "C" GtkWidget* webkit_web_view_new(void)
{
    return webkit_web_view_new_with_context(bcx::PageContext());
}
