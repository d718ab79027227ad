// Which files of a folder are sent in which order; which interface is remembered and found again.
#include "deviceaddress.h"
#include "firmwarefile.h"
#include "networkinterfaces.h"
#include "settings.h"
#include "support/testsupport.h"

#include <QSignalSpy>
#include <QThreadPool>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace TestSupport;

namespace {
// On Windows the system name is a GUID and the shown name another: both must be kept apart.
InterfaceList craftedInterfaces()
{
    const QHostAddress v6(u"fe80::1"_s), a1(u"10.0.0.1"_s), a2(u"10.0.0.2"_s), a3(u"10.0.0.3"_s);
    return {{u"{guid-2}"_s, u"Ethernet 2"_s, {a2}},
            {u"{guid-1}"_s, u"Ethernet"_s, {v6, a1, QHostAddress(u"10.0.0.9"_s)}},
            {u"{guid-3}"_s, u"Ethernet"_s, {a3}},
            {u"{guid-4}"_s, u"Backbone"_s, {v6}}};
}
QStringList split(const QString &names)
{
    return names.split(u'|', Qt::SkipEmptyParts);
}
// Lists folder as the window does, and lets the reading of its images, on the pool, report.
void listAndRead(QTftp &tftp, const QString &folder)
{
    tftp.buildFileList(QUrl::fromLocalFile(folder));
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}
} // namespace

