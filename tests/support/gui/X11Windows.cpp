#include "support/gui/X11Windows.h"

#include <algorithm>

#include <dlfcn.h>

#include <wx/utils.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace bcxtest {
namespace {

class DisplayConnection {
public:
    DisplayConnection() : mDisplay(XOpenDisplay(nullptr)) {}
    ~DisplayConnection()
    {
        if (mDisplay)
            XCloseDisplay(mDisplay);
    }
    ::Display* get() const { return mDisplay; }

private:
    ::Display* mDisplay;
};

std::string WindowTitle(::Display* display, Window window)
{
    Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format, &count, &after, &data) ==
            Success &&
        data) {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
        return title;
    }
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

} // namespace

std::vector<TopWindow> ListTopWindows()
{
    std::vector<TopWindow> result;
    DisplayConnection connection;
    ::Display* display = connection.get();
    if (!display)
        return result;
    Window root = DefaultRootWindow(display);
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, root, &rootReturn, &parent, &children, &count))
        return result;
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(display, children[i], &attributes))
            continue;
        TopWindow window;
        window.id = children[i];
        window.title = WindowTitle(display, children[i]);
        window.viewable = attributes.map_state == IsViewable;
        window.x = attributes.x;
        window.y = attributes.y;
        window.width = attributes.width;
        window.height = attributes.height;
        result.push_back(window);
    }
    if (children)
        XFree(children);
    return result;
}

bool CloseTopWindow(unsigned long id)
{
    DisplayConnection connection;
    ::Display* display = connection.get();
    if (!display)
        return false;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = id;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, id, False, NoEventMask, &event);
    XFlush(display);
    return true;
}

bool MovePointer(int x, int y)
{
    DisplayConnection connection;
    ::Display* display = connection.get();
    if (!display)
        return false;
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
    XFlush(display);
    return true;
}

bool DisplayAccepts()
{
    DisplayConnection connection;
    return connection.get() != nullptr;
}

bool WheelStepDown()
{
    // The XTest library that the toolkit's own input simulation uses, found by name: the GUI suites
    // need nothing of it but this.
    using FakeButton = int (*)(::Display*, unsigned int, Bool, unsigned long);
    static void* library = dlopen("libXtst.so.6", RTLD_NOW | RTLD_LOCAL);
    static FakeButton fake = library ? reinterpret_cast<FakeButton>(dlsym(library, "XTestFakeButtonEvent")) : nullptr;
    if (!fake)
        return false;
    DisplayConnection connection;
    ::Display* display = connection.get();
    if (!display)
        return false;
    fake(display, 5, True, CurrentTime);
    fake(display, 5, False, CurrentTime);
    XFlush(display);
    return true;
}

std::vector<unsigned char> GrabScreen(int x, int y, int& width, int& height)
{
    std::vector<unsigned char> pixels;
    // What this process drew so far reaches the screen before it is read.
    const wxDisplayInfo toolkit = wxGetDisplayInfo();
    if (toolkit.type == wxDisplayX11 && toolkit.dpy)
        XSync(static_cast<::Display*>(toolkit.dpy), False);
    DisplayConnection connection;
    ::Display* display = connection.get();
    if (!display)
        return pixels;
    int screen = DefaultScreen(display);
    int screenWidth = DisplayWidth(display, screen), screenHeight = DisplayHeight(display, screen);
    int left = std::max(0, x), top = std::max(0, y);
    int right = std::min(screenWidth, x + width), bottom = std::min(screenHeight, y + height);
    if (right <= left || bottom <= top)
        return pixels;
    width = right - left;
    height = bottom - top;
    XImage* image = XGetImage(display, DefaultRootWindow(display), left, top, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (!image)
        return pixels;
    pixels.resize(static_cast<size_t>(width) * height * 3);
    size_t at = 0;
    for (int row = 0; row < height; ++row) {
        for (int column = 0; column < width; ++column) {
            unsigned long pixel = XGetPixel(image, column, row);
            pixels[at++] = static_cast<unsigned char>((pixel & image->red_mask) >> 16);
            pixels[at++] = static_cast<unsigned char>((pixel & image->green_mask) >> 8);
            pixels[at++] = static_cast<unsigned char>(pixel & image->blue_mask);
        }
    }
    XDestroyImage(image);
    return pixels;
}

} // namespace bcxtest
