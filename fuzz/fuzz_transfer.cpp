// Drives a whole upload (Tftp::Upload, as a run uses it) against a device on 127.0.0.1 that sends
// the fuzz input as its replies, all at once when the upload's socket is bound: the upload reads
// one datagram per step, so no thread or sleep is needed.
// Input: one byte (bit 0: an ERROR counts as taken; bit 1: the plain QUdpSocket path; the rest:
// the file's size), then replies as [flags][length][bytes]: flag bit 0 sends from a second port of
// the device, bit 1 from another host. A final ERROR from both device ports ends every script.
#include "packets.h"
#include "upload.h"

#include <QCoreApplication>
#include <QUdpSocket>

using namespace Qt::StringLiterals;

namespace {
struct Harness
{
    QUdpSocket ports[3]; // the device's listening port, a second one, another host's
    QList<std::pair<int, QByteArray>> script;
};
Harness *harness = nullptr;

class Device final : public Tftp::Upload::Observer
{
public:
    void localPortBound(quint16 clientPort) override
    {
        if (clientPort == 0)
            return;
        for (const auto &[port, bytes] : std::as_const(harness->script))
            harness->ports[port].writeDatagram(bytes, QHostAddress::LocalHost, clientPort);
        for (int port : {0, 1})
            harness->ports[port].writeDatagram("\0\5\0\0end of script"_ba, QHostAddress::LocalHost,
                                               clientPort);
    }
    void statusChanged(const QString &text) override { status = text; }
    void progressed(qint64 bytesOnTheWire) override { progress = bytesOnTheWire; }
    void acknowledged(qint64 bytes) override { acknowledgedBytes = bytes; }

    QString status;
    qint64 progress = 0;
    qint64 acknowledgedBytes = 0;
};
} // namespace

// NOLINTNEXTLINE(readability-non-const-parameter): libFuzzer gives the signature
extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    harness = new Harness; // lives until the process ends
    const char *hosts[] = {"127.0.0.1", "127.0.0.1", "127.0.0.2"};
    for (int port = 0; port < 3; ++port)
        harness->ports[port].bind(QHostAddress(QLatin1String(hosts[port])), 0);
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
    Device device;
    Tftp::Upload::Request request {.localAddress = u"127.0.0.1"_s,
                                   .deviceAddress = QHostAddress(QHostAddress::LocalHost),
                                   .deviceName = {},
                                   .remotePort = harness->ports[0].localPort(),
                                   .fileName = u"7380-v1.0.bin"_s,
                                   .fileData = QByteArray(fileSize, 'x'),
                                   .errorCountsAsTaken = (data[0] & 1) != 0,
                                   .replyTimeoutMs = 500, // only a lost script waits
                                   .plainSocketPath = (data[0] & 2) != 0};
    const bool sent = Tftp::Upload(request, device).run();
    for (QUdpSocket &port : harness->ports)
        while (port.hasPendingDatagrams())
            port.readDatagram(nullptr, 0);
    if (sent != (device.status == u"No Error"_s))
        qFatal("the result and the status text disagree: %s", qPrintable(device.status));
    if (device.status.startsWith(u"Sending file"_s))
        qFatal("the transfer ended without saying why: %s", qPrintable(device.status));
    if (device.progress > Tftp::bytesOnTheWire(fileSize))
        qFatal("progress beyond the file: %lld", device.progress);
    if (device.acknowledgedBytes > fileSize)
        qFatal("acknowledged beyond the file: %lld", device.acknowledgedBytes);
    return 0;
}
