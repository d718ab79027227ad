#include "packets.h"

#include <cstring>

namespace Tftp {

namespace {
quint16 readNumber(const char *data)
{
    return quint16((quint8(data[0]) << 8) | quint8(data[1]));
}

void appendNumber(QByteArray &packet, quint16 number)
{
    packet.append(char(number >> 8));
    packet.append(char(number & 0xff));
}
} // namespace

QByteArray writeRequest(const QString &fileName, qint64 fileSize)
{
    QByteArray packet;
    appendNumber(packet, WriteRequest);
    packet.append(fileName.toLocal8Bit()).append('\0');
    packet.append("octet").append('\0');
    packet.append("tsize").append('\0');
    packet.append(QByteArray::number(fileSize)).append('\0');
    return packet;
}

QByteArray errorPacket(quint16 code, const QByteArray &text)
{
    QByteArray packet;
    appendNumber(packet, Error);
    appendNumber(packet, code);
    packet.append(text).append('\0');
    return packet;
}

void fillDataPacket(QByteArray &packet, quint16 block, const char *payload, qsizetype payloadSize)
{
    packet.resize(dataHeaderSize + payloadSize);
    char *out = packet.data();
    out[0] = 0;
    out[1] = char(Data);
    out[2] = char(block >> 8);
    out[3] = char(block & 0xff);
    if (payloadSize > 0)
        std::memcpy(out + dataHeaderSize, payload, size_t(payloadSize));
}

Reply readReply(const char *data, qsizetype size)
{
    Reply reply;
    if (size < 2)
        return reply;
    reply.opcode = readNumber(data);
    switch (reply.opcode) {
    case ReadRequest:
    case WriteRequest:
    case Data:
        reply.kind = Reply::Unexpected;
        return reply;
    case OptionAck:
        reply.kind = Reply::OptionAcknowledgement;
        return reply;
    case Ack:
    case Error:
        if (size < 4)
            return reply; // Malformed
        reply.number = readNumber(data + 2);
        if (reply.opcode == Ack) {
            reply.kind = Reply::Acknowledgement;
        } else {
            reply.kind = Reply::ErrorReply;
            const char *text = data + 4;
            const auto *end = static_cast<const char *>(std::memchr(text, 0, size_t(size - 4)));
            reply.message = QString::fromUtf8(text, end ? end - text : size - 4);
        }
        return reply;
    default:
        reply.kind = Reply::Unknown;
        return reply;
    }
}

} // namespace Tftp
