#include "display.h"

#include "console.h"
#include "fleetrun.h"

using namespace Qt::StringLiterals;

namespace {
constexpr int redrawIntervalMs = 200;
} // namespace

QString printable(QStringView text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code >= 0x20 && (code < 0x7f || code > 0x9f))
            shown += c;
        else if (code == u'\n')
            shown += u"\\n"_s;
        else if (code == u'\r')
            shown += u"\\r"_s;
        else if (code == u'\t')
            shown += u"\\t"_s;
        else
            shown += u"\\x"_s + QString::number(code, 16).rightJustified(2, u'0');
    }
    return shown;
}

void writeTo(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

ProgressDisplay::ProgressDisplay(const FleetRun &run)
    : m_run(run)
    , m_live(Console::enableLiveDisplay())
{
    connect(&run, &FleetRun::deviceEnded, this, [this](int device) { message(endLine(device)); });
    if (m_live) {
        m_redrawTimer.setInterval(redrawIntervalMs);
        connect(&m_redrawTimer, &QTimer::timeout, this, &ProgressDisplay::redraw);
        m_redrawTimer.start();
    } else {
        connect(&run, &FleetRun::fileStarted, this, [this](int device) {
            const int file = m_run.currentFile(device);
            writeTo(stderr,
                    u"%1: file %2/%3 %4\n"_s.arg(
                        printable(m_run.outcome(device).device), QString::number(file + 1),
                        QString::number(m_run.fileCount()), printable(m_run.fileName(file))));
        });
    }
}

void ProgressDisplay::message(const QString &line)
{
    if (!m_live) {
        writeTo(stderr, line + u'\n');
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
    return u"%1: %2, files %3/%4, %5"_s.arg(
        printable(outcome.device), resultText(outcome.result), QString::number(outcome.filesSent),
        QString::number(m_run.fileCount()), printable(outcome.status));
}

QString ProgressDisplay::liveLine(int device) const
{
    const int file = m_run.currentFile(device);
    return u"%1  file %2/%3  %4  %5%"_s.arg(
        printable(m_run.outcome(device).device), QString::number(file + 1),
        QString::number(m_run.fileCount()), printable(m_run.fileName(file)),
        QString::number(m_run.percent(device)));
}

// Redraws the live block in place: back to its first line, the lasting lines that came since,
// then one line per running transmitter, cut to the width so none wraps, and the rest cleared.
void ProgressDisplay::redraw()
{
    QString out;
    if (m_drawnLines > 0)
        out += u"\r\x1b[%1A"_s.arg(m_drawnLines);
    for (const QString &line : std::as_const(m_lasting))
        out += u"\x1b[2K"_s + line + u'\n';
    m_lasting.clear();
    m_drawnLines = 0;
    const int width = qMax(10, Console::columns() - 1);
    for (int device = 0; device < m_run.deviceCount() && !m_finished; ++device) {
        if (m_run.outcome(device).result != DeviceOutcome::Running)
            continue;
        out += u"\x1b[2K"_s + liveLine(device).left(width) + u'\n';
        ++m_drawnLines;
    }
    writeTo(stderr, out + u"\x1b[J"_s);
}
