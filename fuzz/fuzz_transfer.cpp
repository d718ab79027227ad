// Drives a whole upload (QTftp::uploadFile, the code a run uses) against a device on 127.0.0.1
// whose replies are the fuzz input. The device sends its whole script as soon as the upload's
// socket is bound; the upload reads one datagram per step as it would in lock-step, so the
// replies reach every branch of the transfer without a thread or a sleep.
//
// Input: one byte choosing the file (bit 0: an error-tolerant name; bit 1: the plain QUdpSocket
// path that platforms without a native one run; the rest: its size), then replies, each as
// [flags][length][bytes]: flag bit 0 sends the reply from a second port of the device, which the
// upload follows if it is the first to answer; bit 1 from another host, which the upload must
// ignore. A final ERROR from both of the device's ports ends any script the upload has not
// finished by then.
#include "qtftp.h"

#include <QCoreApplication>
#include <QUdpSocket>

using namespace Qt::StringLiterals;

namespace {
const QString tolerantName = u"7380-v1.0.bin"_s;

struct Harness
{
    QTftp updater;
    QUdpSocket ports[3]; // the device's listening port, a second one, and another host's
    QList<std::pair<int, QByteArray>> script;
};
Harness *harness = nullptr;

void sendScript(quint16 clientPort)
{
    if (clientPort == 0)
        return;
    for (const auto &[port, bytes] : std::as_const(harness->script))
        harness->ports[port].writeDatagram(bytes, QHostAddress::LocalHost, clientPort);
    for (int port : {0, 1})
        harness->ports[port].writeDatagram("\0\5\0\0end of script"_ba, QHostAddress::LocalHost,
                                           clientPort);
}
} // namespace

// NOLINTNEXTLINE(readability-non-const-parameter): libFuzzer gives the signature
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    harness = new Harness; // lives until the process ends
    const char *hosts[] = {"127.0.0.1", "127.0.0.1", "127.0.0.2"};
    for (int port = 0; port < 3; ++port)
        harness->ports[port].bind(QHostAddress(QLatin1String(hosts[port])), 0);
    QTftp &updater = harness->updater;
    updater.setLocalAddress(u"127.0.0.1"_s);
    updater.setRemoteAddress(u"127.0.0.1"_s);
    updater.setRemotePort(harness->ports[0].localPort());
    updater.setReplyTimeoutForTesting(500); // only a lost script waits
    QObject::connect(&updater, &QTftp::localPortChanged, &sendScript);
    QTftp::errorTolerantFiles.append(tolerantName.toLower());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const qsizetype fileSize = qsizetype(data[0] >> 2) * 26; // up to 1638 bytes: four blocks
    harness->script.clear();
    for (size_t at = 1; at + 2 <= size && harness->script.size() < 64;) {
        const size_t length = std::min<size_t>(data[at + 1], size - at - 2);
        harness->script.append(
            {data[at] & 2 ? 2 : data[at] & 1,
             QByteArray(reinterpret_cast<const char *>(data) + at + 2, qsizetype(length))});
        at += 2 + length;
    }
    QTftp &updater = harness->updater;
    updater.setLocalPort(0); // so that binding always reports the new port
    updater.setPlainSocketPathForTesting((data[0] & 2) != 0);
    const bool sent = updater.uploadFile(data[0] & 1 ? tolerantName : u"7380KD-v1.0.bin"_s,
                                         QByteArray(fileSize, 'x'));
    for (QUdpSocket &port : harness->ports) {
        while (port.hasPendingDatagrams())
            port.readDatagram(nullptr, 0);
    }
    const QString status = updater.errorString();
    if (sent != (status == u"No Error"_s))
        qFatal("the result and the status text disagree: %s", qPrintable(status));
    if (status.startsWith(u"Sending file"_s))
        qFatal("the transfer ended without saying why: %s", qPrintable(status));
    const qsizetype blocks = fileSize / 512 + 1;
    if (updater.fileProgress() > fileSize + 4 * blocks)
        qFatal("progress beyond the file: %d", updater.fileProgress());
    return 0;
}
