#include "transfer.h"

#include "datagramchannel.h"
#include "deviceaddress.h"
#include "packets.h"
#include "qtftp.h"

#include <QDeadlineTimer>
#include <QHostInfo>
#include <QNetworkProxy>
#include <QUdpSocket>

#include <optional>

using namespace Qt::StringLiterals;

namespace {
const QString noError = u"No Error"_s;
} // namespace

QString Tftp::tooLargeStatus(const QString &file, qint64 size)
{
    return u"File %1 is too large: %2 bytes, the most a transfer can carry is %3 bytes"_s.arg(
        file, QString::number(size), QString::number(maxFileSize));
}

QByteArray QTftp::buildWriteRequest(QString fileName, QByteArray fileData)
{
    return Tftp::writeRequest(fileName, fileData.size());
}

bool QTftp::openSocket()
{
    udpSocket = std::make_unique<QUdpSocket>();
    // TFTP goes straight to the device: no proxy carries it, so none is looked up for each file.
    udpSocket->setProxy(QNetworkProxy::NoProxy);
    const bool bound = udpSocket->bind(QHostAddress(m_localAddress), 0);
    reportLocalPort(udpSocket->localPort());
    return bound;
}

// The two ends of an upload. Each shows its status, closes the socket and returns uploadFile's
// result: false after a failure, true once the device took the file ("No Error").
bool QTftp::failTransfer(const QString &status)
{
    reportStatus(status);
    udpSocket.reset();
    return false;
}

bool QTftp::finishTransfer()
{
    reportStatus(noError);
    udpSocket.reset();
    return true;
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
} // namespace

// Runs on a pool thread: reads the address members and errorTolerantFiles, which nothing changes
// during a run, and reports to the GUI thread through the report functions only.
bool QTftp::uploadFile(QString fileName, QByteArray fileData)
{
    transferAcknowledged.store(0);
    // In a run sendFile has refused such a file already; this guards the direct callers.
    if (fileData.size() > Tftp::maxFileSize)
        return failTransfer(Tftp::tooLargeStatus(fileName, fileData.size()));
    // A cancel that came after the run chose this file: no write request goes out.
    if (cancelRequested.load())
        return failTransfer(cancelledStatus());
    // Read as typed, or refused before anything goes out: 192.168.001.010 is not 192.168.1.8.
    const DeviceAddress device = readDeviceAddress(m_remoteAddress);
    if (!device.problem.isEmpty())
        return failTransfer(device.problem);
    if (!openSocket())
        return failTransfer(udpSocket->errorString());
    reportStatus(u"Sending file %1"_s.arg(fileName));

    // An address is used as typed: looking it up would only ask the network for its name, and on
    // a transmitter network without a name server that takes seconds for every file.
    QHostAddress serverAddress = device.address;
    if (device.isHostName()) {
        const QHostInfo host = QHostInfo::fromName(device.text);
        if (host.addresses().isEmpty())
            return failTransfer(u"could not resolve host name %1"_s.arg(host.hostName()));
        serverAddress = host.addresses().constFirst();
    }
    reportDeviceAddress(serverAddress);
    // Requests go to the device's port; everything after to the port its first reply came from.
    quint16 serverPort = m_remotePort;
    std::optional<quint16> transferPort;

    DatagramChannel channel(*udpSocket, !plainSocketPath);
    if (!channel.send(buildWriteRequest(fileName, fileData), serverAddress, serverPort))
        return failTransfer(u"Did not send packet to host  %1"_s.arg(udpSocket->errorString()));
    reportFileSize(int(fileData.size()));
    int progress = 0;
    reportFileProgress(progress);

    quint16 blockNumber = 0;
    bool lastBlockSent = false;
    QByteArray packet;
    packet.reserve(Tftp::dataHeaderSize + Tftp::blockSize);
    QDeadlineTimer replyDeadline(replyTimeoutMs);
    for (;;) {
        switch (channel.receiveWithin(int(replyDeadline.remainingTime()))) {
        case DatagramChannel::Arrival::Received:
            break;
        case DatagramChannel::Arrival::TimedOut:
            return failTransfer(
                u"No message received from host  %1"_s.arg(udpSocket->errorString()));
        case DatagramChannel::Arrival::Failed:
            return failTransfer(
                u"Could not read the reply from host: %1"_s.arg(udpSocket->errorString()));
        }
        // A stranger's datagram: wait on for the device, within the same reply time.
        if (!fromDevice(channel, serverAddress, transferPort))
            continue;
        serverPort = *transferPort;

        const Tftp::Reply reply = Tftp::readReply(channel.datagram(), channel.datagramSize());
        switch (reply.kind) {
        case Tftp::Reply::Malformed:
            return failTransfer(
                u"Malformed packet received: %1 bytes"_s.arg(channel.datagramSize()));
        case Tftp::Reply::Unexpected:
            return failTransfer(u"Unexpected Packet Received: %1"_s.arg(reply.opcode));
        case Tftp::Reply::Unknown:
            return failTransfer(u"Unknown Op Code: %1"_s.arg(reply.opcode));
        case Tftp::Reply::ErrorReply:
            // For the primary images the device's ERROR reply counts as taken, not as a failure;
            // what the device said is kept so that the run can tell.
            if (errorTolerantFiles.contains(fileName.toLower())) {
                reportAcceptedError(
                    {fileName, reply.number, reply.message, transferAcknowledged.load()});
                return finishTransfer();
            }
            return failTransfer(
                u"Protocol Error: %1 %2"_s.arg(QString::number(reply.number), reply.message));
        case Tftp::Reply::Acknowledgement:
            if (reply.number != blockNumber) {
                return failTransfer(u"Error on incoming packet number %1 vs expected %2"_s.arg(
                    QString::number(reply.number), QString::number(blockNumber)));
            }
            break;
        case Tftp::Reply::OptionAcknowledgement:
            break; // options not read: the server took the write request
        }

        transferAcknowledged.store(
            qMin(qint64(blockNumber) * Tftp::blockSize, qint64(fileData.size())));
        ++blockNumber;
        if (lastBlockSent)
            return finishTransfer();
        // Cancelled: stop before the next block. A file the device took still counts as taken.
        if (cancelRequested.load())
            return failTransfer(cancelledStatus());
        const qsizetype offset = qsizetype(blockNumber - 1) * Tftp::blockSize;
        const qsizetype remaining = fileData.size() - offset;
        lastBlockSent = remaining < Tftp::blockSize;
        const qsizetype payloadSize = lastBlockSent ? remaining : Tftp::blockSize;
        Tftp::fillDataPacket(packet, blockNumber, fileData.constData() + offset, payloadSize);
        if (!channel.send(packet, serverAddress, serverPort))
            return failTransfer(
                u"Did not send data packet to host  %1"_s.arg(udpSocket->errorString()));
        progress += int(packet.size());
        reportFileProgress(progress);
        replyDeadline.setRemainingTime(replyTimeoutMs);
    }
}
