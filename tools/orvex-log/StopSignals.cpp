#include "tools/orvex-log/StopSignals.h"

#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

namespace orvex {

namespace {

int gStopPipe[2] = {-1, -1};

void OnStopSignal(int) {
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(gStopPipe[1], &c, 1);
}

} // namespace

int StopSignalDescriptor() {
    if (gStopPipe[0] < 0 && ::pipe2(gStopPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        struct sigaction sa {};
        sa.sa_handler = OnStopSignal;
        sigemptyset(&sa.sa_mask);
        for (int signal : {SIGINT, SIGTERM, SIGHUP})
            ::sigaction(signal, &sa, nullptr);
    }
    return gStopPipe[0];
}

} // namespace orvex
