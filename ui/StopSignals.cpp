#include "ui/StopSignals.h"

#include <cerrno>
#include <csignal>
#include <utility>

#include <fcntl.h>
#include <glib-unix.h>
#include <unistd.h>

namespace {

// Read end and write end; made once and kept for the life of the process, as the handlers are.
int gPipe[2] = {-1, -1};

void OnSignal(int signal)
{
    const int saved = errno;
    if (signal == SIGINT) {
        struct sigaction initial = {};
        initial.sa_handler = SIG_DFL;
        sigemptyset(&initial.sa_mask);
        sigaction(SIGINT, &initial, nullptr);
    }
    const unsigned char byte = static_cast<unsigned char>(signal);
    // A full pipe already holds requests: nothing is lost when this one does not fit.
    [[maybe_unused]] const ssize_t written = write(gPipe[1], &byte, 1);
    errno = saved;
}

gboolean OnRequest(gint fd, GIOCondition, gpointer data)
{
    auto* onStop = static_cast<std::function<void(int)>*>(data);
    unsigned char bytes[16];
    ssize_t count;
    while ((count = read(fd, bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < count; ++i)
            (*onStop)(bytes[i]);
    return G_SOURCE_CONTINUE;
}

} // namespace

StopSignals::StopSignals(std::function<void(int signal)> onStop) : mOnStop(std::move(onStop))
{
    if (gPipe[0] < 0 && pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        gPipe[0] = gPipe[1] = -1;
        return;
    }
    mSource = g_unix_fd_add_full(G_PRIORITY_DEFAULT, gPipe[0], G_IO_IN, OnRequest, &mOnStop, nullptr);
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

StopSignals::~StopSignals()
{
    if (mSource != 0)
        g_source_remove(mSource);
}
