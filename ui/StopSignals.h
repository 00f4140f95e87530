#pragma once
// SIGINT and SIGTERM (Ctrl+C in the terminal, a service manager, the end of the desktop session) stop the
// program the way closing its window does, so that it ends through its usual shutdown and writes what the
// session changed. The signal handler only sets the request down in a pipe; the request is acted on from
// the GLib main loop at default priority, ahead of idle work (which a busy web page can hold back). The
// first SIGINT also gives SIGINT back its default action: a second Ctrl+C ends the program at once.

#include <functional>

class StopSignals {
public:
    // onStop runs on the GUI thread, from the main loop, once for every signal received (its number).
    explicit StopSignals(std::function<void(int signal)> onStop);
    // The requests stop being acted on; the handlers stay, so a signal during the rest of the shutdown
    // does not cut it short (a second SIGINT still does).
    ~StopSignals();

    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // False when the pipe could not be made: the signals keep their default action.
    bool Installed() const { return mSource != 0; }

private:
    std::function<void(int)> mOnStop;
    unsigned mSource = 0;
};
