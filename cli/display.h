#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <cstdio>

class FleetRun;

// Text from outside (a device's ERROR message, file and device names) made safe for a terminal:
// C0 controls, DEL and C1 controls are shown as escapes (\n, \x1b, \x9b) instead of acting.
QString printable(QStringView text);
// Writes text to stream at once, in the local encoding.
void writeTo(std::FILE *stream, const QString &text);

// The progress of a run on standard error. On a terminal: one live line per running transmitter,
// redrawn five times a second, and above them a lasting line for each transmitter that ended.
// Elsewhere (a pipe, a log): a plain line as each file starts and as each transmitter ends.
class ProgressDisplay : public QObject
{
    Q_OBJECT

public:
    explicit ProgressDisplay(const FleetRun &run);

    // A lasting line, above the live ones.
    void message(const QString &line);
    // Removes the live lines; call before anything else is written.
    void finish();

private:
    [[nodiscard]] QString endLine(int device) const;
    [[nodiscard]] QString liveLine(int device) const;
    void redraw();

    const FleetRun &m_run;
    bool m_live = false;
    bool m_finished = false;
    int m_drawnLines = 0;
    QStringList m_lasting; // waiting to be drawn above the live lines
    QTimer m_redrawTimer;
};
