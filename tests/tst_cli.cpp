// tstx-update as a technician runs it: fleets on loopback, folder listings, usage errors.
#include "firmwarefile.h"
#include "support/testsupport.h"
#include "version.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSignalSpy>

#include <csignal>
#include <deque>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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

// Runs the program to its end while this thread's event loop serves scripted devices; with a
// report unless the arguments name another; setUp may change the process, a wrapper runs it.
Run runProgram(
    const QStringList &arguments, const std::function<void(QProcess &)> &setUp = [](QProcess &) {},
    QStringList wrapper = {})
{
    QProcess process;
    QTemporaryDir reportFolder;
    QSignalSpy finished(&process, &QProcess::finished);
    setUp(process);
    wrapper += QStringList {QStringLiteral(PROGRAM), u"--report"_s, reportFolder.filePath(u"r"_s)};
    const QString command = wrapper.takeFirst();
    process.start(command, wrapper + arguments);
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
    QTemporaryDir empty; // no firmware at all, a devices file and a FIFO
    QTemporaryDir tooLarge; // an image a transfer cannot carry, and a devices file too large
    QTemporaryDir summed; // two copies of one image, one of them not matching SHA256SUMS

private slots:
    void initTestCase()
    {
        qputenv("TERM", "xterm"); // for the runs on a terminal: one that shows colours
        qunsetenv("NO_COLOR");
        QByteArray sums;
        for (int i = 0; i < firmware.size(); ++i) {
            QVERIFY(writeFile(folder.filePath(firmware[i]), contents(i)));
            sums += (Firmware::sha256Hex(contents(i)) + u"  "_s + firmware[i] + u'\n').toLatin1();
        }
        QVERIFY(writeFile(folder.filePath(u"SHA256SUMS"_s), sums));
        QVERIFY(writeFile(summed.filePath(u"7380-v1.bin"_s), "a"));
        QVERIFY(writeFile(summed.filePath(u"7380-v1 (2).bin"_s), "a"));
        QVERIFY(writeFile(summed.filePath(u"SHA256SUMS"_s),
                          Firmware::sha256Hex("a").toLatin1() + " *7380-v1 (2).bin\n"
                              + Firmware::sha256Hex("b").toLatin1() + "  7380-v1.bin\n"));
        QVERIFY(writeFile(folder.filePath(u"readme.txt"_s), "not sent"));
        QVERIFY(writeFile(folder.filePath(u"7381-V9.BIN"_s), "letter case"));
        QVERIFY(writeFile(tooLarge.filePath(u"7380-v1.bin"_s), {}));
        QVERIFY(writeFile(tooLarge.filePath(u"7465-v1.bin"_s), {})
                && QFile::resize(tooLarge.filePath(u"7465-v1.bin"_s), 33553920));
        QVERIFY(writeFile(tooLarge.filePath(u"devices"_s), QByteArray((1 << 20) + 1, ' ')));
        QVERIFY(::mkfifo(QFile::encodeName(empty.filePath(u"fifo"_s)).constData(), 0600) == 0);
        QVERIFY(writeFile(empty.filePath(u"7390-v1.bin"_s), "no pattern's model"));
        // Only the comment names 127.0.0.3 twice; 127.0.0.2 is in the file and on the line.
        QVERIFY(writeFile(empty.filePath(u"devices"_s),
                          "# 127.0.0.3 is the spare\n127.0.0.3\n\n127.0.0.2 # rack 1\n"));
        QVERIFY(QFile::link(folder.filePath(firmware[3]), empty.filePath(u"to-image"_s)));
        QVERIFY(QFile::link(empty.filePath(u"gone/r.json"_s), empty.filePath(u"to-nowhere"_s)));
    }

    void fleet_data()
    {
        QTest::addColumn<bool>("withScripted");
        QTest::addRow("four real devices, standard error a closed pipe") << false;
        // It takes an ERROR to its second image, which counts as taken, and refuses done.
        QTest::addRow("four real ones and a scripted one") << true;
    }
    void fleet()
    {
        QFETCH(bool, withScripted);
        // One port for every device, on a loopback address each; half of them take no options.
        std::deque<Tftpd> servers;
        QStringList devices;
        for (int i = 2; i <= 5; ++i) {
            devices.append(u"127.0.0.%1"_s.arg(i));
            const Tftpd &server = servers.emplace_back(i % 2, devices.last(),
                                                       servers.empty() ? 0 : servers[0].port());
            QVERIFY2(server.errorString.isEmpty(), qPrintable(server.errorString));
        }
        ScriptedDevice scripted(
            [](int n, const QByteArray &got) {
                if (got.startsWith("\0\2done\0"_ba)
                    || got.startsWith("\0\2"_ba + firmware[1].toLatin1()))
                    return QByteArrayList {errorPacket(2, hostileText)};
                return ScriptedDevice::acknowledge(n, got);
            },
            u"127.0.0.6"_s, servers[0].port());
        if (withScripted)
            devices.append(u"127.0.0.6"_s);
        int pipeEnds[2] = {-1, -1};
        QVERIFY(::pipe(pipeEnds) == 0 && ::close(pipeEnds[0]) == 0);

        const Run run = runProgram(
            QStringList {u"--port"_s, QString::number(servers[0].port()), folder.path()} + devices,
            [&](QProcess &process) {
                if (!withScripted)
                    process.setStandardErrorFile(u"/proc/self/fd/%1"_s.arg(pipeEnds[1]));
            });
        ::close(pipeEnds[1]);
        QVERIFY2(run.exitCode == int(withScripted), run.err.constData());
        for (const Tftpd &server : servers) {
            for (int i = 0; i < firmware.size(); ++i)
                QVERIFY2(server.file(firmware[i]) == contents(i), qPrintable(firmware[i]));
            QCOMPARE(server.file(u"done"_s), QByteArray());
        }
        QCOMPARE(run.report[u"totals"_s][u"updated"_s].toInt(), 4);
        QCOMPARE(run.report[u"totals"_s][u"failed"_s].toInt(), int(withScripted));
        QCOMPARE(run.report[u"devices"_s][0][u"filesSent"_s].toInt(), 5);
        if (!withScripted)
            return;
        // In order, then "done"; the device's own text reported, escaped, never acting.
        QCOMPARE(scripted.requests(), firmware + QStringList {u"done"_s});
        const QJsonObject device = run.report[u"devices"_s][4].toObject();
        QCOMPARE(device[u"filesSent"_s].toInt(), 4);
        QCOMPARE(device[u"status"_s].toString(),
                 u"Protocol Error: 2 "_s + QString::fromLatin1(hostileText));
        QVERIFY2(run.out.contains(" Protocol Error: 2 \\x1b]0;pwned\\x07\n"), run.out.constData());
        QVERIFY(!run.out.contains('\x1b') && !run.err.contains('\x1b'));
        // The ERROR taken as received said, and its image's bytes not counted as acknowledged.
        QCOMPARE(device[u"bytes"_s].toInt(), 0 + 1536 + 6300);
        QCOMPARE(device[u"acceptedErrors"_s],
                 (QJsonArray {QJsonObject {{u"file"_s, firmware[1]},
                                           {u"code"_s, 2},
                                           {u"message"_s, QString::fromLatin1(hostileText)},
                                           {u"bytesAcknowledged"_s, 0}}}));
        QVERIFY2(run.out.contains(" failed* ") && run.out.contains("\n* ")
                     && run.out.contains("7381-v2.bin: ERROR 2 \\x1b]0;pwned\\x07, after 0 bytes"),
                 run.out.constData());
        // Each plain line starts with the local time, and tells of the ERROR taken.
        static const QRegularExpression timed(
            u"^\\d{4}-\\d\\d-\\d\\dT[\\d:]{8}(Z|[+-][\\d:]{5}) "_s);
        for (const QByteArray &line : run.err.split('\n'))
            QVERIFY2(line.isEmpty() || timed.match(QString::fromUtf8(line)).hasMatch(), line);
        QVERIFY(run.err.contains("ERROR taken as received for 7381-v2.bin"));
    }

    // Devices that wait before each answer, as devices writing flash do, so updates overlap.
    void slowFleet_data()
    {
        QTest::addColumn<int>("parallel");
        QTest::addColumn<int>("interrupts"); // during the second device's last image
        QTest::addColumn<int>("rows"); // of the terminal on standard error; 0: a pipe
        QTest::addColumn<bool>("noColour"); // NO_COLOR set
        // Read once at the start: what the first device is sent is what every device gets.
        QTest::addColumn<bool>("replaced"); // the images, during the first device's last one
        QTest::addRow("--parallel 2: two in flight, never three") << 2 << 0 << 0 << false << false;
        QTest::addRow("four running in four rows") << 4 << 0 << 4 << false << false;
        QTest::addRow("four rows, NO_COLOR") << 4 << 0 << 4 << true << false;
        QTest::addRow("Ctrl+C: no further one starts") << 1 << 1 << 0 << false << false;
        QTest::addRow("Ctrl+C twice: quits at once, reports") << 1 << 2 << 0 << false << false;
        QTest::addRow("SIGINT, SIGTERM, SIGINT: reports") << 1 << 3 << 0 << false << false;
        QTest::addRow("images replaced during the run") << 1 << 0 << 0 << false << true;
    }
    void slowFleet()
    {
        QFETCH(int, parallel);
        QFETCH(int, interrupts);
        QFETCH(int, rows);
        QFETCH(bool, noColour);
        QFETCH(bool, replaced);
        const QStringList results = interrupts == 0
            ? QStringList(4, u"updated"_s)
            : QStringList {u"updated"_s, u"cancelled"_s, u"not started"_s, u"not started"_s};
        std::deque<ScriptedDevice> devices;
        QStringList names;
        int inFlight = 0, mostInFlight = 0;
        QProcess *program = nullptr;
        // The first by a name: the table and the report say where it led.
        for (int i = 0; i < 4; ++i) {
            names.append(i == 0 ? u"localhost"_s : u"127.0.0.%1"_s.arg(i + 2));
            devices.emplace_back(
                [&, i](int n, const QByteArray &got) {
                    const QStringList requests = devices[size_t(i)].requests();
                    if (got.startsWith("\0\2"_ba) && requests.size() == 1)
                        mostInFlight = qMax(mostInFlight, ++inFlight);
                    inFlight -= int(got.startsWith("\0\2done\0"_ba));
                    if (replaced && i == 0 && got.startsWith("\0\2"_ba + firmware[3].toLatin1())) {
                        for (const QString &name : firmware)
                            replaceUnseen(folder.filePath(name));
                    }
                    if (i == 1 && interrupts > 0 && requests.constLast() == firmware[3]
                        && got.startsWith("\0\3\0\2"_ba)) {
                        // To the main thread (ThreadSanitizer holds a signal for an upload's
                        // thread until its wait ends); a second one as SIGTERM, not merged with
                        // the first, a third while the report is written; then silent.
                        const auto pid = pid_t(program->processId());
                        ::tgkill(pid, pid, SIGINT);
                        if (interrupts >= 2 && ::tgkill(pid, pid, SIGTERM) == 0) {
                            for (int more = 2; more < interrupts; ++more) {
                                ::usleep(1000);
                                ::tgkill(pid, pid, SIGINT);
                            }
                            return QByteArrayList();
                        }
                    }
                    // An ERROR to a primary image, taken as received: updated*.
                    if (i == 3 && rows > 0 && got.startsWith("\0\2"_ba + firmware[0].toLatin1()))
                        return QByteArrayList {errorPacket(2, "full")};
                    return ScriptedDevice::acknowledge(n, got);
                },
                i == 0 ? u"127.0.0.1"_s : names.last(), devices.empty() ? 0 : devices[0].port());
            devices.back().delayMs = 20;
        }
        const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
        const winsize size {ushort(rows), 60, 0, 0};
        QVERIFY(::ioctl(terminal, TIOCSWINSZ, &size) == 0);

        const Run run = runProgram(
            QStringList {u"--port"_s, QString::number(devices[0].port()), u"--parallel"_s,
                         QString::number(parallel), folder.path()}
                + names,
            [&](QProcess &process) {
                program = &process;
                if (noColour)
                    process.setEnvironment(QProcess::systemEnvironment() << u"NO_COLOR=1"_s);
                if (rows > 0)
                    process.setStandardErrorFile(QString::fromLatin1(::ptsname(terminal)));
            });
        QByteArray shown; // a few kilobytes, well within what the terminal holds unread
        char bytes[4096];
        for (qsizetype got = 0; (got = ::read(terminal, bytes, sizeof bytes)) > 0;)
            shown.append(bytes, got);
        ::close(terminal);
        QCOMPARE(run.exitCode, interrupts >= 2 ? 130 : interrupts);
        QCOMPARE(run.report[u"devices"_s][0][u"address"_s].toString(), u"127.0.0.1"_s);
        QVERIFY2(run.out.contains("\nlocalhost (127.0.0.1)  "), run.out.constData());
        QCOMPARE(mostInFlight, parallel);
        QCOMPARE(run.report[u"interrupted"_s].toBool(), interrupts > 0);
        QByteArray sent; // what every updated device must have received; the folder as it was
        for (int i = 0; i < firmware.size(); ++i) {
            QVERIFY(writeFile(folder.filePath(firmware[i]), contents(i)));
            sent += contents(i);
        }
        for (int i = 0; i < 4; ++i) {
            const QJsonObject device = run.report[u"devices"_s][i].toObject();
            QCOMPARE(device[u"result"_s].toString(), results[i]);
            QCOMPARE(devices[size_t(i)].received.isEmpty(), results[i] == u"not started"_s);
            QByteArray received;
            for (const QByteArray &got : std::as_const(devices[size_t(i)].received))
                received += got.startsWith("\0\3"_ba) ? got.mid(4) : QByteArray();
            QVERIFY2(results[i] != u"updated"_s || received == sent, qPrintable(names[i]));
        }
        // Cut off in its last image: the bytes the device acknowledged of it counted, and the
        // device told to drop the rest (unless the tool quit at once).
        const QJsonObject cut = run.report[u"devices"_s][1].toObject();
        if (interrupts == 1)
            QTRY_COMPARE(devices[1].received.constLast(),
                         errorPacket(0, "Update stopped on request"));
        QVERIFY(interrupts == 0 || (cut[u"filesSent"_s] == 3 && cut[u"bytes"_s].toInt() > 2048));
        // Never more live lines than fit under the latest lasting one, and the rest counted.
        static const QRegularExpression colour(u"\x1b\\[\\d+m"_s);
        QVERIFY2(rows == 0
                     || (shown.contains("\u2026 and 3 more running") && !shown.contains("\x1b[3A")
                         && shown.contains(noColour ? "updated*" : "\x1b[33mupdated*\x1b[0m")
                         && colour.match(QString::fromUtf8(shown)).hasMatch() != noColour
                         && (noColour || shown.contains("\x1b[32mupdated\x1b[0m"))),
                 shown.constData());
    }

    // A report that cannot be written whole (a full disk in a mount namespace of the test's own):
    // the previous one kept, the reason told, status 1.
    void reportOnFullDisk()
    {
        if (QProcess::execute(u"unshare"_s, {u"-m"_s, u"true"_s}) != 0)
            QSKIP("this test cannot make a mount namespace of its own (it needs root and unshare)");
        QTemporaryDir disk;
        ScriptedDevice device(&ScriptedDevice::acknowledge, u"127.0.0.2"_s);
        const QString fill = uR"sh(D=$1; shift
mount -t tmpfs -o size=32k tmpfs "$D" && printf previous > "$D/r" || exit 99
dd if=/dev/zero of="$D/fill" bs=1k 2>/dev/null
"$@"; status=$?
echo "kept: $(cat "$D/r"); left: $(ls -A "$D" | tr '\n' ' ')" >&2
exit $status)sh"_s;
        const Run run
            = runProgram({u"--port"_s, QString::number(device.port()), u"--report"_s,
                          disk.filePath(u"r"_s), folder.path(), u"127.0.0.2"_s},
                         [](QProcess &) {},
                         {u"unshare"_s, u"-m"_s, u"sh"_s, u"-c"_s, fill, u"sh"_s, disk.path()});
        QCOMPARE(device.requests(), firmware + QStringList {u"done"_s});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.err.contains("could not write the report " + disk.filePath(u"r"_s).toUtf8()
                                  + ": No space left on device; the file is left as it was")
                     && run.err.endsWith("kept: previous; left: fill r \n"),
                 run.err.constData());
    }

    // A folder with nothing to warn of: one primary image. The device answers it with an ERROR
    // (taken as received), or, as "done" arrives, the report's path is made a link to the image.
    void cleanFolder_data()
    {
        QTest::addColumn<bool>("strict");
        QTest::addColumn<bool>("relinked");
        QTest::addRow("an ERROR taken as received") << false << false;
        QTest::addRow("--strict: an ERROR taken as received is no update") << true << false;
        QTest::addRow("the report's path made a link to the image during the run") << false << true;
    }
    void cleanFolder()
    {
        QFETCH(bool, strict);
        QFETCH(bool, relinked);
        QTemporaryDir clean, reports;
        const QString image = clean.filePath(u"7380-v1.bin"_s), report = reports.filePath(u"r"_s);
        QVERIFY(writeFile(image, "image"));
        ScriptedDevice device([&](int n, const QByteArray &got) {
            if (relinked && got.startsWith("\0\2done\0"_ba))
                QFile::link(image, report);
            if (!relinked && got.startsWith("\0\2"_ba + "7380-v1.bin"))
                return QByteArrayList {errorPacket(2, "have it")};
            return ScriptedDevice::acknowledge(n, got);
        });
        QStringList arguments {u"--port"_s,   QString::number(device.port()),
                               clean.path(),  u"127.0.0.1"_s,
                               u"--report"_s, report};
        if (strict)
            arguments.prepend(u"--strict"_s);
        const Run run = runProgram(arguments);
        QCOMPARE(device.requests(), QStringList({u"7380-v1.bin"_s, u"done"_s}));
        QVERIFY2(run.exitCode == int(strict || relinked), run.err.constData());
        QVERIFY(run.err.contains("which --strict counts as failed") == strict);
        QFile kept(image);
        QVERIFY(kept.open(QIODevice::ReadOnly) && kept.readAll() == "image");
        QVERIFY2(run.err.contains("the report was not written: the report ") == relinked,
                 run.err.constData());
    }

    // Rollouts: the report's JSON on standard output with the run's facts, a fleet's state kept
    // from run to run in one report, and the brakes that stop a bad image's rollout.
    void rollout()
    {
        QTemporaryDir clean, reports;
        const QString image = clean.filePath(u"7380-v1.bin"_s), state = reports.filePath(u"s"_s);
        QVERIFY(writeFile(image, "image"));
        ScriptedDevice first(&ScriptedDevice::acknowledge, u"127.0.0.1"_s);
        ScriptedDevice second(&ScriptedDevice::acknowledge, u"127.0.0.2"_s, first.port());
        const QString port = QString::number(first.port());
        const auto run = [&](const QStringList &arguments) {
            first.received.clear();
            second.received.clear();
            return runProgram(QStringList {u"--port"_s, port, clean.path()} + arguments);
        };
        const auto results = [](const QJsonObject &report) {
            QStringList found;
            for (const QJsonValue device : report[u"devices"_s].toArray())
                found.append(device[u"result"_s].toString());
            return found;
        };
        // The report on standard output, with the times, the tool's version, the port and the
        // local address; the second started only once the canary was updated.
        const Run json = run({u"--json"_s, u"--canary"_s, u"1"_s, u"--local-address"_s,
                              u"127.0.0.1"_s, u"127.0.0.1"_s, u"127.0.0.2"_s});
        const QJsonObject shown = QJsonDocument::fromJson(json.out).object();
        QCOMPARE(json.exitCode, 0);
        QCOMPARE(results(shown), QStringList(2, u"updated"_s));
        QCOMPARE(shown[u"version"_s].toString(), toolVersion());
        QCOMPARE(shown[u"port"_s].toInt(), first.port());
        QCOMPARE(shown[u"localAddress"_s].toString(), u"127.0.0.1"_s);
        const auto at = [](const QJsonValue &time) {
            return QDateTime::fromString(time.toString(), Qt::ISODate);
        };
        const QJsonArray devices = shown[u"devices"_s].toArray();
        QVERIFY(shown[u"started"_s].toString().contains(
            QRegularExpression(u"(Z|[+-]\\d\\d:\\d\\d)$"_s)));
        QVERIFY(at(shown[u"started"_s]) <= at(devices[0][u"started"_s])
                && at(devices[0][u"ended"_s]) <= at(devices[1][u"started"_s])
                && at(devices[1][u"ended"_s]) <= at(shown[u"ended"_s]));
        // One file keeps the fleet's state: what it shows updated with these images is skipped.
        QCOMPARE(run({u"--report"_s, state, u"127.0.0.1"_s}).exitCode, 0);
        Run again = run(
            {u"--report"_s, state, u"--skip-updated"_s, state, u"127.0.0.1"_s, u"127.0.0.2"_s});
        QCOMPARE(again.exitCode, 0);
        QVERIFY(first.received.isEmpty() && !second.received.isEmpty());
        QFile kept(state);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        const QJsonObject stateAfter = QJsonDocument::fromJson(kept.readAll()).object();
        QCOMPARE(results(stateAfter), QStringList({u"already updated"_s, u"updated"_s}));
        QCOMPARE(stateAfter[u"totals"_s][u"alreadyUpdated"_s].toInt(), 1);
        again = run(
            {u"--report"_s, state, u"--skip-updated"_s, state, u"127.0.0.1"_s, u"127.0.0.2"_s});
        QVERIFY(again.exitCode == 0 && first.received.isEmpty() && second.received.isEmpty());
        // Another image: every transmitter is sent it again.
        QVERIFY(writeFile(image, "image 2"));
        again = run({u"--skip-updated"_s, state, u"127.0.0.1"_s});
        QVERIFY(again.exitCode == 0 && !first.received.isEmpty());
        const Run foreign = run({u"--skip-updated"_s, image, u"127.0.0.1"_s});
        QVERIFY2(foreign.exitCode == 2 && foreign.err.contains("is not a report of tstx-update"),
                 foreign.err.constData());
        // Nothing listens at 127.0.0.7 and .8: once one failed, no further one starts; and a
        // canary that failed keeps the rest from starting.
        const Run braked = run({u"--max-failures"_s, u"1"_s, u"--parallel"_s, u"1"_s,
                                u"127.0.0.7"_s, u"127.0.0.8"_s, u"127.0.0.1"_s});
        QCOMPARE(braked.exitCode, 1);
        QCOMPARE(results(braked.report),
                 QStringList({u"failed"_s, u"not started"_s, u"not started"_s}));
        QVERIFY(first.received.isEmpty() && braked.err.contains("--max-failures 1"));
        const Run canary = run({u"--canary"_s, u"1"_s, u"127.0.0.7"_s, u"127.0.0.1"_s});
        QCOMPARE(results(canary.report), QStringList({u"failed"_s, u"not started"_s}));
        QVERIFY(canary.exitCode == 1 && first.received.isEmpty());
    }

    // Listings and usage errors: nothing is sent, no report written.
    void sendsNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status"); // 2: a usage error, with nothing on standard output
        QTest::addColumn<QByteArray>("listing"); // standard output
        QTest::addColumn<QByteArray>("message"); // on standard error, in one line if a usage error
        const QString dir = folder.path(), none = dir + u"/nothing"_s, device = u"127.0.0.2"_s;
        const auto row = [](const char *label, const QStringList &arguments, int status,
                            const char *message, const QByteArray &listing = {}) {
            QTest::addRow("%s", label) << arguments << status << listing << QByteArray(message);
        };
        // Each image with its size and SHA-256; "-" for one the refusal kept from being read.
        const auto line = [](qint64 size, const QString &digest, const QString &name) {
            return u"%1  %2  %3\n"_s.arg(size, 10).arg(digest, name).toUtf8();
        };
        QByteArray listed;
        for (int i = 0; i < firmware.size(); ++i)
            listed += line(contents(i).size(), Firmware::sha256Hex(contents(i)), firmware[i]);
        const QByteArray done = line(0, Firmware::sha256Hex({}), u"done"_s);
        const QByteArray copies = line(1, Firmware::sha256Hex("a"), u"7380-v1 (2).bin"_s)
            + line(1, Firmware::sha256Hex("a"), u"7380-v1.bin"_s) + done;
        row("list, decoys left out", {dir, u"--list"_s}, 0,
            "1 .bin file matches no firmware name and will not be sent: 7381-V9.BIN\n",
            listed + done);
        row("list, no firmware", {u"--list"_s, empty.path()}, 1, "no firmware files", done);
        row("list, an image too large", {u"--list"_s, tooLarge.path()}, 1, "is too large",
            line(0, u"-"_s, u"7380-v1.bin"_s) + line(33553920, u"-"_s, u"7465-v1.bin"_s) + done);
        row("list, copies of one image, one not matching SHA256SUMS", {summed.path(), u"--list"_s},
            1,
            "7380-v1.bin does not match its line in SHA256SUMS\ntstx-update: 7380-v1 (2).bin and "
            "7380-v1.bin look like copies of one image; both are sent, in this order",
            copies);
        row("an image not matching SHA256SUMS", {summed.path(), device}, 2,
            "7380-v1.bin does not match its line in SHA256SUMS; nothing was sent");
        // Run with at most 64 open files.
        row("--parallel needs more open files", {dir, device, u"--parallel"_s, u"50"_s}, 2,
            "--parallel 50 needs about 182 open files, and this system allows 64; give "
            "--parallel 10 or less");
        row("unknown option", {u"--bogus"_s, dir, device}, 2, "Unknown option 'bogus'");
        row("no devices", {dir}, 2, "no devices given");
        row("missing folder", {none, device}, 2, "there is no folder");
        row("no firmware", {empty.path(), device}, 2, "holds no firmware images");
        row("an image too large", {tooLarge.path(), device}, 2, "is too large");
        row("unreadable devices file", {dir, u"--devices"_s, none}, 2,
            "cannot read the devices file");
        row("devices file over 1 MiB", {dir, u"--devices"_s, tooLarge.filePath(u"devices"_s)}, 2,
            "larger than 1 MiB");
        row("device twice", {dir, device, u"--devices"_s, empty.filePath(u"devices"_s)}, 2,
            "the device 127.0.0.2 is listed twice");
        // Refused before any look-up; were they not, the names still fail without a query.
        row("empty device name", {dir, {}}, 2, "an empty device name");
        row("device with a port", {dir, u"bad..name:69"_s}, 2,
            "give the address alone, and the port with --port");
        row("IPv6 device", {dir, u"::1"_s}, 2, "is an IPv6 address");
        // Once sent to 127.0.0.2, and told to give --port //127.0.0.2.
        row("device with a leading zero", {dir, u"127.0.0.02"_s}, 2,
            "the device 127.0.0.02 has parts with leading zeros, which some tools read as octal; "
            "type 127.0.0.2\n");
        row("device as a URL", {dir, u"http://127.0.0.2"_s}, 2, "without http:// or a port\n");
        // A device node takes the FIFO's path; /dev/null, were it not refused, would be replaced.
        row("report to a FIFO", {dir, device, u"--report"_s, empty.filePath(u"fifo"_s)}, 2,
            "is not a regular file");
        // The next run would send the report as an image, or be refused for its checksums.
        const char *inFolder = "in the firmware folder, which the next run reads";
        row("report to an image", {dir, device, u"--report"_s, folder.filePath(firmware[1])}, 2,
            inFolder);
        row("report to SHA256SUMS",
            {summed.path(), device, u"--report"_s, summed.filePath(u"SHA256SUMS"_s)}, 2, inFolder);
        row("report through a link to an image",
            {dir, device, u"--report"_s, empty.filePath(u"to-image"_s)}, 2,
            "would be written to 7465-v4.bin in the firmware folder");
        row("report to the devices file",
            {dir, u"--devices"_s, empty.filePath(u"devices"_s), u"--report"_s,
             empty.filePath(u"devices"_s)},
            2, "would replace the devices file");
        // Read as device addresses are, and one of this machine's.
        row("local address with leading zeros",
            {dir, device, u"--local-address"_s, u"127.000.000.001"_s}, 2,
            "--local-address 127.000.000.001 has parts with leading zeros");
        row("local address not on this machine",
            {dir, device, u"--local-address"_s, u"203.0.113.7"_s}, 2,
            "--local-address 203.0.113.7 is not an address of this machine");
        row("the unspecified address", {dir, u"0.0.0.0"_s}, 2,
            "the device 0.0.0.0 is the unspecified address");
        row("a subnet's broadcast", {dir, u"127.255.255.255"_s}, 2,
            "the device 127.255.255.255 is the broadcast address of a network of the interface lo");
        row("one transmitter by two names", {dir, u"127.0.0.1"_s, u"localhost"_s}, 2,
            "the devices 127.0.0.1 and localhost both lead to 127.0.0.1");
        // All or nothing: the decoy left out is enough to refuse.
        row("--strict with a .bin file left out", {dir, device, u"--strict"_s}, 2,
            "--strict refuses the folder, sending nothing: 1 .bin file matches no firmware name");
        row("report through a link into a missing folder",
            {dir, device, u"--report"_s, empty.filePath(u"to-nowhere"_s)}, 2,
            "there is no folder for the report");
    }
    void sendsNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, listing);
        QFETCH(QByteArray, message);
        const Run run = runProgram(arguments, [&](QProcess &process) {
            if (arguments.contains(u"--parallel"_s))
                process.setChildProcessModifier([] {
                    const rlimit limit {64, 64};
                    ::setrlimit(RLIMIT_NOFILE, &limit);
                });
        });
        QCOMPARE(run.exitCode, status);
        QCOMPARE(run.out, listing);
        QVERIFY(run.report.isEmpty());
        QVERIFY2(run.err.startsWith("tstx-update: ") && run.err.contains(message)
                     && (status != 2 || run.err.count('\n') == 1),
                 run.err.constData());
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
