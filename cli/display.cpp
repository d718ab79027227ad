#include "display.h"

#include "console.h"
#include "fleetrun.h"
#include "output.h"

using namespace Qt::StringLiterals;

namespace {
constexpr int redrawIntervalMs = 200;
} // namespace

ProgressDisplay::ProgressDisplay(const FleetRun &run)
    : m_run(run)
    , m_live(Console::takesEscapes(stderr))
{
    connect(&run, &FleetRun::deviceEnded, this, [this](int device) { message(endLine(device)); });
    if (m_live) {
        for (int device = 0; device < run.deviceCount(); ++device)
            m_nameWidth = qMax(m_nameWidth, printable(run.outcome(device).device).size());
        m_redrawTimer.setInterval(redrawIntervalMs);
        connect(&m_redrawTimer, &QTimer::timeout, this, &ProgressDisplay::redraw);
        m_redrawTimer.start();
    } else {
        connect(&run, &FleetRun::fileStarted, this, [this](int device) {
            const int file = m_run.currentFile(device);
            message(u"%1: file %2/%3 %4"_s.arg(
                printable(m_run.outcome(device).device), QString::number(file + 1),
                QString::number(m_run.fileCount()), printable(m_run.fileName(file))));
        });
    }
}

void ProgressDisplay::message(const QString &line)
{
    if (!m_live) {
        writeTo(stderr, timestamp() + u' ' + line + u'\n');
        return;
    }
    m_lasting.append(line);
    redraw();
}

void ProgressDisplay::finish()
{
    m_finished = true;
    m_redrawTimer.stop();
    if (m_live)
        redraw();
}

QString ProgressDisplay::endLine(int device) const
{
    const DeviceOutcome &outcome = m_run.outcome(device);
    return u"%1: %2, files %3/%4, %5 bytes, %6%7"_s.arg(
        printable(shownDevice(outcome)), inResultColour(stderr, outcome, shownResult(outcome)),
        QString::number(outcome.filesSent), QString::number(m_run.fileCount()),
        QString::number(outcome.bytes), printable(outcome.status), acceptedErrorsText(outcome));
}

QString ProgressDisplay::liveLine(int device) const
{
    const int file = m_run.currentFile(device);
    return u"%1  file %2/%3  %4  %5%"_s.arg(
        printable(m_run.outcome(device).device).leftJustified(m_nameWidth),
        QString::number(file + 1), QString::number(m_run.fileCount()),
        printable(m_run.fileName(file)), QString::number(m_run.percent(device)));
}

// Redraws the live block in place: back to its first line, everything below cleared (a long
// lasting line may have wrapped over several rows), the lasting lines that came since, then one
// line per running transmitter, cut to the width so none wraps. The block leaves a row for the
// latest lasting line and one for the cursor: above the top of the screen the cursor cannot go
// back, and stale lines would be left in the scrollback.
void ProgressDisplay::redraw()
{
    QString out;
    if (m_drawnLines > 0)
        out += u"\x1b[%1A"_s.arg(m_drawnLines);
    out += u"\r\x1b[J"_s;
    for (const QString &line : std::as_const(m_lasting))
        out += line + u'\n';
    m_lasting.clear();
    QList<int> running;
    for (int device = 0; device < m_run.deviceCount() && !m_finished; ++device) {
        if (m_run.outcome(device).result == DeviceOutcome::Running)
            running.append(device);
    }
    const int width = qMax(10, Console::columns() - 1);
    const int rows = qMax(1, Console::rows() - 2);
    const qsizetype shown = running.size() > rows ? rows - 1 : running.size();
    for (qsizetype i = 0; i < shown; ++i)
        out += liveLine(running.at(i)).left(width) + u'\n';
    if (shown < running.size())
        out += u"… and %1 more running"_s.arg(running.size() - shown).left(width) + u'\n';
    m_drawnLines = int(qMin(running.size(), qsizetype(rows)));
    writeTo(stderr, out);
}
