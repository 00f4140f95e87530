#pragma once
// Direct access to the test's X display (the one DISPLAY names): the top-level windows of every client
// on it (including a program under test started as a child process), closing one the way a window
// manager does (WM_DELETE_WINDOW), and reading screen pixels.

#include <string>
#include <vector>

namespace bcxtest {

struct TopWindow {
    unsigned long id = 0;
    std::string title; // _NET_WM_NAME (UTF-8), else WM_NAME
    bool viewable = false;
    int x = 0, y = 0, width = 0, height = 0;
};

// The children of the root window, in stacking order.
std::vector<TopWindow> ListTopWindows();

// Asks the window's client to close it (WM_PROTOCOLS / WM_DELETE_WINDOW). False when the display
// cannot be opened.
bool CloseTopWindow(unsigned long id);

// RGB bytes (3 per pixel, rows top to bottom) of a rectangle of the screen, clipped to the screen, with
// everything this process drew so far; width and height receive the clipped size. Empty on failure.
std::vector<unsigned char> GrabScreen(int x, int y, int& width, int& height);

// Moves the real pointer to (x, y) of the screen: its clients see motion as from the user's mouse. False
// when the display cannot be opened.
bool MovePointer(int x, int y);

// True when the display accepts a connection now.
bool DisplayAccepts();

// One real step of the mouse wheel, down, where the pointer is (XTest). False when the display or the
// extension cannot be had.
bool WheelStepDown();

} // namespace bcxtest
