#include "console.h"

#include <QMetaObject>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#define NOMINMAX
#include <io.h>
#include <windows.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#    define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

bool Console::enableLiveDisplay()
{
    if (!_isatty(_fileno(stderr)))
        return false;
    const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode)
        && SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

int Console::columns()
{
    CONSOLE_SCREEN_BUFFER_INFO info {};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return 80;
    return info.srWindow.Right - info.srWindow.Left + 1;
}

// The console calls the handler on a thread of its own: it posts the first interrupt to the
// watcher's thread as a queued call.
namespace {
std::atomic<InterruptWatcher *> watcher = nullptr;
std::atomic<int> interruptCount = 0;

BOOL WINAPI onConsoleControl(DWORD type)
{
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT)
        return FALSE;
    if (interruptCount.fetch_add(1) > 0)
        std::_Exit(130);
    if (InterruptWatcher *target = watcher.load())
        QMetaObject::invokeMethod(target, &InterruptWatcher::interrupted, Qt::QueuedConnection);
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
