// Drives a whole upload (QTftp::uploadFile, the code a run uses) against a scripted device on
// 127.0.0.1 whose replies are the fuzz input. The device sends its whole script as soon as the
// upload's socket is bound; the upload reads one datagram per step exactly as it would in
// lock-step, so the replies reach every branch of the transfer without a thread or a sleep.
//
// Input: one byte choosing the file (size, and whether its name is error-tolerant), then
// replies, each as [flags][length][bytes]: flag bit 0 sends the reply from a second port, which
// the upload must follow. A final ERROR ends any script the upload has not finished by then.
#include "qtftp.h"

#include <QCoreApplication>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace Qt::StringLiterals;

namespace {
constexpr int maxReplies = 64;
const QString tolerantName = u"7380-v1.0.bin"_s;
const QString plainName = u"7380KD-v1.0.bin"_s;

[[noreturn]] void fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "invariant failed: %s\n  %s\n", what, qPrintable(detail));
    std::abort();
}

// A UDP socket on 127.0.0.1 standing for one port of the device.
struct DevicePort
{
    int fd = -1;
    quint16 port = 0;

    void open()
    {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0
            || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0)
            fail("cannot open the device's socket", {});
        port = ntohs(address.sin_port);
    }
    void sendTo(quint16 clientPort, const char *bytes, size_t size) const
    {
        sockaddr_in client {};
        client.sin_family = AF_INET;
        client.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        client.sin_port = htons(clientPort);
        ::sendto(fd, bytes, size, 0, reinterpret_cast<sockaddr *>(&client), sizeof(client));
    }
    // Throws away what the upload sent; the device of this test does not read it.
    void drain() const
    {
        std::array<char, 65536> sink {};
        while (::recv(fd, sink.data(), sink.size(), MSG_DONTWAIT) >= 0) { }
    }
};

struct Reply
{
    bool fromSecondPort = false;
    QByteArray bytes;
};

struct Harness
{
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<QTftp> updater;
    DevicePort mainPort;
    DevicePort secondPort;
    QList<Reply> script;
};
Harness *harness = nullptr;

// The upload reports its bound port first thing: the device answers from then on.
void sendScript(quint16 clientPort)
{
    if (clientPort == 0)
        return;
    for (const Reply &reply : std::as_const(harness->script)) {
        const DevicePort &from = reply.fromSecondPort ? harness->secondPort : harness->mainPort;
        from.sendTo(clientPort, reply.bytes.constData(), size_t(reply.bytes.size()));
    }
    static const char endOfScript[] = "\0\5\0\0end of script";
    harness->mainPort.sendTo(clientPort, endOfScript, sizeof(endOfScript));
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    harness = new Harness; // lives until the process ends
    harness->app = std::make_unique<QCoreApplication>(*argc, *argv);
    harness->mainPort.open();
    harness->secondPort.open();
    harness->updater = std::make_unique<QTftp>();
    QTftp &updater = *harness->updater;
    updater.setLocalAddress(u"127.0.0.1"_s);
    updater.setRemoteAddress(u"127.0.0.1"_s);
    updater.setRemotePort(harness->mainPort.port);
    // Only a lost script waits; every script ends with a reply.
    updater.setReplyTimeoutForTesting(500);
    QObject::connect(&updater, &QTftp::localPortChanged, &sendScript);
    QTftp::errorTolerantFiles.append(tolerantName.toLower());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const bool tolerant = data[0] & 1;
    const qsizetype fileSize = qsizetype(data[0] >> 1) * 13; // up to 1651 bytes: four blocks
    harness->script.clear();
    for (size_t at = 1; at + 2 <= size && harness->script.size() < maxReplies;) {
        const bool fromSecondPort = data[at] & 1;
        const size_t length = std::min<size_t>(data[at + 1], size - at - 2);
        harness->script.append(
            {fromSecondPort,
             QByteArray(reinterpret_cast<const char *>(data + at + 2), qsizetype(length))});
        at += 2 + length;
    }

    QTftp &updater = *harness->updater;
    updater.setLocalPort(0); // so that binding always reports the new port
    const QString name = tolerant ? tolerantName : plainName;
    const bool sent = updater.uploadFile(name, QByteArray(fileSize, 'x'));
    harness->mainPort.drain();
    harness->secondPort.drain();

    const QString status = updater.errorString();
    if (sent != (status == u"No Error"_s))
        fail("the result and the status text disagree", status);
    if (status.startsWith(u"Sending file"_s))
        fail("the transfer ended without saying why", status);
    const qsizetype blocks = fileSize / 512 + 1;
    if (updater.fileProgress() > fileSize + 4 * blocks)
        fail("progress beyond the file", QString::number(updater.fileProgress()));
    return 0;
}
