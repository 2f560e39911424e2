#include "ui/window/QuitOnTermination.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <string>

#include "foundation/Log.h"

namespace velto {

namespace {

// The handler may only write: the signal comes between any two instructions of the program.
int wakeFds[2] = {-1, -1};

constexpr int endingSignals[] = {SIGTERM, SIGHUP, SIGINT};

void onTerminate(int signal) {
    const int saved = errno;
    const char byte = static_cast<char>(signal);
    [[maybe_unused]] auto written = ::write(wakeFds[1], &byte, 1);
    errno = saved;
}

}  // namespace

QuitOnTermination::QuitOnTermination(QObject* parent) : QObject(parent) {
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        Log::error("app", "no pipe for signals; a logout ends the program without saving");
        return;
    }
    notifier_ = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [] {
        char bytes[16];
        ssize_t count = 0;
        int last = 0;
        while ((count = ::read(wakeFds[0], bytes, sizeof bytes)) > 0) last = bytes[count - 1];
        const char* name = last ? sigabbrev_np(last) : nullptr;
        Log::info("app", (name ? "SIG" + std::string(name) : std::string("a signal")) + ": quitting");
        QCoreApplication::quit();
    });
    struct sigaction action {};
    action.sa_handler = &onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : endingSignals) ::sigaction(signal, &action, nullptr);
}

QuitOnTermination::~QuitOnTermination() {
    if (!notifier_) return;
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (const int signal : endingSignals) ::sigaction(signal, &action, nullptr);
    delete notifier_;
    ::close(wakeFds[0]);
    ::close(wakeFds[1]);
    wakeFds[0] = wakeFds[1] = -1;
}

}  // namespace velto