class TestRules : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(u"Brindlemoor"_s);
        QCoreApplication::setApplicationName(u"TsTxUpdater"_s);
        QVERIFY(settingsAreOwn());
    }

    void selection_data()
    {
        // "name/" is a folder, "name:=text" a file of that text ("SHA256SUMS=text" too), "name->"
        // a link that leads nowhere, "name=>" a link to a folder; "\xff" stands for that byte.
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QString>("statusEnd"); // how the status after the listing ends
        const auto row = [](const char *label, const QString &files, const QString &expected,
                            const QString &statusEnd = {}) {
            QTest::addRow("%s", label) << split(files) << split(expected) << statusEnd;
        };
        row("pattern order beats name order",
            u"7465-v1.bin|7382KS-v1.bin|7381KP-v1.bin|7380KN-v1.bin|7382KM-v1.bin|7381KH-v1.bin|"
            "7380KF-v1.bin|7382KD-v1.bin|7381-v1.bin|7380-X-v1.bin|notes.txt"_s,
            u"7380-X-v1.bin|7381-v1.bin|7382KD-v1.bin|7380KF-v1.bin|7381KH-v1.bin|7382KM-v1.bin|"
            "7380KN-v1.bin|7381KP-v1.bin|7382KS-v1.bin|7465-v1.bin"_s);
        row("matched with case, listed without",
            u"7380-v1.BIN|7380-V1.bin|B-7380-v2.bin|a-7380-v3.bin|7380kd-v1.bin"_s,
            u"a-7380-v3.bin|B-7380-v2.bin"_s);
        row("model digits", u"7461-v1.bin|7462-v1.bin|7465-v1.bin|7383-v1.bin|7382-v1.bin"_s,
            u"7382-v1.bin|7461-v1.bin|7465-v1.bin"_s);
        row("versions as text, .bin anywhere, literal dot",
            u"7380-v9.bin|7380-v10.bin|7380-v2.bin.bak|7380-v1xbin"_s,
            u"7380-v10.bin|7380-v2.bin.bak|7380-v9.bin"_s);
        row("files only", u".7380-v1.bin|7381-v1.bin/|7380-v2.bin"_s, u"7380-v2.bin"_s);
        row("odd names",
            u"7380-v1#2.bin|7380-v1?x.bin|7380-v1%20x.bin|7380-v1 x.bin|7380-v1%.bin|Größe 7380-v1;@&=+.bin"_s,
            u"7380-v1 x.bin|7380-v1#2.bin|7380-v1%.bin|7380-v1%20x.bin|7380-v1?x.bin|Größe 7380-v1;@&=+.bin"_s);
        // Copies are all sent, and named in sending order; other versions are no copies.
        row("copies of one image",
            u"7380-v1.bin|7380-v1.bin.bak|7380-v1 Kopie.bin|7380-v1 (2).bin|7380-v10.bin|"
            "7381-v1 - Copy.bin|7381-v1.bin|Copy of 7382-v1.bin|7382-v1.bin"_s,
            u"7380-v1 (2).bin|7380-v1 Kopie.bin|7380-v1.bin|7380-v1.bin.bak|7380-v10.bin|"
            "7381-v1 - Copy.bin|7381-v1.bin|7382-v1.bin|Copy of 7382-v1.bin"_s,
            u"Copy of 7382-v1.bin; 7380-v1 (2).bin, 7380-v1 Kopie.bin, 7380-v1.bin and "
            "7380-v1.bin.bak look like copies of one image; all 4 are sent, in this order; "
            "7381-v1 - Copy.bin and 7381-v1.bin look like copies of one image; both are sent, "
            "in this order; 7382-v1.bin and Copy of 7382-v1.bin look like copies of one image; "
            "both are sent, in this order; 7380-v1 (2).bin, 7380-v1 Kopie.bin, 7380-v1.bin, "
            "7380-v1.bin.bak and 7380-v10.bin are versions of one image; all 5 are sent, in this "
            "order, and the transmitter keeps 7380-v10.bin"_s);
        // Sent in name order, so the one kept is not the newest: the technician is told.
        row("versions of one image", u"7380-X-v1.bin|7380-X-v10.bin|7380-X-v2.bin|7381-X-v3.bin"_s,
            u"7380-X-v1.bin|7380-X-v10.bin|7380-X-v2.bin|7381-X-v3.bin"_s,
            u"firmware files: 7380-X-v1.bin, 7380-X-v10.bin, 7380-X-v2.bin, 7381-X-v3.bin; "
            "7380-X-v1.bin, 7380-X-v10.bin and 7380-X-v2.bin are versions of one image; all 3 "
            "are sent, in this order, and the transmitter keeps 7380-X-v2.bin"_s);
        // Listed whatever they are, and they stop a run: the rest would go without them.
        const QString refused = u", so a run will send nothing"_s;
        row("a link to a folder, named like an image", u"7380-v1.bin=>|7381-v1.bin"_s,
            u"7380-v1.bin|7381-v1.bin"_s, u"; 7380-v1.bin is a link to a folder"_s + refused);
        row("a name that is not valid text", u"7380-v1\\xff.bin|7381-v1.bin"_s,
            u"7380-v1\\xff.bin|7381-v1.bin"_s,
            u"; 7380-v1\\xff.bin has a name that is not valid text, shown here escaped"_s
                + refused);
        row("an empty primary image", u"7380-v1.bin:=|7465-v1.bin:="_s,
            u"7380-v1.bin|7465-v1.bin"_s,
            u"firmware files: 7380-v1.bin, 7465-v1.bin; 7380-v1.bin is empty, and a device that "
            "answers it with an ERROR is taken to have it"_s);
        // As sha256sum -c reads it: either separator, Windows line ends, "./", escaped names.
        const QString digest = Firmware::sha256Hex("x"), other = Firmware::sha256Hex("y");
        row("SHA256SUMS matching",
            u"7380-v1.bin|7381-v1\\x.bin|SHA256SUMS=%1 *./7380-v1.bin\r\n\\%1  7381-v1\\\\x.bin"_s
                .arg(digest),
            u"7380-v1.bin|7381-v1\\x.bin"_s,
            u"firmware files: 7380-v1.bin, 7381-v1\\x.bin; checked against SHA256SUMS"_s);
        row("SHA256SUMS with a byte-order mark, --tag lines and one space",
            u"7380-v1.bin|7381-v1.bin|SHA256SUMS=\uFEFFSHA256 (7380-v1.bin) = %1\r\n%1 7381-v1.bin\n"_s
                .arg(digest),
            u"7380-v1.bin|7381-v1.bin"_s, u"; checked against SHA256SUMS"_s);
        row("SHA256SUMS naming an image the folder lacks",
            u"7380-v1.bin|SHA256SUMS=%1  7380-v1.bin\n%1  7381-v1.bin"_s.arg(digest),
            u"7380-v1.bin"_s,
            u"; SHA256SUMS names 7381-v1.bin, which the folder does not hold"_s + refused);
        row("SHA256SUMS with a line sha256sum -c rejects",
            u"7380-v1.bin|SHA256SUMS=%1  7380-v1.bin\n%1\n"_s.arg(digest), u"7380-v1.bin"_s,
            u"; SHA256SUMS line 2 is malformed: sha256sum -c rejects it"_s + refused);
        row("a checksum list under another name", u"7380-v1.bin|SHA256SUMS.txt|fw.sha256"_s,
            u"7380-v1.bin"_s,
            u"; fw.sha256 is not read: only a file named SHA256SUMS is checked; SHA256SUMS.txt is "
            "not read: only a file named SHA256SUMS is checked"_s);
        row("SHA256SUMS mismatching",
            u"7380-v1.bin|7381-v1.bin|SHA256SUMS=%1  7380-v1.bin"_s.arg(other),
            u"7380-v1.bin|7381-v1.bin"_s,
            u"; 7380-v1.bin does not match its line in SHA256SUMS, so a run will send nothing"_s);
        row("SHA256SUMS missing a line",
            u"7380-v1.bin|7381-v1.bin|SHA256SUMS=%1  7380-v1.bin"_s.arg(digest),
            u"7380-v1.bin|7381-v1.bin"_s,
            u"; 7381-v1.bin has no line in SHA256SUMS, so a run will send nothing"_s);
    }
    void selection()
    {
        QFETCH(QStringList, files);
        QFETCH(QStringList, expected);
        QFETCH(QString, statusEnd);
        QTemporaryDir root;
        const QDir folder(root.filePath(u"fw #3?a=1 %20 [x]"_s));
        QVERIFY(folder.mkpath(u"."_s));
        QVERIFY(folder.mkdir(u"sub"_s));
        for (QString file : files) {
            if (file.startsWith(u"SHA256SUMS="_s))
                file.insert(10, u':');
            const QString name = file.section(u":="_s, 0, 0), text = file.section(u":="_s, 1);
            if (name.contains(u"\\xff"_s)) { // a name Qt cannot even list
                QByteArray raw = QFile::encodeName(folder.filePath(name));
                raw.replace("\\xff", "\xff");
                QVERIFY(::close(::creat(raw.constData(), 0644)) == 0);
            } else if (name.endsWith(u"->"_s) || name.endsWith(u"=>"_s)) {
                QVERIFY(QFile::link(folder.filePath(name.endsWith(u"->"_s) ? u"gone"_s : u"sub"_s),
                                    folder.filePath(name.chopped(2))));
            } else {
                QVERIFY(name.endsWith(u'/')
                            ? folder.mkdir(name)
                            : writeFile(folder.filePath(name),
                                        file.contains(u":="_s) ? text.toUtf8() : "x"));
            }
        }
        QTftp tftp;
        listAndRead(tftp, folder.path());
        // Each entry must lead a run back to exactly its file.
        QStringList selected;
        for (const QString &entry : tftp.firmwareList())
            selected.append(QUrl(entry, QUrl::TolerantMode).fileName(QUrl::FullyDecoded));
        QCOMPARE(selected, expected);
        QVERIFY2(tftp.errorString().endsWith(statusEnd), qPrintable(tftp.errorString()));
    }

    void listingTwice()
    {
        QTemporaryDir folder;
        for (const QString &name : split(u"7381-X-vA.bin|Old-7382-v9.BIN.bin|7381KD-v1.bin|"
                                         "7380-V1.BIN|a.txt|b.bin|c.BIN|d.bin"_s))
            QVERIFY(writeFile(folder.filePath(name), "x"));
        QVERIFY(QFile::link(u"/dev/zero"_s, folder.filePath(u"7465-v1.bin"_s)));
        const QStringList before = QTftp::errorTolerantFiles;
        QTftp tftp;
        QSignalSpy statuses(&tftp, &QTftp::errorStringChanged); // the window's status line
        for (int listing = 0; listing < 2; ++listing) {
            // Support compares technicians' logs against these lines.
            QTest::ignoreMessage(QtDebugMsg, QRegularExpression(u"^QList\\(\"file:"_s));
            QTest::ignoreMessage(QtDebugMsg, "dsda");
            listAndRead(tftp, folder.path());
        }
        const QStringList recorded = QTftp::errorTolerantFiles.mid(before.size());
        QTftp::errorTolerantFiles = before;
        QCOMPARE(recorded,
                 split(u"7381-x-va.bin|old-7382-v9.bin.bin|7381-x-va.bin|old-7382-v9.bin.bin"_s));
        QCOMPARE(tftp.firmwareList().size(), 4); // made anew, not added to
        // Each listing says what it found at once, and then what its images' reading found.
        QCOMPARE(statuses.size(), 4);
        QCOMPARE(tftp.errorString(),
                 u"Ready to send 4 firmware files: 7381-X-vA.bin, Old-7382-v9.BIN.bin, "
                 "7381KD-v1.bin, 7465-v1.bin; 7465-v1.bin is not a regular file, so a run will "
                 "send nothing; 4 .bin files match no firmware name and will not be sent: "
                 "7380-V1.BIN, b.bin, c.BIN and 1 more"_s);
        QVERIFY(folder.remove());
        tftp.buildFileList(QUrl::fromLocalFile(folder.path()));
        QCOMPARE(tftp.errorString(),
                 u"There is no folder "_s + QDir::toNativeSeparators(folder.path()));
    }

    // Each row: the address read, "name" (to be looked up), or what the refusal says.
    void deviceAddress_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("read");
        const auto row = [](const QString &typed, const QString &read) {
            QTest::addRow("%s", qPrintable(typed)) << typed << read;
        };
        row(u" 10.0.10.0\t"_s, u"10.0.10.0"_s);
        row(u"tx-7.site_b"_s, u"name"_s);
        row(u"bad..name"_s, u"name"_s);
        row(u"192.168.001.010"_s,
            u" has parts with leading zeros, which some tools read as octal; type 192.168.1.10"_s);
        row(u"127.1"_s, u" is not a whole IPv4 address; type all four decimal parts"_s);
        row(u"2130706433"_s, u" is not a whole IPv4 address"_s);
        row(u"0x7f.0.0.1"_s, u" is not a four-part decimal IPv4 address"_s);
        row(u"127.0.0.256"_s, u" has a part over 255"_s);
        row(u"10.0.0.2/24"_s, u" has a slash in it"_s);
        row(u"127.0.0.2,127.0.0.3"_s, u" names more than one device"_s);
        row(u"http://127.0.0.2"_s, u" is not an address or host name"_s);
        row(u"tx 7"_s, u" has a space in it"_s);
        row(u"::1"_s, u" is an IPv6 address"_s);
        row(u"\uff11\uff12\uff17.0.0.1"_s, u" is written with characters other than the digits"_s);
        row(u"tx@7"_s, u" has the character @, which no host name has"_s);
    }
    void deviceAddress()
    {
        QFETCH(QString, typed);
        QFETCH(QString, read);
        const DeviceAddress device = readDeviceAddress(typed);
        const QString address = device.isHostName() ? u"name"_s : device.address.toString();
        if (read.startsWith(u' '))
            QVERIFY2(device.problem.startsWith(typed + read), qPrintable(device.problem));
        else
            QCOMPARE(device.problem.isEmpty() ? address : device.problem, read);
    }

    void rememberedInterface_data()
    {
        QTest::addColumn<QString>("chosen"); // the name part of the chosen entry
        QTest::addColumn<QString>("stored"); // the system name remembered
        QTest::addColumn<int>("index"); // where the window finds it again
        QTest::addRow("first of two of that name") << u"Ethernet"_s << u"{guid-1}"_s << 1;
        QTest::addRow("name that another extends") << u"Ethernet 2"_s << u"{guid-2}"_s << 0;
        QTest::addRow("no IPv4 entry") << u"Backbone"_s << u"{guid-4}"_s << -1;
        QTest::addRow("nobody bears it") << u"Wi-Fi"_s << u"gone0"_s << 0;
        QTest::addRow("letter case counts") << u"ethernet"_s << u"gone0"_s << 0;
        QTest::addRow("empty") << QString() << u"gone0"_s << 0;
    }
    void rememberedInterface()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, stored);
        QFETCH(int, index);
        Settings::saveInterface(u"gone0"_s);
        setInterfaceSource(&craftedInterfaces);
        QTftp tftp;
        tftp.saveNetworkIf(chosen);
        const QString remembered = tftp.loadNetoworkIf();
        const int found = tftp.savedInterfaceIndex();
        setInterfaceSource(nullptr);
        QCOMPARE(tftp.ifsList(),
                 split(u"Ethernet 2 -- 10.0.0.2|Ethernet -- 10.0.0.1|"
                       "Ethernet -- 10.0.0.9|Ethernet -- 10.0.0.3"_s));
        QCOMPARE(remembered, stored);
        QCOMPARE(found, index);
        // Any address text is remembered, the empty one too, without the spaces around it.
        tftp.saveNetworkAddr(u" "_s + chosen + u"\t"_s);
        QCOMPARE(QSettings().value(Settings::addressKey, u"absent"_s).toString(), chosen);
    }
};

QTEST_GUILESS_MAIN(TestRules)
#include "tst_rules.moc"
