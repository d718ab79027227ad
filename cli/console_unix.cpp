#include "console.h"

#include "interruptpolicy.h"

#include <QFile>
#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <string_view>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

// QSaveFile is not used: in Qt 6.4 its commit() did not report a flush that failed on a full
// disk, and the old report was replaced by an empty one.
QString Console::replaceFile(const QString &path, const std::function<QByteArray()> &nextPiece)
{
    const QByteArray target = QFile::encodeName(path);
    const qsizetype nameStart = target.lastIndexOf('/') + 1;
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = target.left(nameStart) + '.' + target.mid(nameStart) + ".tmp-"
            + QByteArray::number(::getpid()) + '-' + QByteArray::number(attempt);
        fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    // The new file keeps the permissions of the one it replaces.
    struct stat previous
    {
    };
    if (::stat(target.constData(), &previous) == 0)
        ::fchmod(fd, previous.st_mode & 07777);
    int error = 0;
    for (QByteArray bytes = nextPiece(); !bytes.isEmpty() && error == 0; bytes = nextPiece()) {
        for (qsizetype written = 0; written < bytes.size() && error == 0;) {
            const ssize_t n
                = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
            if (n >= 0)
                written += n;
            else if (errno != EINTR)
                error = errno;
        }
    }
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), target.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        return QString::fromLocal8Bit(std::strerror(error));
    }
    // The rename made lasting too; a folder that cannot be synced still holds the whole file.
    const QByteArray folder = nameStart > 0 ? target.left(nameStart) : QByteArray(".");
    if (const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return {};
}

// The self-pipe: the signal handler may only do async-signal-safe things, so it writes the
// interrupt's number to a socket whose other end the event loop watches.
namespace {
int wakeSockets[2] = {-1, -1};
InterruptPolicy policy;

long long monotonicMs()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000LL + now.tv_nsec / 1'000'000;
}

extern "C" void onInterrupt(int)
{
    const InterruptPolicy::Action action = policy.onInterrupt(monotonicMs());
    if (action == InterruptPolicy::Action::Ignore)
        return;
    if (action == InterruptPolicy::Action::ExitNow) {
        [[maybe_unused]] const auto written = ::write(STDERR_FILENO, "\n", 1);
        std::_Exit(InterruptPolicy::exitStatus);
    }
    const char byte = action == InterruptPolicy::Action::Interrupt ? 1 : 2;
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
        if (byte == 1) {
            emit interrupted();
        } else {
            policy.quitAnswered();
            emit quitRequested();
        }
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
