// Runs one whole update (the folder's files, then "done") to a TFTP server on this machine, through
// the program's window or through the updater alone, and reports how long it took from Start to
// the run's end.
//
//   tstx_bench_window FOLDER PORT [--updater]
//
// Without --updater it loads the program's window (offscreen, drawn as on screen) with FOLDER
// remembered, as the program shows it at start, and presses Start; with --updater it drives the
// updater object the same way without any window.
//
// Prints one line: "wall_s=T run=TEXT". Exits 0 only when the run was complete.

#include "qtftp.h"
#include "settings.h"
#include "startup.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true); // never the user's settings
    setUpApplication();
    const QStringList args = QCoreApplication::arguments();
    const bool updaterAlone = args.size() == 4 && args.at(3) == u"--updater"_s;
    bool portOk = false;
    const uint port = args.size() == 3 || updaterAlone ? args.at(2).toUInt(&portOk) : 0;
    if (!portOk || port == 0 || port > 65535) {
        QTextStream(stderr) << "usage: tstx_bench_window FOLDER PORT [--updater]\n";
        return 2;
    }
    const QUrl folder = QUrl::fromLocalFile(args.at(1));
    QSettings().clear();
    Settings::saveFolder(args.at(1));
    Settings::saveAddress(u"127.0.0.1"_s);

    QQmlApplicationEngine engine;
    std::unique_ptr<QTftp> alone;
    QTftp *tftp = nullptr;
    QObject *start = nullptr;
    if (updaterAlone) {
        alone = std::make_unique<QTftp>();
        tftp = alone.get();
        tftp->setRemoteAddress(u"127.0.0.1"_s);
    } else {
        engine.load(windowUrl());
        QObject *window = engine.rootObjects().value(0);
        if (!window)
            return 1;
        tftp = window->findChild<QTftp *>(u"qtftp"_s);
        start = window->findChild<QObject *>(u"startButton"_s);
    }
    tftp->setLocalAddress(u"127.0.0.1"_s);
    tftp->setRemotePort(quint16(port));

    QElapsedTimer clock;
    QObject::connect(tftp, &QTftp::updateCompleted, &app, &QCoreApplication::quit);
    QTimer::singleShot(300'000, &app, [] { QCoreApplication::exit(3); });
    // Once the window is on screen (or at once), Start as the technician presses it.
    QTimer::singleShot(updaterAlone ? 0 : 500, &app, [&] {
        clock.start();
        if (start) {
            QMetaObject::invokeMethod(start, "clicked");
        } else {
            tftp->buildFileList(folder);
            tftp->startUpdate();
        }
    });
    const int loopResult = QCoreApplication::exec();
    const double wallSeconds = double(clock.nsecsElapsed()) / 1e9;
    QTextStream(stdout) << u"wall_s=%1 run=%2\n"_s.arg(QString::number(wallSeconds, 'f', 3),
                                                       tftp->runText());
    return loopResult == 0 && tftp->runState() == QTftp::Complete ? 0 : 1;
}
