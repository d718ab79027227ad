// tstx-update as a technician runs it: a fleet of tftpd-hpa devices and a scripted one on
// loopback addresses, the listing of a folder, and the usage errors.
#include "support/testsupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <deque>

using namespace Qt::StringLiterals;
using namespace TestSupport;

namespace {
// In sending order; with block edges, as real servers see them.
const QStringList firmware {u"7380-X-v1.bin"_s, u"7381-v2.bin"_s, u"7380KD-v3.bin"_s,
                            u"7465-v4.bin"_s};
QByteArray contents(int i)
{
    return randomBytes(QList<qint64> {0, 512, 1536, 6300}.at(i));
}
// What a device may say in its ERROR: raw, it would set the terminal's title.
const QByteArray hostileText = "\x1b]0;pwned\x07";

struct Run
{
    int exitCode = -1;
    QByteArray out, err;
    QJsonObject report; // what --report wrote
};

// Runs the program to its end while this thread's event loop goes on, so a scripted device
// answers meanwhile.
Run runProgram(const QStringList &arguments)
{
    QProcess process;
    QTemporaryDir reportFolder;
    QSignalSpy finished(&process, &QProcess::finished);
    process.start(QStringLiteral(PROGRAM),
                  arguments + QStringList {u"--report"_s, reportFolder.filePath(u"r"_s)});
    if (!finished.wait(60000) || process.exitStatus() != QProcess::NormalExit)
        qFatal("tstx-update did not end normally: %s", qPrintable(process.errorString()));
    QFile report(reportFolder.filePath(u"r"_s));
    return {
        process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError(),
        QJsonDocument::fromJson(report.open(QIODevice::ReadOnly) ? report.readAll() : "").object()};
}
} // namespace

class TestCli : public QObject
{
    Q_OBJECT

    QTemporaryDir folder; // the firmware, and one decoy
    QTemporaryDir empty; // no firmware at all, and a devices file

private slots:
    void initTestCase()
    {
        for (int i = 0; i < firmware.size(); ++i)
            QVERIFY(writeFile(folder.filePath(firmware[i]), contents(i)));
        QVERIFY(writeFile(folder.filePath(u"readme.txt"_s), "not sent"));
        QVERIFY(writeFile(empty.filePath(u"7390-v1.bin"_s), "no pattern's model"));
        // Only the comment names 127.0.0.3 twice; 127.0.0.2 is in the file and on the line.
        QVERIFY(writeFile(empty.filePath(u"devices"_s),
                          "# 127.0.0.3 is the spare\n127.0.0.3\n\n127.0.0.2 # rack 1\n"));
    }

    void fleet_data()
    {
        QTest::addColumn<bool>("withRefusingDevice");
        QTest::addRow("four real devices") << false;
        QTest::addRow("four real ones and one that refuses done") << true;
    }
    void fleet()
    {
        QFETCH(bool, withRefusingDevice);
        // One port for every device, on a loopback address each; half of them take no options.
        std::deque<Tftpd> servers;
        QStringList devices;
        for (int i = 2; i <= 5; ++i) {
            devices.append(u"127.0.0.%1"_s.arg(i));
            const Tftpd &server = servers.emplace_back(i % 2, devices.last(),
                                                       servers.empty() ? 0 : servers[0].port());
            QVERIFY2(server.errorString.isEmpty(), qPrintable(server.errorString));
        }
        // Takes every file but refuses "done": not updated, though all the firmware went in.
        ScriptedDevice refusing(
            [](int n, const QByteArray &got) {
                if (got.startsWith("\0\2done\0"_ba))
                    return QByteArrayList {errorPacket(2, hostileText)};
                return ScriptedDevice::acknowledge(n, got);
            },
            u"127.0.0.6"_s, servers[0].port());
        if (withRefusingDevice)
            devices.append(u"127.0.0.6"_s);

        const Run run = runProgram(
            QStringList {u"--port"_s, QString::number(servers[0].port()), folder.path()} + devices);
        QVERIFY2(run.exitCode == (withRefusingDevice ? 1 : 0), run.err.constData());
        for (const Tftpd &server : servers) {
            for (int i = 0; i < firmware.size(); ++i)
                QVERIFY2(server.file(firmware[i]) == contents(i), qPrintable(firmware[i]));
            QCOMPARE(server.file(u"done"_s), QByteArray());
        }
        const QJsonObject &json = run.report;
        QCOMPARE(json[u"totals"_s][u"updated"_s].toInt(), 4);
        QCOMPARE(json[u"totals"_s][u"failed"_s].toInt(), int(withRefusingDevice));
        QCOMPARE(json[u"devices"_s][0][u"filesSent"_s].toInt(), 5);
        if (!withRefusingDevice)
            return;
        // In order, then "done"; the device's own text reported.
        QCOMPARE(refusing.requests(), firmware + QStringList {u"done"_s});
        const QJsonObject failed = json[u"devices"_s][4].toObject();
        QCOMPARE(failed[u"filesSent"_s].toInt(), 4);
        QCOMPARE(failed[u"status"_s].toString(),
                 u"Protocol Error: 2 "_s + QString::fromLatin1(hostileText));
        // On the terminal it is shown, escaped, and never acts.
        QVERIFY2(run.out.contains(" Protocol Error: 2 \\x1b]0;pwned\\x07\n"), run.out.constData());
        QVERIFY(!run.out.contains('\x1b') && !run.err.contains('\x1b'));
    }

    // Listings and usage errors: nothing is sent, no report written.
    void sendsNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("listing"); // standard output; none: a usage error
        QTest::addColumn<QByteArray>("message"); // in the one line on standard error
        const QString dir = folder.path(), none = dir + u"/nothing"_s, device = u"127.0.0.2"_s;
        const auto row = [](const char *label, const QStringList &arguments,
                            const QByteArray &listing, const char *message) {
            QTest::addRow("%s", label) << arguments << listing << QByteArray(message);
        };
        row("list, decoy left out", {u"--list"_s, dir},
            "         0  7380-X-v1.bin\n       512  7381-v2.bin\n      1536  7380KD-v3.bin\n"
            "      6300  7465-v4.bin\n         0  done\n",
            "");
        row("list, no firmware", {u"--list"_s, empty.path()}, "         0  done\n",
            "no firmware files");
        row("unknown option", {u"--bogus"_s, dir, device}, {}, "Unknown option 'bogus'");
        row("no devices", {dir}, {}, "no devices given");
        row("missing folder", {none, device}, {}, "there is no folder");
        row("no firmware", {empty.path(), device}, {}, "holds no firmware images");
        row("unreadable devices file", {dir, u"--devices"_s, none}, {},
            "cannot read the devices file");
        row("device twice", {dir, device, u"--devices"_s, empty.filePath(u"devices"_s)}, {},
            "the device 127.0.0.2 is listed twice");
    }
    void sendsNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, listing);
        QFETCH(QByteArray, message);
        const Run run = runProgram(arguments);
        QCOMPARE(run.exitCode, listing.isEmpty() ? 2 : 0);
        QCOMPARE(run.out, listing);
        QVERIFY(run.report.isEmpty());
        QVERIFY2(message.isEmpty() ? run.err.isEmpty()
                                   : run.err.startsWith("tstx-update: ") && run.err.count('\n') == 1
                         && run.err.contains(message),
                 run.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
