// Shows the program's window in one state for a screenshot, then waits to be stopped.
//
//     tstx_windowshot initial|ready|running|about MARKER_FILE
//
// Loads "qrc:/main.qml" as the program does and drives the window through its own actions and
// fields. When the state is on screen it creates MARKER_FILE; scripts/screenshot then grabs the
// screen and stops it. Settings live in a temporary folder; the only device is a local one on
// 127.0.0.1 that answers slowly, so "running" shows a run in its first file.

#include "../support/loadedwindow.h"
#include "../support/testsupport.h"

#include <QGuiApplication>
#include <QNetworkDatagram>
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
    setUpAsTheProgramDoes();
    LoadedWindow window;
    if (!window.isLoaded())
        return 1;
    window.window()->setPosition(0, 0);

    SlowDevice device;
    if (state != "initial") {
        const QString folder = QDir(scratch.path()).filePath(u"Tessaline firmware/2026-03"_s);
        QDir().mkpath(folder);
        const QString failure
            = TestSupport::writeFiles(folder,
                                      {{u"7380-X-v1.2.bin"_s, TestSupport::randomBytes(240000)},
                                       {u"7380-v1.2.bin"_s, TestSupport::randomBytes(6000)},
                                       {u"7380KD-v1.0.bin"_s, TestSupport::randomBytes(3000)},
                                       {u"7465-v3.1.bin"_s, TestSupport::randomBytes(4000)}});
        if (!failure.isEmpty() || !window.prepareRun(device.port(), folder))
            qFatal("cannot open the sample folder: %s", qPrintable(failure));
    }
    if (state == "running")
        window.pressStart();
    else if (state == "about")
        window.trigger(u"aboutAction"_s);
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
