#pragma once

#include <QObject>

// The terminal and the interrupt keys, one implementation per platform (console_unix.cpp,
// console_win.cpp).
namespace Console {
// True when standard error is a terminal that takes cursor movements (on Windows once virtual
// terminal processing could be switched on); otherwise the progress goes out as plain lines.
bool enableLiveDisplay();
// The width of the terminal on standard error; 80 when it cannot be told.
int columns();
} // namespace Console

// Turns the first Ctrl+C (SIGINT or SIGTERM on Unix; Ctrl+C or Ctrl+Break on Windows) into
// interrupted() in the thread that made the watcher. A second one ends the process at once with
// status 130. One watcher per process.
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject *parent = nullptr);
    ~InterruptWatcher() override;

signals:
    // Fires once, on the first interrupt.
    void interrupted();
};
