#include "tools/orvex-log/StopSignals.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace orvex {

namespace {

int gStopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(gStopPipe[1], &c, 1);
    errno = saved;
}

} // namespace

int StopSignalDescriptor() {
    if (gStopPipe[0] < 0 && ::pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        struct sigaction sa {};
        sa.sa_handler = OnStopSignal;
        // A write of the JSON lines under way when the signal comes is finished,
        // not failed with EINTR: the stop is clean. poll() still wakes up.
        sa.sa_flags = SA_RESTART;
        sigemptyset(&sa.sa_mask);
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            ::sigaction(signal, &sa, nullptr);
    }
    return gStopPipe[0];
}

} // namespace orvex
