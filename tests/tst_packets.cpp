#include "packets.h"
#include "qtftp.h"

#include <QTest>

#include <sys/mman.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Holds a datagram so that its last byte is the last readable byte before an inaccessible page:
// reading one byte past its end crashes the test instead of passing unnoticed.
class GuardedDatagram
{
public:
    explicit GuardedDatagram(const QByteArray &bytes)
        : pageSize(qsizetype(sysconf(_SC_PAGESIZE)))
    {
        Q_ASSERT(bytes.size() <= pageSize);
        void *mapping = mmap(nullptr, size_t(2 * pageSize), PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping == MAP_FAILED)
            qFatal("cannot map the guard pages");
        pages = static_cast<char *>(mapping);
        if (mprotect(pages + pageSize, size_t(pageSize), PROT_NONE) != 0)
            qFatal("cannot protect the guard page");
        start = pages + pageSize - bytes.size();
        if (!bytes.isEmpty())
            memcpy(start, bytes.constData(), size_t(bytes.size()));
        length = bytes.size();
    }
    ~GuardedDatagram() { munmap(pages, size_t(2 * pageSize)); }
    GuardedDatagram(const GuardedDatagram &) = delete;
    GuardedDatagram &operator=(const GuardedDatagram &) = delete;

    [[nodiscard]] Tftp::Reply read() const { return Tftp::readReply(start, length); }

private:
    qsizetype pageSize;
    char *pages = nullptr;
    char *start = nullptr;
    qsizetype length = 0;
};

// The DATA packets a transfer sends for fileData, block 1 first.
QList<QByteArray> dataPackets(const QByteArray &fileData)
{
    QList<QByteArray> packets;
    quint16 block = 1;
    qsizetype offset = 0;
    // The last block is shorter than a full one, empty when the size is a multiple of 512.
    while (true) {
        const qsizetype payloadSize = qMin<qsizetype>(Tftp::blockSize, fileData.size() - offset);
        QByteArray packet;
        Tftp::fillDataPacket(packet, block, fileData.constData() + offset, payloadSize);
        packets.append(packet);
        offset += payloadSize;
        ++block;
        if (payloadSize < Tftp::blockSize)
            return packets;
    }
}

} // namespace

class TestPackets : public QObject
{
    Q_OBJECT

private slots:
    void writeRequest_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<qint64>("fileSize");
        QTest::addColumn<QByteArray>("expected");

