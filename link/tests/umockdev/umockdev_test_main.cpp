// Entry of the test programs that run the real Linux HID layer against
// simulated devices: the process must run under umockdev's preload library
// (after the AddressSanitizer runtime in a sanitizer build).  When it does not,
// it executes itself again with the right LD_PRELOAD, so that the program can
// be started (and its tests listed) like any other test program.

#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

extern "C" void __asan_init() __attribute__((weak));

namespace {

constexpr const char* kPreload = "libumockdev-preload.so.0";

void RunUnderPreloadLibrary(char** argv) {
    const char* current = std::getenv("LD_PRELOAD");
    if (current && std::strstr(current, "libumockdev-preload")) return;
    std::string value;
    // The sanitizer runtime must be the first library of the process.
    if (&__asan_init != nullptr) {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&__asan_init), &info) && info.dli_fname)
            value = std::string(info.dli_fname) + ":";
    }
    value += kPreload;
    if (current && *current) value += std::string(":") + current;
    ::setenv("LD_PRELOAD", value.c_str(), 1);
    ::execv("/proc/self/exe", argv);
    std::perror("cannot run again under the umockdev preload library");
    std::exit(1);
}

} // namespace

int main(int argc, char** argv) {
    RunUnderPreloadLibrary(argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Session journals of the windows under test go to a folder of this run,
    // never to the user's state folder.
    QTemporaryDir stateHome;
    qputenv("XDG_STATE_HOME", stateHome.path().toLocal8Bit());
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
