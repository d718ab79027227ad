// Shows the program's window in one state for a screenshot, then waits to be stopped.
//
//     tstx_windowshot STATE MARKER
//
// STATE: initial, ready, running, complete, stopped, warned, halted, stopping, long, dark, about
// or folder.
//
// Loads "qrc:/main.qml" as the program does and drives the window through its own actions and
// fields. When the state is on screen it writes the window's size ("640x280") to MARKER;
// scripts/screenshot then grabs that part of the screen and stops it. Settings live in a temporary
// folder; the only device is a local one on 127.0.0.1. For "running" it answers slowly, so the run
// is seen in its first file; for "stopped" it refuses the third file half-way; for "warned" it
// refuses the main image, whose ERROR is taken as received; "halted" is a slow run stopped by Stop;
// "stopping" the same while the device takes its time to answer the block under way; "long" is
// "stopped" with an ERROR text of 60,000 characters over several lines;
// "dark" is "complete" in a dark palette. "folder" shows the folder dialog opened in the sample
// folder, which has no subfolders.

#include "qtftp.h"
#include "scripteddevice.h"
#include "settings.h"
#include "startup.h"

#include <QDir>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

QObject *item(QQmlApplicationEngine &engine, const char *name)
{
    return engine.rootObjects().value(0)->findChild<QObject *>(QString::fromLatin1(name));
}

void trigger(QQmlApplicationEngine &engine, const char *action)
{
    QMetaObject::invokeMethod(item(engine, action), "trigger");
}

// Sample firmware of a few sizes, made up of arbitrary bytes, and an image whose name in capitals
// matches no firmware name, as a technician's folder may hold.
void writeSamples(const QString &folder)
{
    QDir().mkpath(folder);
    const QList<std::pair<QString, int>> samples {{u"7380-X-v1.2.bin"_s, 240000},
                                                  {u"7380-v1.2.bin"_s, 6000},
                                                  {u"7380KD-v1.0.bin"_s, 3000},
                                                  {u"7465-v3.1.bin"_s, 4000},
                                                  {u"7465-V3.0.BIN"_s, 4000}};
    for (const auto &[name, size] : samples) {
        QFile file(QDir(folder).filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(size, 'f')) != size)
            qFatal("cannot write the sample %s", qPrintable(file.fileName()));
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3) {
        std::fputs(
            "usage: tstx_windowshot initial|ready|running|complete|stopped|warned|halted|stopping|"
            "long|dark|about|folder MARKER_FILE\n",
            stderr);
        return 2;
    }
    const QByteArray state = argv[1];
    const QString marker = QFile::decodeName(argv[2]);

    // Never the user's own settings.
    QTemporaryDir scratch(QDir::tempPath() + u"/tstx-XXXXXX"_s);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.path() + u"/config"_s));
    qputenv("XDG_DATA_HOME", QFile::encodeName(scratch.path() + u"/data"_s));

    // Qt's Universal style in its dark theme, where a black logo would vanish.
    if (state == "dark") {
        qputenv("QT_QUICK_CONTROLS_STYLE", "Universal");
        qputenv("QT_QUICK_CONTROLS_UNIVERSAL_THEME", "Dark");
    }
    QGuiApplication app(argc, argv);
    setUpApplication();
    const QString folder = QDir(scratch.path()).filePath(u"Tessaline firmware/2026-03"_s);
    writeSamples(folder);
    // The folder chosen last: the window shows it at start, as after choosing it.
    if (state != "initial")
        Settings::saveFolder(folder);
    QQmlApplicationEngine engine;
    engine.load(windowUrl());
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window)
        return 1;
    window->setPosition(0, 0);

    // Acknowledges every block, slowly for "running" and "halted"; refuses block 3 of the third
    // file ("stopped") or of the first, the main image ("warned"), as a full disk.
    const int refusedFile = state == "stopped" || state == "long" ? 3 : state == "warned" ? 1 : 0;
    const QByteArray refusal = state == "long"
        ? "\0\5\0\3Disk full\nblock 3 of 7465-v3.1.bin\nretry later: "_ba + QByteArray(60000, 'x')
            + '\0'
        : "\0\5\0\3Disk full\0"_ba;
    int files = 0;
    ScriptedDevice device([&files, refusedFile, refusal](int n, const QByteArray &got) {
        files += int(got.startsWith("\0\2"_ba));
        if (files == refusedFile && got.startsWith("\0\3\0\3"_ba))
            return QByteArrayList {refusal};
        return ScriptedDevice::acknowledge(n, got);
    });
    const bool slow = state == "running" || state == "halted" || state == "stopping";
    device.delayMs = slow ? 10 : 0;
    if (state == "folder") {
        trigger(engine, "openAction"); // opens where the folder was chosen last
    } else if (state != "initial") {
        // The technician's steps: loopback, the device's address, the sample folder.
        const QStringList entries = item(engine, "qtftp")->property("ifsList").toStringList();
        const auto loopback
            = std::find_if(entries.cbegin(), entries.cend(),
                           [](const QString &entry) { return entry.endsWith(u" -- 127.0.0.1"_s); });
        item(engine, "interfaceList")
            ->setProperty("currentIndex", int(loopback - entries.cbegin()));
        item(engine, "addressField")->setProperty("text", u"127.0.0.1"_s);
        item(engine, "qtftp")->setProperty("remotePort", device.port());
    }
    const auto shown = [&marker, window] {
        QFile file(marker);
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray::number(window->width()) + 'x'
                       + QByteArray::number(window->height()));
    };
    const bool runs = slow || state == "complete" || state == "stopped" || state == "long"
        || state == "warned" || state == "dark";
    if (runs)
        QMetaObject::invokeMethod(item(engine, "startButton"), "clicked");
    if (state == "halted" || state == "stopping") { // Stop, a moment into the first file
        if (state == "stopping") // from then on each block is answered only after 8 s
            QTimer::singleShot(1100, [&device] { device.delayMs = 8000; });
        QTimer::singleShot(
            1200, [&engine] { QMetaObject::invokeMethod(item(engine, "stopButton"), "clicked"); });
    } else if (state == "about")
        trigger(engine, "aboutAction");
    else if (!runs && state != "initial" && state != "ready" && state != "folder")
        qFatal("unknown state \"%s\"", state.constData());

    // Give the window time to settle (the run to make some progress, or to end), then tell
    // the script; stop by ourselves should nobody come.
    if (state == "stopping") {
        QTimer::singleShot(3500, shown);
    } else if (runs && state != "running") {
        QObject::connect(qobject_cast<QTftp *>(item(engine, "qtftp")), &QTftp::updateCompleted,
                         [shown] { QTimer::singleShot(500, shown); });
    } else {
        QTimer::singleShot(1500, shown);
    }
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    return QGuiApplication::exec();
}
