// The program's extension of the engine's page processes: loaded into every page process (the engine
// context's web extensions directory), it keeps media streamed, and stops it when the program's process
// watch asks (PageMessages.h). When the watch asks, it also has the engine release what it can; it does
// nothing when a page loads.
//
// Media: the engine plays media with GStreamer's playbin, and whenever it wants a clip's data whole
// (preload "auto", which is also what a page gets without a preload attribute, play() and load()), it
// asks playbin to download: the source then writes the whole clip into a file under /var/tmp, deleted at
// once and held open, as fast as the server sends it. Here the download is turned off on every playbin
// and source bin of the process whenever it is turned on: the clip then streams through the pipeline's
// queue in memory (a few MB or seconds), read with range requests as playback goes, seeks included.
// Nothing is written to disk, and a clip nobody plays loads no more than that queue and the engine's
// source hold (2 % of the clip). From a server that says it does not answer ranges ("Accept-Ranges: none")
// the source reads the whole clip into memory and it plays (measured up to 114 MB), within the page
// process's memory limit. From one that answers a range request with the whole clip without saying so, the
// clip fails with a media error at the engine's first range request, whatever its size, also without this
// extension (docs/DESIGN.md has the figures).
//
// The elements are seen as GStreamer makes them, through a tracer hook. GStreamer's tracing table exists
// only once GStreamer is initialised, which the engine does when a page first uses media: the hook is
// registered at the first class that GStreamer initialises after that (a type system hook that sees every
// interface given to a class), before the first pipeline is made. A process whose pages have no media
// never loads GStreamer's registry for it, and the extension has no timer of its own.

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <vector>

#include <gst/gst.h>
#include <webkit2/webkit-web-extension.h>

#include "browser/pageext/PageMessages.h"

