// Uploads one file the way the window does (sendFile, the thread pool, the watcher,
// updateCompleted) to a TFTP server on this machine, and reports how long it took and how much
// memory the process needed at most.
//
//   tstx_bench_upload FILE PORT [--plain]
//
// --plain sends through QUdpSocket alone, the path of platforms without a native one (Windows).
//
// Prints one line: "wall_s=T peak_kib=K bytes=N progress_signals=S status=TEXT".
// Exits 0 only when the upload ended with "No Error" and the window would have seen the size,
// then the progress from 0 up to exactly its final value before the run ended.

#include "packets.h"
#include "qtftp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// The most memory the process has held so far, from the kernel's own count.
qint64 peakResidentKib()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').constFirst().toLongLong();
    }
    return -1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    // The upload touches no settings; keep any later change away from the user's own anyway.
    QStandardPaths::setTestModeEnabled(true);

    QTextStream err(stderr);
    const QStringList args = QCoreApplication::arguments();
    bool portOk = false;
    const bool plain = args.size() == 4 && args.at(3) == u"--plain"_s;
    const uint port = args.size() == 3 || plain ? args.at(2).toUInt(&portOk) : 0;
    if (!portOk || port == 0 || port > 65535) {
        err << "usage: tstx_bench_upload FILE PORT [--plain]\n";
        return 2;
    }
    const QFileInfo file(args.at(1));
    if (!file.isFile()) {
        err << "no such file: " << args.at(1) << '\n';
        return 2;
    }

    QTftp tftp;
    // Loopback only: the server runs on this machine.
    tftp.setRemoteAddress(u"127.0.0.1"_s);
    tftp.setLocalAddress(u"127.0.0.1"_s);
    tftp.setRemotePort(quint16(port));
    tftp.setPlainSocketPathForTesting(plain);

    // The window's view of the upload: the size first, then the progress from 0 to its end.
    bool sizeSignalled = false;
    QList<int> progressSeen;
    QObject::connect(&tftp, &QTftp::fileSizeChanged, &app, [&] { sizeSignalled = true; });
    QObject::connect(&tftp, &QTftp::fileProgressChanged, &app, [&](int progress) {
        if (progressSeen.isEmpty() && !sizeSignalled)
            progressSeen.append(-1); // marks a progress signal that came before the size
        progressSeen.append(progress);
    });

    QElapsedTimer clock;
    bool completed = false;
    int progressAtCompletion = -1;
    QString statusAtCompletion;
    QObject::connect(&tftp, &QTftp::updateCompleted, &app, [&] {
        completed = true;
        progressAtCompletion = tftp.fileProgress();
        statusAtCompletion = tftp.errorString();
        QCoreApplication::quit();
    });
    // A lost reply ends the upload after 10 s; this only guards against a hang of the tool.
    QTimer::singleShot(300'000, &app, [&] {
        err << "the upload did not end within 300 s\n";
        QCoreApplication::exit(3);
    });

    clock.start();
    if (!tftp.sendFile(QUrl::fromLocalFile(file.absoluteFilePath())))
        QTimer::singleShot(0, &tftp, &QTftp::updateCompleted);
    const int loopResult = QCoreApplication::exec();
    const double wallSeconds = double(clock.nsecsElapsed()) / 1e9;

    const bool progressInOrder = !progressSeen.isEmpty() && progressSeen.constFirst() == 0
        && std::is_sorted(progressSeen.cbegin(), progressSeen.cend());
    const bool progressComplete = progressAtCompletion == Tftp::bytesOnTheWire(file.size())
        && progressSeen.constLast() == progressAtCompletion;
    const bool ok = completed && loopResult == 0 && statusAtCompletion == u"No Error"_s
        && tftp.fileSize() == file.size() && progressInOrder && progressComplete;
    QTextStream out(stdout);
    out << u"wall_s=%1 peak_kib=%2 bytes=%3 progress_signals=%4 status=%5\n"_s.arg(
        QString::number(wallSeconds, 'f', 3), QString::number(peakResidentKib()),
        QString::number(file.size()), QString::number(progressSeen.size()), statusAtCompletion);
    if (!progressInOrder) {
        err << "the progress did not start at 0 after the size, or went backwards; first values"
               " (-1: before the size):";
        for (int progress : progressSeen.first(std::min<qsizetype>(progressSeen.size(), 10)))
            err << ' ' << progress;
        err << '\n';
    }
    if (!progressComplete) {
        err << "progress at the end was " << progressAtCompletion << ", expected "
            << Tftp::bytesOnTheWire(file.size()) << '\n';
    }
    return ok ? 0 : 1;
}
