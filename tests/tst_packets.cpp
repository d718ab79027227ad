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

Tftp::Reply readGuarded(const QByteArray &bytes)
{
    return GuardedDatagram(bytes).read();
}

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
    // Write request
    void doneWriteRequest();
    void writeRequestOfThousandBytes();
    void writeRequestLayout_data();
    void writeRequestLayout();
    void writeRequestUsesLocal8Bit();

    // DATA
    void dataPacketsOfThousandBytes();
    void dataPacketHeader_data();
    void dataPacketHeader();
    void dataPacketReusesBuffer();

    // Replies
    void opcodeMapping_data();
    void opcodeMapping();
    void acknowledgementNumber_data();
    void acknowledgementNumber();
    void errorReply_data();
    void errorReply();
    void shortDatagrams_data();
    void shortDatagrams();
};

void TestPackets::doneWriteRequest()
{
    const QByteArray expected = QByteArray::fromHex("0002646F6E65006F6374657400747369"
                                                    "7A65003000");
    QCOMPARE(expected.size(), 21);
    QCOMPARE(QTftp::buildWriteRequest(u"done"_s, QByteArray()), expected);
    QCOMPARE(Tftp::writeRequest(u"done"_s, 0), expected);
}

void TestPackets::writeRequestOfThousandBytes()
{
    const QByteArray request = QTftp::buildWriteRequest(u"7380-v1.bin"_s, QByteArray(1000, 'x'));
    QByteArray expected("\x00\x02", 2);
    expected.append("7380-v1.bin").append('\0');
    expected.append("octet").append('\0');
    expected.append("tsize").append('\0');
    expected.append("1000").append('\0');
    QCOMPARE(request, expected);
    QCOMPARE(request.size(), qsizetype(11 + 4 + 16));
}

void TestPackets::writeRequestLayout_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<qint64>("fileSize");
    QTest::addColumn<QByteArray>("sizeDigits");

    QTest::addRow("empty file") << u"a.bin"_s << qint64(0) << QByteArray("0");
    QTest::addRow("one byte") << u"a.bin"_s << qint64(1) << QByteArray("1");
    QTest::addRow("one block") << u"a.bin"_s << qint64(512) << QByteArray("512");
    QTest::addRow("largest file") << u"7465-v2.bin"_s << Tftp::maxFileSize
                                  << QByteArray("33553919");
    QTest::addRow("blank in name") << u"my file.bin"_s << qint64(70000) << QByteArray("70000");
}

void TestPackets::writeRequestLayout()
{
    QFETCH(QString, fileName);
    QFETCH(qint64, fileSize);
    QFETCH(QByteArray, sizeDigits);

    const QByteArray request = Tftp::writeRequest(fileName, fileSize);
    const QByteArray name = fileName.toLocal8Bit();
    QCOMPARE(request.size(), name.size() + sizeDigits.size() + 16);
    QCOMPARE(request.left(2), QByteArray("\x00\x02", 2));
    const QList<QByteArray> fields = request.mid(2).split('\0');
    // Four NUL-terminated fields, so splitting leaves an empty piece after the last NUL.
    QCOMPARE(fields, (QList<QByteArray> {name, "octet", "tsize", sizeDigits, QByteArray()}));
}

void TestPackets::writeRequestUsesLocal8Bit()
{
    const QString fileName = u"Grüße-7380-v1.bin"_s;
    const QByteArray request = QTftp::buildWriteRequest(fileName, QByteArray(3, 'x'));
    const QByteArray name = fileName.toLocal8Bit();
    QCOMPARE(request.mid(2, name.size()), name);
    QCOMPARE(request.at(2 + name.size()), '\0');
    QCOMPARE(request.size(), name.size() + 1 + 16);
}

void TestPackets::dataPacketsOfThousandBytes()
{
    QByteArray fileData(1000, Qt::Uninitialized);
    for (int i = 0; i < fileData.size(); ++i)
        fileData[i] = char(i * 7);

    const QList<QByteArray> packets = dataPackets(fileData);
    QCOMPARE(packets.size(), 2);
    QCOMPARE(packets.at(0).size(), 516);
    QCOMPARE(packets.at(1).size(), 492);
    QCOMPARE(packets.at(0).left(4), QByteArray("\x00\x03\x00\x01", 4));
    QCOMPARE(packets.at(1).left(4), QByteArray("\x00\x03\x00\x02", 4));
    QCOMPARE(packets.at(0).mid(4) + packets.at(1).mid(4), fileData);
}

