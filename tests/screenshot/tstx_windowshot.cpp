// Shows the program's window in one state for a screenshot, then waits to be stopped.
//
//     tstx_windowshot initial|ready|running|about MARKER_FILE
//
// Loads "qrc:/main.qml" as the program does and drives the window through its own actions and
// fields. When the state is on screen it creates MARKER_FILE; scripts/screenshot then grabs the
// screen and stops it. Settings live in a temporary folder; the only device is a local one on
// 127.0.0.1 that answers slowly, so "running" shows a run in its first file.

#include "qtftp.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QNetworkDatagram>
#include <QNetworkInterface>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// A slow device: acknowledges everything, each answer after a short delay, so a run of the
// sample files stays in its first file long enough to be seen.
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
            QTimer::singleShot(answerDelayMs, &m_socket, [this, ack, got] {
                m_socket.writeDatagram(ack, got.senderAddress(), quint16(got.senderPort()));
            });
        }
    }
    static constexpr int answerDelayMs = 10;
    QUdpSocket m_socket;
};

QObject *find(QObject *root, const char *name)
{
    QObject *found = root->findChild<QObject *>(QString::fromLatin1(name));
    if (!found)
        qFatal("the window has no item \"%s\"", name);
    return found;
}

QString makeSampleFolder(const QString &parent)
{
    QString folder = QDir(parent).filePath(u"Tessaline firmware/2026-03"_s);
    QDir().mkpath(folder);
    const QList<std::pair<QString, int>> files {{u"7380-X-v1.2.bin"_s, 240000},
                                                {u"7380-v1.2.bin"_s, 6000},
                                                {u"7380KD-v1.0.bin"_s, 3000},
                                                {u"7465-v3.1.bin"_s, 4000}};
    for (const auto &[name, size] : files) {
        QByteArray bytes(size, Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(QRandomGenerator::global()->bounded(256));
        QFile file(QDir(folder).filePath(name));
        if (file.open(QIODevice::WriteOnly))
            file.write(bytes);
    }
    return folder;
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
    QCoreApplication::setOrganizationName(u"Brindlemoor"_s);
    QCoreApplication::setOrganizationDomain(u"brindlemoor.com"_s);
    QCoreApplication::setApplicationName(u"TsTxUpdater"_s);
    qmlRegisterType<QTftp>("com.brindlemoor.TsTxDownloader", 1, 0, "QTftp");
    QQmlApplicationEngine engine;
    QIcon::setThemeName(u"Win10"_s);
    engine.load(QUrl(u"qrc:/main.qml"_s));
    if (engine.rootObjects().isEmpty())
        return 1;
    auto *window = qobject_cast<QQuickWindow *>(engine.rootObjects().constFirst());
    window->setPosition(0, 0);
    auto *updater = qobject_cast<QTftp *>(find(window, "qtftp"));

    SlowDevice device;
    if (state != "initial") {
        // As the user does: pick the loopback interface, type the address, open a folder.
        const QString loopback = QNetworkInterface::interfaceFromName(u"lo"_s).humanReadableName()
            + u" -- 127.0.0.1"_s;
        find(window, "interfaceList")
            ->setProperty("currentIndex", int(updater->ifsList().indexOf(loopback)));
        find(window, "addressField")->setProperty("text", u"127.0.0.1"_s);
        updater->setRemotePort(device.port());

        QObject *dialog = find(window, "openDialog");
        QMetaObject::invokeMethod(find(window, "openAction"), "trigger");
        dialog->setProperty("selectedFolder",
                            QUrl::fromLocalFile(makeSampleFolder(scratch.path())));
        QMetaObject::invokeMethod(dialog, "accept");
    }
    if (state == "running")
        QMetaObject::invokeMethod(find(window, "startButton"), "clicked");
    else if (state == "about")
        QMetaObject::invokeMethod(find(window, "aboutAction"), "trigger");
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