namespace {

// playbin's GST_PLAY_FLAG_DOWNLOAD (the enum is private to the playback plugin).
const guint kPlayFlagDownload = 1u << 7;

// Whether media is streamed: false leaves the engine's downloads as they are.
bool gStreamed = true;

// The playbins of the process, for stopping them; weak, so that a pipeline gone leaves null here.
std::mutex gPipelinesMutex;
std::vector<GWeakRef*> gPipelines;

void KeepDownloadOff(GObject* object, GParamSpec*, gpointer)
{
    gboolean download = FALSE;
    g_object_get(object, "download", &download, nullptr);
    if (download)
        g_object_set(object, "download", FALSE, nullptr);
}

void KeepPlayFlagDownloadOff(GObject* object, GParamSpec*, gpointer)
{
    guint flags = 0;
    g_object_get(object, "flags", &flags, nullptr);
    if (flags & kPlayFlagDownload)
        g_object_set(object, "flags", flags & ~kPlayFlagDownload, nullptr);
}

void RememberPipeline(GstElement* pipeline)
{
    std::lock_guard<std::mutex> lock(gPipelinesMutex);
    // Places of pipelines gone are taken again.
    for (GWeakRef* ref : gPipelines) {
        if (GObject* alive = static_cast<GObject*>(g_weak_ref_get(ref))) {
            g_object_unref(alive);
            continue;
        }
        g_weak_ref_set(ref, pipeline);
        return;
    }
    GWeakRef* ref = g_new0(GWeakRef, 1);
    g_weak_ref_init(ref, pipeline);
    gPipelines.push_back(ref);
}

// A new element of any pipeline of the process, on the thread that made it.
void ElementMade(GObject*, GstClockTime, GstElement* element)
{
    GObjectClass* type = G_OBJECT_GET_CLASS(element);
    GParamSpec* download = g_object_class_find_property(type, "download");
    if (download && download->value_type == G_TYPE_BOOLEAN) {
        if (!gStreamed)
            return;
        // uridecodebin, urisourcebin: the source bins that would buffer the clip in a file.
        g_signal_connect(element, "notify::download", G_CALLBACK(KeepDownloadOff), nullptr);
        KeepDownloadOff(G_OBJECT(element), nullptr, nullptr);
        return;
    }
    GstElementFactory* factory = gst_element_get_factory(element);
    const gchar* name = factory ? gst_plugin_feature_get_name(GST_PLUGIN_FEATURE(factory)) : nullptr;
    if (name && (g_str_equal(name, "playbin") || g_str_equal(name, "playbin3"))) {
        if (gStreamed) {
            g_signal_connect(element, "notify::flags", G_CALLBACK(KeepPlayFlagDownloadOff), nullptr);
            KeepPlayFlagDownloadOff(G_OBJECT(element), nullptr, nullptr);
        }
        RememberPipeline(element);
    }
}

// The tracer that holds the hook; it traces nothing else.
struct PageTracer {
    GstTracer parent;
};
struct PageTracerClass {
    GstTracerClass parent;
};
G_DEFINE_TYPE(PageTracer, page_tracer, GST_TYPE_TRACER)
void page_tracer_class_init(PageTracerClass*) {}
void page_tracer_init(PageTracer*) {}

std::atomic<bool> gHooked{false};

// Every interface given to a class of the process (few once the process runs): the first one after
// GStreamer is initialised registers the hook, once.
void InterfaceGiven(gpointer, gpointer)
{
    if (gHooked.load(std::memory_order_acquire) || !gst_is_initialized())
        return;
    static std::once_flag once;
    std::call_once(once, [] {
        GstTracer* tracer = GST_TRACER(g_object_new(page_tracer_get_type(), nullptr));
        gst_tracing_register_hook(tracer, "element-new", G_CALLBACK(ElementMade));
        gst_object_unref(tracer);
        gHooked.store(true, std::memory_order_release);
    });
}

gboolean SetToNull(gpointer pipeline)
{
    gst_element_set_state(GST_ELEMENT(pipeline), GST_STATE_NULL);
    gst_object_unref(pipeline);
    return G_SOURCE_REMOVE;
}

// Each pipeline reports a network error, as a failed load would, so that the engine gives up the clip
// and the page's element fires "error"; then, once the engine has taken the report, the pipeline is
// brought down, which closes what it held.
void StopMedia()
{
    std::vector<GstElement*> pipelines;
    {
        std::lock_guard<std::mutex> lock(gPipelinesMutex);
        for (GWeakRef* ref : gPipelines)
            if (GObject* alive = static_cast<GObject*>(g_weak_ref_get(ref)))
                pipelines.push_back(GST_ELEMENT(alive));
    }
    for (GstElement* pipeline : pipelines) {
        GError* error = g_error_new_literal(GST_RESOURCE_ERROR, GST_RESOURCE_ERROR_NO_SPACE_LEFT,
                                            "the program stopped this media: it held too much on disk");
        gst_element_post_message(pipeline, gst_message_new_error(GST_OBJECT(pipeline), error, nullptr));
        g_error_free(error);
        g_idle_add_full(G_PRIORITY_LOW, SetToNull, pipeline, nullptr);
    }
}

// The engine's release under critical memory pressure, as its own pressure monitor would run it: it drops
// the decoded data of images, the memory cache's resources, fonts and the like, collects garbage and
// gives free memory back. WTF::MemoryPressureHandler::singleton().releaseMemory(Critical::Yes,
// Synchronous::Yes), found by its exported name in the engine's JavaScriptCore library; nothing when it is
// not there. Run only when the program's watch asks, never on a page's load.
void ReleaseMemory()
{
    using Singleton = void* (*)();
    using Release = void (*)(void* handler, bool critical, bool synchronous);
    static const Singleton singleton =
        reinterpret_cast<Singleton>(dlsym(RTLD_DEFAULT, "_ZN3WTF21MemoryPressureHandler9singletonEv"));
    static const Release release = reinterpret_cast<Release>(
        dlsym(RTLD_DEFAULT, "_ZN3WTF21MemoryPressureHandler13releaseMemoryENS_8CriticalENS_11SynchronousE"));
    if (singleton && release)
        release(singleton(), true, true);
}

gboolean MessageReceived(WebKitWebExtension*, WebKitUserMessage* message, gpointer)
{
    const gchar* name = webkit_user_message_get_name(message);
    GVariant* parameters = webkit_user_message_get_parameters(message);
    if (!parameters || !g_variant_is_of_type(parameters, G_VARIANT_TYPE_UINT32) ||
        g_variant_get_uint32(parameters) != static_cast<guint32>(getpid()))
        return FALSE;
    if (g_str_equal(name, bcx::kStopMediaMessage))
        StopMedia();
    else if (g_str_equal(name, bcx::kReleaseMemoryMessage))
        ReleaseMemory();
    else
        return FALSE;
    return TRUE;
}

} // namespace

// The program hands over whether media is streamed (a boolean).
extern "C" G_MODULE_EXPORT void webkit_web_extension_initialize_with_user_data(WebKitWebExtension* extension,
                                                                              const GVariant* data)
{
    GVariant* streamed = const_cast<GVariant*>(data);
    gStreamed = !streamed || !g_variant_is_of_type(streamed, G_VARIANT_TYPE_BOOLEAN) || g_variant_get_boolean(streamed);
    g_type_add_interface_check(nullptr, InterfaceGiven);
    InterfaceGiven(nullptr, nullptr);
    g_signal_connect(extension, "user-message-received", G_CALLBACK(MessageReceived), nullptr);
}
