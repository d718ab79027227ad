#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class FleetRun;

// The progress of a run on standard error. On a terminal: one live line per running transmitter,
// as many as the terminal has rows for, redrawn five times a second, and above them a lasting
// line for each transmitter that ended. Elsewhere (a pipe, a log): a plain line, starting with
// the time, as each file starts and as each transmitter ends.
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
    qsizetype m_nameWidth = 0; // of the longest device name, so the live lines line up
    int m_drawnLines = 0;
    QStringList m_lasting; // waiting to be drawn above the live lines
    QTimer m_redrawTimer;
};
