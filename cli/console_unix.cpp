#include "console.h"

#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <string_view>

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

bool Console::enableLiveDisplay()
{
    const char *term = std::getenv("TERM");
    return ::isatty(STDERR_FILENO) == 1 && !(term && std::string_view(term) == "dumb");
}

int Console::columns()
{
    winsize size {};
    return ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
}

// The self-pipe: the signal handler may only do async-signal-safe things, so it writes one byte
// to a socket whose other end the event loop watches.
namespace {
int wakeSockets[2] = {-1, -1};
std::atomic<int> interruptCount = 0;

extern "C" void onInterrupt(int)
{
    if (interruptCount.fetch_add(1) > 0) {
        [[maybe_unused]] const auto written = ::write(STDERR_FILENO, "\n", 1);
        std::_Exit(130);
    }
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wakeSockets[0], &byte, 1);
}
} // namespace

InterruptWatcher::InterruptWatcher(QObject *parent)
    : QObject(parent)
{
    // Without the pair the signals keep their default: the program ends at once.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wakeSockets) != 0)
        return;
    auto *notifier = new QSocketNotifier(wakeSockets[1], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char byte = 0;
        [[maybe_unused]] const auto read = ::read(wakeSockets[1], &byte, 1);
        emit interrupted();
    });
    struct sigaction action
    {
    };
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

InterruptWatcher::~InterruptWatcher()
{
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    for (int &socket : wakeSockets) {
        if (socket >= 0)
            ::close(socket);
        socket = -1;
    }
}
