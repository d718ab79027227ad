#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// TFTP packets as the client builds and reads them. Pure functions of bytes.
namespace Tftp {

enum Opcode : quint16 {
    ReadRequest = 1,
    WriteRequest = 2,
    Data = 3,
    Ack = 4,
    Error = 5,
    OptionAck = 6,
};

inline constexpr int blockSize = 512;
inline constexpr int dataHeaderSize = 4;
// Block numbers are 16 bits: 65535 blocks, the last one shorter than a full block.
inline constexpr qint64 maxFileSize = qint64(65535) * blockSize - 1;

// What the DATA packets of a file of fileSize bytes carry in all: the payload plus a header for
// each of its fileSize / 512 + 1 blocks (the last one shorter than a full block, maybe empty).
constexpr qint64 bytesOnTheWire(qint64 fileSize)
{
    return fileSize + dataHeaderSize * (fileSize / blockSize + 1);
}

// Write request for fileName with the option "tsize" set to fileSize.
QByteArray writeRequest(const QString &fileName, qint64 fileSize);

// Makes packet the DATA packet of block with the given payload, reusing its storage.
void fillDataPacket(QByteArray &packet, quint16 block, const char *payload, qsizetype payloadSize);

// ERROR packet with code and text.
QByteArray errorPacket(quint16 code, const QByteArray &text);

// A reply datagram as read by the client.
struct Reply
{
    enum Kind {
        Malformed, // shorter than its fields: the opcode, or the number of an ACK or ERROR
        Acknowledgement, // ACK, number = acknowledged block
        OptionAcknowledgement, // OACK, options not read
        ErrorReply, // ERROR, number = error code, message = its text
        Unexpected, // RRQ, WRQ or DATA
        Unknown, // opcode 0 or above 6
    };
    Kind kind = Malformed;
    quint16 opcode = 0;
    quint16 number = 0;
    QString message;
};

// Reads a reply of size bytes; never reads past data + size.
Reply readReply(const char *data, qsizetype size);

} // namespace Tftp
