#include "console.h"

#include <QSocketNotifier>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <limits>
#include <string_view>

#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
winsize terminalSize()
{
    winsize size {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0)
        return {};
    return size;
}
} // namespace

bool Console::takesEscapes(std::FILE *stream)
{
    const char *term = std::getenv("TERM");
    return ::isatty(::fileno(stream)) == 1 && !(term && std::string_view(term) == "dumb");
}

int Console::columns()
{
    const winsize size = terminalSize();
    return size.ws_col > 0 ? size.ws_col : 80;
}

int Console::rows()
{
    const winsize size = terminalSize();
    return size.ws_row > 0 ? size.ws_row : 24;
}

void Console::keepRunningWithoutOutput()
{
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGHUP, SIG_IGN);
}

qint64 Console::raiseOpenFileLimit()
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur != limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur == RLIM_INFINITY ? std::numeric_limits<qint64>::max()
                                           : qint64(limit.rlim_cur);
}

// The self-pipe: the signal handler may only do async-signal-safe things, so it writes the
// interrupt's number to a socket whose other end the event loop watches.
namespace {
int wakeSockets[2] = {-1, -1};
std::atomic<int> interruptCount = 0;

extern "C" void onInterrupt(int)
{
    const int count = interruptCount.fetch_add(1) + 1;
    if (count > 2) {
        [[maybe_unused]] const auto written = ::write(STDERR_FILENO, "\n", 1);
        std::_Exit(130);
    }
    const char byte = char(count);
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
        if (::read(wakeSockets[1], &byte, 1) != 1)
            return;
        if (byte == 1)
            emit interrupted();
        else
            emit quitRequested();
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
