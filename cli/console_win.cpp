#include "console.h"

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

// The console calls the handler on a thread of its own: it posts the interrupts to the watcher's
// thread as queued calls.
namespace {
std::atomic<InterruptWatcher *> watcher = nullptr;
std::atomic<int> interruptCount = 0;

BOOL WINAPI onConsoleControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    const int count = interruptCount.fetch_add(1) + 1;
    InterruptWatcher *target = watcher.load();
    if (count > 2 || !target)
        std::_Exit(130);
    QMetaObject::invokeMethod(
        target, count == 1 ? &InterruptWatcher::interrupted : &InterruptWatcher::quitRequested,
        Qt::QueuedConnection);
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