void TestPackets::dataPacketHeader_data()
{
    QTest::addColumn<int>("block");
    QTest::addColumn<QByteArray>("header");

    QTest::addRow("block 1") << 1 << QByteArray("\x00\x03\x00\x01", 4);
    QTest::addRow("block 255") << 255 << QByteArray("\x00\x03\x00\xff", 4);
    QTest::addRow("block 256") << 256 << QByteArray("\x00\x03\x01\x00", 4);
    QTest::addRow("block 258") << 258 << QByteArray("\x00\x03\x01\x02", 4);
    QTest::addRow("block 65535") << 65535 << QByteArray("\x00\x03\xff\xff", 4);
}

void TestPackets::dataPacketHeader()
{
    QFETCH(int, block);
    QFETCH(QByteArray, header);

    const QByteArray payload("payload");
    QByteArray packet;
    Tftp::fillDataPacket(packet, quint16(block), payload.constData(), payload.size());
    QCOMPARE(packet, header + payload);

    // The last block of a file whose size is a multiple of 512 carries nothing.
    Tftp::fillDataPacket(packet, quint16(block), nullptr, 0);
    QCOMPARE(packet, header);
}

void TestPackets::dataPacketReusesBuffer()
{
    const QByteArray full(512, 'f');
    QByteArray packet;
    Tftp::fillDataPacket(packet, 1, full.constData(), full.size());
    QCOMPARE(packet.size(), 516);
    // A shorter block after a full one must not keep the old tail.
    const QByteArray tail("end");
    Tftp::fillDataPacket(packet, 2, tail.constData(), tail.size());
    QCOMPARE(packet, QByteArray("\x00\x03\x00\x02", 4) + tail);
}

void TestPackets::opcodeMapping_data()
{
    QTest::addColumn<int>("opcode");
    QTest::addColumn<int>("kind");

    QTest::addRow("0") << 0 << int(Tftp::Reply::Unknown);
    QTest::addRow("1 RRQ") << 1 << int(Tftp::Reply::Unexpected);
    QTest::addRow("2 WRQ") << 2 << int(Tftp::Reply::Unexpected);
    QTest::addRow("3 DATA") << 3 << int(Tftp::Reply::Unexpected);
    QTest::addRow("4 ACK") << 4 << int(Tftp::Reply::Acknowledgement);
    QTest::addRow("5 ERROR") << 5 << int(Tftp::Reply::ErrorReply);
    QTest::addRow("6 OACK") << 6 << int(Tftp::Reply::OptionAcknowledgement);
    QTest::addRow("7") << 7 << int(Tftp::Reply::Unknown);
    QTest::addRow("8") << 8 << int(Tftp::Reply::Unknown);
    QTest::addRow("9") << 9 << int(Tftp::Reply::Unknown);
    QTest::addRow("256 (high byte only)") << 256 << int(Tftp::Reply::Unknown);
    QTest::addRow("1028 (ACK in the high byte)") << 1028 << int(Tftp::Reply::Unknown);
    QTest::addRow("65535") << 65535 << int(Tftp::Reply::Unknown);
}

void TestPackets::opcodeMapping()
{
    QFETCH(int, opcode);
    QFETCH(int, kind);

    QByteArray datagram;
    datagram.append(char(opcode >> 8)).append(char(opcode & 0xff));
    datagram.append("\x00\x07"
                    "tsize\x00"
                    "5\x00",
                    10);
    const Tftp::Reply reply = readGuarded(datagram);
    QCOMPARE(int(reply.kind), kind);
    QCOMPARE(int(reply.opcode), opcode);
}

