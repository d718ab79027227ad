#include "console.h"

#include "interruptpolicy.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#ifndef NOMINMAX
#    define NOMINMAX
#endif
#include <io.h>
#include <windows.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#    define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

using namespace Qt::StringLiterals;

namespace {
CONSOLE_SCREEN_BUFFER_INFO screenInfo()
{
    CONSOLE_SCREEN_BUFFER_INFO info {};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return {};
    return info;
}
} // namespace

bool Console::takesEscapes(std::FILE *stream)
{
    if (!_isatty(_fileno(stream)))
        return false;
    const HANDLE handle = GetStdHandle(stream == stdout ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode)
        && SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

int Console::columns()
{
    const SMALL_RECT window = screenInfo().srWindow;
    return window.Right > window.Left ? window.Right - window.Left + 1 : 80;
}

int Console::rows()
{
    const SMALL_RECT window = screenInfo().srWindow;
    return window.Bottom > window.Top ? window.Bottom - window.Top + 1 : 24;
}

// Windows sends no signal for a closed pipe: the write fails, and writeTo stops using it.
void Console::keepRunningWithoutOutput() { }

// Sockets are handles, not C run-time files: no limit of this kind applies to them.
qint64 Console::raiseOpenFileLimit()
{
    return -1;
}

// QSaveFile is not used: in Qt 6.4 its commit() did not report a flush that failed on a full
// disk, and the old report was replaced by an empty one.
QString Console::replaceFile(const QString &path, const std::function<QByteArray()> &nextPiece)
{
    const QFileInfo target(path);
    QFile temporary;
    for (int attempt = 0; attempt < 100 && !temporary.isOpen(); ++attempt) {
        temporary.setFileName(target.absolutePath() + u"/."_s + target.fileName() + u".tmp-"_s
                              + QString::number(GetCurrentProcessId()) + u'-'
                              + QString::number(attempt));
        if (!temporary.open(QIODevice::WriteOnly | QIODevice::NewOnly) && temporary.exists())
            continue;
        if (!temporary.isOpen())
            return temporary.errorString();
    }
    if (!temporary.isOpen())
        return temporary.errorString();
    QString error;
    for (QByteArray bytes = nextPiece(); !bytes.isEmpty() && error.isEmpty(); bytes = nextPiece()) {
        if (temporary.write(bytes) != bytes.size())
            error = temporary.errorString();
    }
    if (error.isEmpty() && !temporary.flush())
        error = temporary.errorString();
    if (error.isEmpty()
        && !FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(temporary.handle()))))
        error = u"the report could not be flushed to the disk"_s;
    temporary.close();
    if (error.isEmpty()
        && !MoveFileExW(reinterpret_cast<const wchar_t *>(temporary.fileName().utf16()),
                        reinterpret_cast<const wchar_t *>(target.absoluteFilePath().utf16()),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        error = u"it could not replace the file (error %1)"_s.arg(GetLastError());
    if (!error.isEmpty())
        temporary.remove();
    return error;
}

// The console calls the handler on a thread of its own: it posts the interrupts to the watcher's
// thread as queued calls.
namespace {
std::atomic<InterruptWatcher *> watcher = nullptr;
InterruptPolicy policy;

BOOL WINAPI onConsoleControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    InterruptWatcher *target = watcher.load();
    if (!target)
        std::_Exit(InterruptPolicy::exitStatus);
    switch (policy.onInterrupt((long long)GetTickCount64())) {
    case InterruptPolicy::Action::Interrupt:
        QMetaObject::invokeMethod(target, &InterruptWatcher::interrupted, Qt::QueuedConnection);
        break;
    case InterruptPolicy::Action::Quit:
        QMetaObject::invokeMethod(
            target,
            [target] {
                policy.quitAnswered();
                emit target->quitRequested();
            },
            Qt::QueuedConnection);
        break;
    case InterruptPolicy::Action::Ignore:
        break;
    case InterruptPolicy::Action::ExitNow:
        std::_Exit(InterruptPolicy::exitStatus);
    }
    return TRUE;
}
} // namespace

InterruptWatcher::InterruptWatcher(QObject *parent)
    : QObject(parent)
{
    watcher.store(this);
    SetConsoleCtrlHandler(onConsoleControl, TRUE);
}

InterruptWatcher::~InterruptWatcher()
{
    SetConsoleCtrlHandler(onConsoleControl, FALSE);
    watcher.store(nullptr);
}
