// A stand-in transmitter for bench/fleet and bench/run: a TFTP write server that, like a device
// writing each block to flash, waits a fixed time before it acknowledges a block, and answers
// "tsize" with an OACK. It stores nothing: for each upload that ends it prints "NAME BYTES" (or
// "NAME failed") on standard output.
//
//   tstx_fleet_device ADDRESS PORT DELAY_MS     (DELAY_MS may have a fraction: 0.5)

#include "scripteddevice.h"

#include <QCoreApplication>
#include <QHash>
#include <QHostAddress>

#include <cstdio>

namespace {
// An upload in progress, by the client's port.
struct Upload
{
    QString name;
    quint16 expected = 1;
    qint64 bytes = 0;
};

void ended(const QString &name, qint64 bytes)
{
    if (bytes < 0)
        std::printf("%s failed\n", qPrintable(name));
    else
        std::printf("%s %lld\n", qPrintable(name), bytes);
    std::fflush(stdout);
}

QByteArray optionAcknowledgement(const QByteArray &request)
{
    const QByteArrayList fields = request.mid(2).split('\0'); // name, mode, options and values
    for (qsizetype i = 2; i + 1 < fields.size(); i += 2) {
        if (fields[i].compare("tsize", Qt::CaseInsensitive) == 0)
            return QByteArray("\0\6tsize\0", 8) + fields[i + 1] + '\0';
    }
    return {};
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    bool portOk = false;
    bool delayOk = false;
    const uint port = args.size() == 4 ? args[2].toUInt(&portOk) : 0;
    const double delayMs = args.size() == 4 ? args[3].toDouble(&delayOk) : 0;
    if (!portOk || port > 65535 || !delayOk || delayMs < 0
        || QHostAddress(args.value(1)).protocol() != QAbstractSocket::IPv4Protocol) {
        std::fputs("usage: tstx_fleet_device ADDRESS PORT DELAY_MS\n", stderr);
        return 2;
    }
    QHash<quint16, Upload> uploads;
    ScriptedDevice device(
        [&](int n, const QByteArray &got) {
            const quint16 client = device.peerPort;
            const auto upload = uploads.find(client);
            const bool data = got.size() >= 4 && got[0] == 0 && got[1] == 3;
            if (got.startsWith(QByteArrayView("\0\2", 2))) {
                uploads.insert(client, {QString::fromLocal8Bit(got.constData() + 2)});
                const QByteArray options = optionAcknowledgement(got);
                return options.isEmpty() ? ScriptedDevice::acknowledge(n, got)
                                         : QByteArrayList {options};
            }
            if (upload == uploads.end())
                return QByteArrayList();
            if (!data) { // an ERROR, or something no client sends
                ended(upload->name, -1);
                uploads.erase(upload);
                return QByteArrayList();
            }
            const auto block = quint16(quint8(got[2]) << 8 | quint8(got[3]));
            if (block == upload->expected) { // not a repeat, which is answered again
                upload->bytes += got.size() - 4;
                ++upload->expected;
                if (got.size() - 4 < 512) {
                    ended(upload->name, upload->bytes);
                    uploads.erase(upload);
                }
            }
            return ScriptedDevice::acknowledge(n, got);
        },
        args[1], quint16(port));
    if (device.port() == 0) {
        std::fprintf(stderr, "tstx_fleet_device: cannot bind %s:%u\n", qPrintable(args[1]), port);
        return 1;
    }
    device.recording = false;
    device.delayMs = delayMs;
    return QCoreApplication::exec();
}