        QTest::addRow("done") << u"done"_s << qint64(0)
                              << QByteArray::fromHex("0002646F6E65006F63746574007473697A65003000");
        QTest::addRow("1000 bytes") << u"7380-v1.bin"_s << qint64(1000)
                                    << QByteArray("\0\0027380-v1.bin\0octet\0tsize\0"
                                                  "1000\0",
                                                  31);
        // Four fields, each ending in a zero byte; the name in the local 8-bit encoding.
        const auto request = [](const QString &name, const QByteArray &size) {
            return "\0\2"_ba + name.toLocal8Bit() + "\0octet\0tsize\0"_ba + size + '\0';
        };
        QTest::addRow("empty file") << u"a.bin"_s << qint64(0) << request(u"a.bin"_s, "0");
        QTest::addRow("one byte") << u"a.bin"_s << qint64(1) << request(u"a.bin"_s, "1");
        QTest::addRow("one block") << u"a.bin"_s << qint64(512) << request(u"a.bin"_s, "512");
        QTest::addRow("blank in name")
            << u"my file.bin"_s << qint64(70000) << request(u"my file.bin"_s, "70000");
        QTest::addRow("non-ASCII name")
            << u"Grüße-7380-v1.bin"_s << qint64(3) << request(u"Grüße-7380-v1.bin"_s, "3");
        QTest::addRow("largest file")
            << u"7465-v2.bin"_s << Tftp::maxFileSize << request(u"7465-v2.bin"_s, "33553919");
    }

    void writeRequest()
    {
        QFETCH(QString, fileName);
        QFETCH(qint64, fileSize);
        QFETCH(QByteArray, expected);
        QCOMPARE(Tftp::writeRequest(fileName, fileSize), expected);
        if (fileSize < 100000)
            QCOMPARE(QTftp::buildWriteRequest(fileName, QByteArray(fileSize, 'x')), expected);
    }

    void dataPacketsOfThousandBytes()
    {
        QByteArray fileData(1000, Qt::Uninitialized);
        for (int i = 0; i < fileData.size(); ++i)
            fileData[i] = char(i * 7);
        const QList<QByteArray> packets = dataPackets(fileData);
        QCOMPARE(packets.size(), 2);
        QCOMPARE(packets.at(0), "\0\3\0\1"_ba + fileData.first(512));
        QCOMPARE(packets.at(1), "\0\3\0\2"_ba + fileData.sliced(512));
        QCOMPARE(packets.at(1).size(), 492);
    }

    void dataPacketHeader_data()
    {
        QTest::addColumn<int>("block");
        QTest::addColumn<QByteArray>("header");
        QTest::addRow("block 1") << 1 << "\0\3\0\1"_ba;
        QTest::addRow("block 255") << 255 << "\0\3\0\xff"_ba;
        QTest::addRow("block 256") << 256 << "\0\3\1\0"_ba;
        QTest::addRow("block 258") << 258 << "\0\3\1\2"_ba;
        QTest::addRow("block 65535") << 65535 << "\0\3\xff\xff"_ba;
    }

    void dataPacketHeader()
    {
        QFETCH(int, block);
        QFETCH(QByteArray, header);
        QByteArray packet(600, 'f'); // a longer packet before must not leave its tail
        Tftp::fillDataPacket(packet, quint16(block), "payload", 7);
        QCOMPARE(packet, header + "payload");
        // The last block of a file whose size is a multiple of 512 carries nothing.
        Tftp::fillDataPacket(packet, quint16(block), nullptr, 0);
        QCOMPARE(packet, header);
    }

    void reply_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("opcode");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("message");
        using R = Tftp::Reply;
        const auto two = [](int opcode) {
            return QByteArray(1, char(opcode >> 8)) + char(opcode & 0xff);
        };

        // Each opcode, followed by the same bytes.
        const QByteArray rest = "\0\7tsize\0"
                                "5\0"_ba;
        const QList<std::pair<int, R::Kind>> kinds = {{0, R::Unknown},
                                                      {1, R::Unexpected},
                                                      {2, R::Unexpected},
                                                      {3, R::Unexpected},
                                                      {6, R::OptionAcknowledgement},
                                                      {7, R::Unknown},
                                                      {8, R::Unknown},
                                                      {9, R::Unknown},
                                                      {256, R::Unknown},
                                                      {1028, R::Unknown},
                                                      {65535, R::Unknown}};
        for (const auto &[opcode, kind] : kinds)
            QTest::addRow("opcode %d", opcode)
                << two(opcode) + rest << int(kind) << opcode << 0 << QString();

        QTest::addRow("opcode 4") << two(4) + rest << int(R::Acknowledgement) << 4 << 7
                                  << QString();
        QTest::addRow("opcode 5") << two(5) + rest << int(R::ErrorReply) << 5 << 7 << u"tsize"_s;
        QTest::addRow("ACK 0") << "\0\4\0\0"_ba << int(R::Acknowledgement) << 4 << 0 << QString();
        QTest::addRow("ACK 258") << "\0\4\1\2"_ba << int(R::Acknowledgement) << 4 << 258
                                 << QString();
        QTest::addRow("ACK 65535")
            << "\0\4\xff\xff"_ba << int(R::Acknowledgement) << 4 << 65535 << QString();
        QTest::addRow("ACK, trailing bytes ignored")
            << "\0\4\0\5\1\2\3"_ba << int(R::Acknowledgement) << 4 << 5 << QString();

        const int error = int(R::ErrorReply);
        QTest::addRow("ERROR, terminated message")
            << "\0\5\0\2Access violation\0"_ba << error << 5 << 2 << u"Access violation"_s;
        QTest::addRow("ERROR, no terminating zero")
            << "\0\5\0\1File not found"_ba << error << 5 << 1 << u"File not found"_s;
        QTest::addRow("ERROR, nothing after the code")
            << "\0\5\0\3"_ba << error << 5 << 3 << QString();
        QTest::addRow("ERROR, only the zero") << "\0\5\0\0\0"_ba << error << 5 << 0 << QString();
        QTest::addRow("ERROR, text after the zero ignored")
            << "\0\5\1\0Disk full\0junk"_ba << error << 5 << 256 << u"Disk full"_s;
        QTest::addRow("ERROR, UTF-8 message")
            << "\0\5\0\0"_ba + u"Größe"_s.toUtf8() + '\0' << error << 5 << 0 << u"Größe"_s;
        QTest::addRow("ERROR 65535") << "\0\5\xff\xff"
                                        "x"_ba
                                     << error << 5 << 65535 << u"x"_s;

        // Every datagram of 0 to 3 bytes: an opcode needs 2 bytes, the number of an ACK or ERROR
        // 2 more; the others are read by their opcode alone. Nothing not in it is reported.
        const int malformed = int(R::Malformed);
        QTest::addRow("empty") << QByteArray() << malformed << 0 << 0 << QString();
        QTest::addRow("1 byte 00") << "\0"_ba << malformed << 0 << 0 << QString();
        QTest::addRow("1 byte ff") << "\xff"_ba << malformed << 0 << 0 << QString();
        for (const auto &[opcode, kind] :
             kinds + QList<std::pair<int, R::Kind>> {{4, R::Malformed}, {5, R::Malformed}}) {
            QTest::addRow("2 bytes, opcode %d", opcode)
                << two(opcode) << int(kind) << opcode << 0 << QString();
            QTest::addRow("3 bytes, opcode %d", opcode)
                << two(opcode) + '\1' << int(kind) << opcode << 0 << QString();
        }
    }

    void reply()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(int, kind);
        QFETCH(int, opcode);
        QFETCH(int, number);
        QFETCH(QString, message);
        const Tftp::Reply reply = GuardedDatagram(datagram).read();
        QCOMPARE(int(reply.kind), kind);
        QCOMPARE(int(reply.opcode), opcode);
        QCOMPARE(int(reply.number), number);
        QCOMPARE(reply.message, message);
    }
};

QTEST_APPLESS_MAIN(TestPackets)
#include "tst_packets.moc"
