// Shows the program's window in one state for a screenshot, then waits to be stopped.
//
//     tstx_windowshot initial|ready|running|about MARKER_FILE
//
// Loads "qrc:/main.qml" as the program does and drives the window through its own actions and
// fields. When the state is on screen it creates MARKER_FILE; scripts/screenshot then grabs the
// screen and stops it. Settings live in a temporary folder; the only device is a local one on
// 127.0.0.1 that answers slowly, so "running" shows a run in its first file.

#include "startup.h"

#include <QDir>
#include <QGuiApplication>
#include <QNetworkDatagram>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// Acknowledges everything, each answer after a short delay, so a run of the sample files stays
// in its first file long enough to be seen.
class SlowDevice
{
public:
    SlowDevice()
    {
        m_socket.bind(QHostAddress::LocalHost, 0);
        QObject::connect(&m_socket, &QUdpSocket::readyRead, [this] { answer(); });
    }
    [[nodiscard]] quint16 port() const { return m_socket.localPort(); }

private:
    void answer()
    {
        while (m_socket.hasPendingDatagrams()) {
            const QNetworkDatagram got = m_socket.receiveDatagram();
            const QByteArray bytes = got.data();
            if (bytes.size() < 4)
                continue;
            // A write request gets ACK 0, DATA n gets ACK n.
            QByteArray ack("\0\4\0\0", 4);
            if (bytes[1] == 3) {
                ack[2] = bytes[2];
                ack[3] = bytes[3];
            }
            QTimer::singleShot(10, &m_socket, [this, ack, got] {
                m_socket.writeDatagram(ack, got.senderAddress(), quint16(got.senderPort()));
            });
        }
    }
    QUdpSocket m_socket;
};

QObject *item(QQmlApplicationEngine &engine, const char *name)
{
    return engine.rootObjects().value(0)->findChild<QObject *>(QString::fromLatin1(name));
}

void trigger(QQmlApplicationEngine &engine, const char *action)
{
    QMetaObject::invokeMethod(item(engine, action), "trigger");
}

// Sample firmware of a few sizes, made up of arbitrary bytes.
void writeSamples(const QString &folder)
{
    QDir().mkpath(folder);
    const QList<std::pair<QString, int>> samples {{u"7380-X-v1.2.bin"_s, 240000},
                                                  {u"7380-v1.2.bin"_s, 6000},
                                                  {u"7380KD-v1.0.bin"_s, 3000},
                                                  {u"7465-v3.1.bin"_s, 4000}};
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
        std::fputs("usage: tstx_windowshot initial|ready|running|about MARKER_FILE\n", stderr);
        return 2;
    }
    const QByteArray state = argv[1];
    const QString marker = QFile::decodeName(argv[2]);

    // Never the user's own settings.
    QTemporaryDir scratch(QDir::tempPath() + u"/tstx-XXXXXX"_s);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(scratch.path() + u"/config"_s));

    QGuiApplication app(argc, argv);
    setUpApplication();
    QQmlApplicationEngine engine;
    engine.load(windowUrl());
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().value(0));
    if (!window)
        return 1;
    window->setPosition(0, 0);

    SlowDevice device;
    if (state != "initial") {
        // The technician's steps: loopback, the device's address, the sample folder.
        const QString folder = QDir(scratch.path()).filePath(u"Tessaline firmware/2026-03"_s);
        writeSamples(folder);
        const QStringList entries = item(engine, "qtftp")->property("ifsList").toStringList();
        const auto loopback
            = std::find_if(entries.cbegin(), entries.cend(),
                           [](const QString &entry) { return entry.endsWith(u" -- 127.0.0.1"_s); });
        item(engine, "interfaceList")
            ->setProperty("currentIndex", int(loopback - entries.cbegin()));
        item(engine, "addressField")->setProperty("text", u"127.0.0.1"_s);
        item(engine, "qtftp")->setProperty("remotePort", device.port());
        trigger(engine, "openAction");
        QObject *dialog = item(engine, "openDialog"); // made anew by every opening
        dialog->setProperty("selectedFolder", QUrl::fromLocalFile(folder));
        QMetaObject::invokeMethod(dialog, "accept");
    }
    if (state == "running")
        QMetaObject::invokeMethod(item(engine, "startButton"), "clicked");
    else if (state == "about")
        trigger(engine, "aboutAction");
    else if (state != "initial" && state != "ready")
        qFatal("unknown state \"%s\"", state.constData());

    // Give the window time to settle (the run to make some progress), then tell the
    // script; stop by ourselves should nobody come.
    QTimer::singleShot(1500, [&marker] {
        QFile file(marker);
        file.open(QIODevice::WriteOnly);
    });
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    return QGuiApplication::exec();
}