void TestPackets::acknowledgementNumber_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("block");

    QTest::addRow("block 0") << QByteArray("\x00\x04\x00\x00", 4) << 0;
    QTest::addRow("block 1") << QByteArray("\x00\x04\x00\x01", 4) << 1;
    QTest::addRow("block 258") << QByteArray("\x00\x04\x01\x02", 4) << 258;
    QTest::addRow("block 65535") << QByteArray("\x00\x04\xff\xff", 4) << 65535;
    QTest::addRow("trailing bytes ignored") << QByteArray("\x00\x04\x00\x05\x01\x02\x03", 7) << 5;
}

void TestPackets::acknowledgementNumber()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, block);

    const Tftp::Reply reply = readGuarded(datagram);
    QCOMPARE(reply.kind, Tftp::Reply::Acknowledgement);
    QCOMPARE(int(reply.number), block);
}

void TestPackets::errorReply_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");

    QTest::addRow("terminated message") << QByteArray("\x00\x05\x00\x02"
                                                      "Access violation\x00",
                                                      21)
                                        << 2 << u"Access violation"_s;
    QTest::addRow("no terminating zero") << QByteArray("\x00\x05\x00\x01"
                                                       "File not found",
                                                       18)
                                         << 1 << u"File not found"_s;
    QTest::addRow("nothing after the code") << QByteArray("\x00\x05\x00\x03", 4) << 3 << QString();
    QTest::addRow("only the zero") << QByteArray("\x00\x05\x00\x00\x00", 5) << 0 << QString();
    QTest::addRow("text after the zero ignored") << QByteArray("\x00\x05\x01\x00"
                                                               "Disk full\x00junk",
                                                               18)
                                                 << 256 << u"Disk full"_s;
    QTest::addRow("UTF-8 message")
        << (QByteArray("\x00\x05\x00\x00", 4) + u"Größe"_s.toUtf8() + QByteArray(1, '\0')) << 0
        << u"Größe"_s;
    QTest::addRow("code 65535") << QByteArray("\x00\x05\xff\xff"
                                              "x",
                                              5)
                                << 65535 << u"x"_s;
}

void TestPackets::errorReply()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, code);
    QFETCH(QString, message);

    const Tftp::Reply reply = readGuarded(datagram);
    QCOMPARE(reply.kind, Tftp::Reply::ErrorReply);
    QCOMPARE(int(reply.number), code);
    QCOMPARE(reply.message, message);
}

void TestPackets::shortDatagrams_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("kind");

    // Every datagram of 0 to 3 bytes: an opcode needs 2 bytes, the number of an ACK or ERROR 2
    // more. RRQ, WRQ, DATA, OACK and unknown opcodes are read by their opcode alone.
    QTest::addRow("empty") << QByteArray() << int(Tftp::Reply::Malformed);
    for (int first = 0; first < 256; first += 255) {
        const QByteArray one(1, char(first));
        QTest::addRow("1 byte %02x", first) << one << int(Tftp::Reply::Malformed);
    }
    const QList<QPair<int, Tftp::Reply::Kind>> byOpcode = {
        {0, Tftp::Reply::Unknown},
        {1, Tftp::Reply::Unexpected},
        {2, Tftp::Reply::Unexpected},
        {3, Tftp::Reply::Unexpected},
        {4, Tftp::Reply::Malformed},
        {5, Tftp::Reply::Malformed},
        {6, Tftp::Reply::OptionAcknowledgement},
        {7, Tftp::Reply::Unknown},
        {65535, Tftp::Reply::Unknown},
    };
    for (const auto &[opcode, kind] : byOpcode) {
        QByteArray two;
        two.append(char(opcode >> 8)).append(char(opcode & 0xff));
        QTest::addRow("2 bytes, opcode %d", opcode) << two << int(kind);
        QTest::addRow("3 bytes, opcode %d", opcode) << (two + '\x01') << int(kind);
    }
}

void TestPackets::shortDatagrams()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, kind);

    const Tftp::Reply reply = readGuarded(datagram);
    QCOMPARE(int(reply.kind), kind);
    // Nothing that is not in the datagram is ever reported.
    QCOMPARE(reply.number, quint16(0));
    QVERIFY(reply.message.isEmpty());
    if (datagram.size() >= 2)
        QCOMPARE(int(reply.opcode), (quint8(datagram.at(0)) << 8) | quint8(datagram.at(1)));
}

QTEST_APPLESS_MAIN(TestPackets)
#include "tst_packets.moc"
