#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <cstdio>
#include <functional>

// The terminal, the process's limits and the interrupt keys, one implementation per platform
// (console_unix.cpp, console_win.cpp).
namespace Console {
// True when stream (stdout or stderr) is a terminal that takes escape sequences for the cursor
// and colours (on Windows once virtual terminal processing could be switched on).
bool takesEscapes(std::FILE *stream);
// The size of the terminal on standard error; 80 columns and 24 rows when it cannot be told.
int columns();
int rows();
// A closed output (a pager quit, a killed tee) or a hung-up terminal (a dropped SSH session)
// must not end the run: writes to it then fail instead, and writeTo stops using it.
void keepRunningWithoutOutput();
// Raises the limit on open files as far as the system lets a user; how many files the process
// may have open now, or -1 where the platform has no such limit for sockets.
qint64 raiseOpenFileLimit();
// Replaces the file at path with the pieces that nextPiece gives until it gives an empty one, or
// leaves the file as it was: the pieces go to a new file beside it, every write checked, flushed
// to the disk, and only then renamed over it. Why it failed, or an empty text.
QString replaceFile(const QString &path, const std::function<QByteArray()> &nextPiece);
} // namespace Console

// Turns Ctrl+C (SIGINT or SIGTERM on Unix; Ctrl+C or Ctrl+Break on Windows) into signals in the
// thread that made the watcher: the first into interrupted(), the second into quitRequested().
// Later ones are ignored while the thread answers; one that comes when the thread has not taken
// up the quit for two seconds ends the process at once with status 130. One watcher per process.
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

signals:
    void interrupted();
    void quitRequested();
};
