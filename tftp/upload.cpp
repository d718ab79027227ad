#include "upload.h"

#include "datagramchannel.h"
#include "packets.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHostInfo>
#include <QNetworkProxy>
#include <QUdpSocket>

#include <optional>

using namespace Qt::StringLiterals;

namespace Tftp {

QString Upload::cancelledStatus()
{
    return u"Update stopped on request"_s;
}

QByteArray Upload::stoppedErrorText()
{
    return cancelledStatus().toUtf8();
}

QString Upload::tooLargeText(const QString &what, qint64 size)
{
    return u"%1 is too large: %2 bytes, the most a transfer can carry is %3 bytes"_s.arg(
        what, QString::number(size), QString::number(maxFileSize));
}

Upload::Upload(Request request, Observer &observer)
    : m_request(std::move(request))
    , m_observer(observer)
{ }

Upload::~Upload() = default;

bool Upload::fail(Failure failure, const QString &status)
{
    m_failure = failure;
    m_observer.statusChanged(status);
    m_socket.reset();
    return false;
}

bool Upload::finish()
{
    m_observer.statusChanged(u"No Error"_s);
    m_socket.reset();
    return true;
}

bool Upload::run()
{
    const Request &request = m_request;
    m_observer.acknowledged(0);
    // In a run the file was refused before it was read; this guards the other callers.
    if (request.fileData.size() > maxFileSize)
        return fail(Failure::TooLarge,
                    tooLargeText(u"File "_s + request.fileName, request.fileData.size()));
    // A cancel that came after the run chose this file: no write request goes out.
    if (request.cancelRequested && request.cancelRequested->load())
        return fail(Failure::Cancelled, cancelledStatus());

    m_socket = std::make_unique<QUdpSocket>();
    // TFTP goes straight to the device: no proxy carries it, so none is looked up for each file.
    m_socket->setProxy(QNetworkProxy::NoProxy);
    const bool bound = m_socket->bind(QHostAddress(request.localAddress), 0);
    m_observer.localPortBound(m_socket->localPort());
    if (!bound)
        return fail(Failure::BindFailed, m_socket->errorString());
    m_observer.statusChanged(u"Sending file %1"_s.arg(request.fileName));

    // An address is used as it is: looking it up would only ask the network for its name, and on
    // a transmitter network without a name server that takes seconds for every file.
    QHostAddress device = request.deviceAddress;
    if (device.isNull()) {
        // A copy of the name's characters of its own: QHostInfo keeps the text and drops it in
        // Qt's code, which ThreadSanitizer does not see, so a text shared with the previous
        // upload's request (dropped on another thread) looked raced to it.
        const QHostInfo host = QHostInfo::fromName(
            QString(request.deviceName.constData(), request.deviceName.size()));
        if (host.addresses().isEmpty())
            return fail(Failure::LookupFailed,
                        u"could not resolve host name %1"_s.arg(host.hostName()));
        device = host.addresses().constFirst();
    }
    m_observer.deviceAddressResolved(device);

    DatagramChannel channel(*m_socket, !request.plainSocketPath);
    const QByteArray requestPacket = writeRequest(request.fileName, request.fileData.size());
    if (!channel.send(requestPacket, device, request.remotePort))
        return fail(Failure::SendFailed,
                    u"Did not send packet to host  %1"_s.arg(m_socket->errorString()));
    m_observer.fileSizeKnown(request.fileData.size());
    m_observer.progressed(0);
    return exchange(channel, device, requestPacket);
}

namespace {
// Whether a datagram comes from the device: from the address the write request went to and, once
// the device has answered, from the port it answered from (its transfer port). Anyone else's
// datagram is not a reply; it neither ends nor advances the transfer, and gets no answer.
bool fromDevice(const DatagramChannel &channel, const QHostAddress &device,
                std::optional<quint16> &transferPort)
{
    if (!channel.senderAddress().isEqual(device, QHostAddress::ConvertV4MappedToIPv4))
        return false;
    if (!transferPort)
        transferPort = channel.senderPort();
    return channel.senderPort() == *transferPort;
}

// When to send the last packet again, as RFC 1123 asks of a TFTP that resends: after a time that
// follows the round trips measured in this transfer (smoothed mean plus four deviations, as TCP
// does), doubled after each resend. A reply to a packet that went more than once is not measured,
// as nobody can tell which copy it answers.
class ResendTimer
{
public:
    void sent()
    {
        m_sinceSend.start();
        m_resent = false;
    }
    void resent()
    {
        m_sinceSend.start();
        m_resent = true;
        m_timeoutUs = qMin(m_timeoutUs * 2, maxTimeoutUs);
    }
    void answered()
    {
        if (m_resent)
            return;
        const double roundTripUs = double(m_sinceSend.nsecsElapsed()) / 1000.0;
        if (m_smoothedUs < 0) {
            m_smoothedUs = roundTripUs;
            m_deviationUs = roundTripUs / 2;
        } else {
            m_deviationUs = 0.75 * m_deviationUs + 0.25 * qAbs(m_smoothedUs - roundTripUs);
            m_smoothedUs = 0.875 * m_smoothedUs + 0.125 * roundTripUs;
        }
        m_timeoutUs = qBound(minTimeoutUs, qint64(m_smoothedUs + 4 * m_deviationUs), maxTimeoutUs);
    }
    // Whole milliseconds, rounded up, until the packet goes again.
    [[nodiscard]] int msUntilResend() const
    {
        const qint64 leftUs = m_timeoutUs - m_sinceSend.nsecsElapsed() / 1000;
        return leftUs <= 0 ? 0 : int((leftUs + 999) / 1000);
    }

private:
    // A millisecond at least: the waits are counted in whole ones. Before any measurement a
    // second, as TCP starts.
    static constexpr qint64 minTimeoutUs = 1000;
    static constexpr qint64 maxTimeoutUs = 5'000'000;
    QElapsedTimer m_sinceSend;
    bool m_resent = false;
    double m_smoothedUs = -1;
    double m_deviationUs = 0;
    qint64 m_timeoutUs = 1'000'000;
};

// Whole milliseconds left, rounded up, so that a wait never ends just before its deadline.
int msLeft(const QDeadlineTimer &deadline)
{
    const qint64 leftNs = deadline.remainingTimeNSecs();
    return leftNs <= 0 ? 0 : int((leftNs + 999'999) / 1'000'000);
}
} // namespace

// The lock-step exchange after the write request: await the reply, dispatch on its opcode, send
// the next block.
bool Upload::exchange(DatagramChannel &channel, const QHostAddress &device,
                      const QByteArray &requestPacket)
{
    const Request &request = m_request;
    const QByteArray &data = request.fileData;
    // Requests go to the device's port; everything after to the port its first reply came from.
    std::optional<quint16> transferPort;
    quint16 blockNumber = 0; // of the last DATA block sent; 0 while only the request is out
    bool lastBlockSent = false;
    bool answeredWithOptions = false; // the first reply was an OACK, not ACK 0
    qint64 progress = 0;
    qint64 acknowledgedBytes = 0;
    QByteArray packet;
    packet.reserve(dataHeaderSize + blockSize);
    // What goes again when the device is silent, and where.
    const QByteArray *lastPacket = &requestPacket;
    quint16 lastPort = request.remotePort;
    ResendTimer resendTimer;
    resendTimer.sent();
    QDeadlineTimer replyDeadline(request.replyTimeoutMs);
    const auto sendFailure = [&] {
        return fail(Failure::SendFailed,
                    blockNumber == 0
                        ? u"Did not send packet to host  %1"_s.arg(m_socket->errorString())
                        : u"Did not send data packet to host  %1"_s.arg(m_socket->errorString()));
    };
    for (;;) {
        const int waitMs = request.resendOnSilence
            ? qMin(msLeft(replyDeadline), resendTimer.msUntilResend())
            : msLeft(replyDeadline);
        switch (channel.receiveWithin(waitMs)) {
        case DatagramChannel::Arrival::Received:
            break;
        case DatagramChannel::Arrival::TimedOut:
            if (request.resendOnSilence && !replyDeadline.hasExpired()) {
                if (!channel.send(*lastPacket, device, lastPort))
                    return sendFailure();
                resendTimer.resent();
                continue;
            }
            return fail(Failure::NoReply,
                        u"No message received from host  %1"_s.arg(m_socket->errorString()));
        case DatagramChannel::Arrival::Failed:
            return fail(Failure::NoReply,
                        u"Could not read the reply from host: %1"_s.arg(m_socket->errorString()));
        case DatagramChannel::Arrival::Refused:
            // Nothing listens where the last packet went: no reply will come.
            if (channel.refusedAddress().isEqual(device, QHostAddress::ConvertV4MappedToIPv4)
                && channel.refusedPort() == lastPort)
                return fail(Failure::NoReply,
                            u"No message received from host  %1"_s.arg(channel.refusalReason()));
            continue;
        }
        // A stranger's datagram: wait on for the device, within the same reply time.
        if (!fromDevice(channel, device, transferPort))
            continue;

        const Reply reply = readReply(channel.datagram(), channel.datagramSize());
        switch (reply.kind) {
        case Reply::Malformed:
            return fail(Failure::ProtocolError,
                        u"Malformed packet received: %1 bytes"_s.arg(channel.datagramSize()));
        case Reply::Unexpected:
            return fail(Failure::ProtocolError,
                        u"Unexpected Packet Received: %1"_s.arg(reply.opcode));
        case Reply::Unknown:
            return fail(Failure::ProtocolError, u"Unknown Op Code: %1"_s.arg(reply.opcode));
        case Reply::ErrorReply:
            // For the primary images the device's ERROR reply counts as taken, not as a failure;
            // what the device said is told, so that the run can say it too.
            if (request.errorCountsAsTaken) {
                m_observer.errorAccepted(reply.number, reply.message, acknowledgedBytes);
                return finish();
            }
            return fail(
                Failure::DeviceError,
                u"Protocol Error: %1 %2"_s.arg(QString::number(reply.number), reply.message));
        case Reply::Acknowledgement:
            if (reply.number != blockNumber) {
                // The device's previous acknowledgement again: it re-sends it while it waits for
                // the block just sent (which may be late or lost). Waited past within the same
                // reply time, and never answered by sending again: a block sent for each repeat
                // would double every later block (the Sorcerer's Apprentice of RFC 1123).
                const bool repeated = reply.number == quint16(blockNumber - 1) && blockNumber != 0
                    && !(blockNumber == 1 && answeredWithOptions);
                if (repeated)
                    continue;
                return fail(Failure::ProtocolError,
                            u"Error on incoming packet number %1 vs expected %2"_s.arg(
                                QString::number(reply.number), QString::number(blockNumber)));
            }
            break;
        case Reply::OptionAcknowledgement:
            // Answers the write request only (its options not read). Sent again while block 1 is
            // awaited, it is a repeat as above; anywhere else, the device never acknowledged the
            // block just sent.
            if (blockNumber == 1 && answeredWithOptions)
                continue;
            if (blockNumber != 0)
                return fail(Failure::ProtocolError,
                            u"Unexpected Packet Received: %1"_s.arg(reply.opcode));
            answeredWithOptions = true;
            break;
        }

        resendTimer.answered();
        acknowledgedBytes = qMin(qint64(blockNumber) * blockSize, data.size());
        m_observer.acknowledged(acknowledgedBytes);
        ++blockNumber;
        if (lastBlockSent)
            return finish();
        // Stopped: no further block. The device is told, so that it drops the part it has
        // instead of waiting for the rest. A file the device took still counts as taken.
        if (request.cancelRequested && request.cancelRequested->load()) {
            channel.send(errorPacket(0, stoppedErrorText()), device, *transferPort);
            return fail(Failure::Cancelled, cancelledStatus());
        }
        const qsizetype offset = qsizetype(blockNumber - 1) * blockSize;
        const qsizetype remaining = data.size() - offset;
        lastBlockSent = remaining < blockSize;
        const qsizetype payloadSize = lastBlockSent ? remaining : blockSize;
        fillDataPacket(packet, blockNumber, data.constData() + offset, payloadSize);
        if (!channel.send(packet, device, *transferPort))
            return sendFailure();
        lastPacket = &packet;
        lastPort = *transferPort;
        resendTimer.sent();
        progress += packet.size();
        m_observer.progressed(progress);
        replyDeadline.setRemainingTime(request.replyTimeoutMs);
    }
}

} // namespace Tftp
