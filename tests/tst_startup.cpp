#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "support/testsupport.h"

#include <memory>

using namespace Qt::StringLiterals;

namespace {

// How long a program that is meant to end on its own may take.
constexpr int endTimeoutMs = 30000;

// A process as the test starts it: headless, with a settings store of its own, and Qt's
// messages on stderr rather than in the system log.
class ProgramRun
{
public:
    ProgramRun(const QString &program, const QString &configHome)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"QT_QPA_PLATFORM"_s, u"offscreen"_s);
        environment.insert(u"XDG_CONFIG_HOME"_s, configHome);
        environment.insert(u"QT_FORCE_STDERR_LOGGING"_s, u"1"_s);
        process.setProcessEnvironment(environment);
        process.setProgram(program);
    }

    // Runs the program until it ends by itself; the failure, or an empty text.
    QString runToEnd()
    {
        process.start();
        if (!process.waitForStarted())
            return u"%1 did not start: %2"_s.arg(process.program(), process.errorString());
        if (!process.waitForFinished(endTimeoutMs)) {
            process.kill();
            process.waitForFinished();
            return u"%1 still ran after %2 ms; stderr: %3"_s.arg(process.program())
                .arg(endTimeoutMs)
                .arg(errors());
        }
        if (process.exitStatus() != QProcess::NormalExit)
            return u"%1 crashed; stderr: %2"_s.arg(process.program(), errors());
        return {};
    }

    [[nodiscard]] int exitCode() const { return process.exitCode(); }
    QString errors()
    {
        standardError += QString::fromLocal8Bit(process.readAllStandardError());
        return standardError;
    }

    QProcess process;

private:
    QString standardError;
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void variantEnds_data();
    void variantEnds();
    void settingsAreRememberedBetweenRuns();
    void programLoadsItsWindow();

private:
    std::unique_ptr<QTemporaryDir> configHome;
};

void TestStartup::init()
{
    configHome = std::make_unique<QTemporaryDir>();
    QVERIFY2(configHome->isValid(), qPrintable(configHome->errorString()));
}

void TestStartup::variantEnds_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("messages"); // on stderr
    // Ending at all shows that no event loop ran: nothing would ever quit it. The engine says why.
    QTest::addRow("window that cannot load")
        << QStringLiteral(TSTX_BROKEN_VARIANT) << 255
        << QStringList {u"qrc:/main.qml"_s, u"NoSuchElement"_s};
    // The window got as far as its timer, with the updater type from the registered module.
    QTest::addRow("window quits") << QStringLiteral(TSTX_QUITTING_VARIANT) << 0
                                  << QStringList {u"remembered address: [] version: 1.1.0.9.0.5"_s};
    QTest::addRow("window closed") << QStringLiteral(TSTX_CLOSING_VARIANT) << 0 << QStringList();
}

void TestStartup::variantEnds()
{
    QFETCH(QString, program);
    QFETCH(int, exitCode);
    QFETCH(QStringList, messages);
    ProgramRun run(program, configHome->path());
    CHECK_OK(run.runToEnd());
    QCOMPARE(run.exitCode(), exitCode);
    const QString errors = run.errors();
    for (const QString &message : messages)
        QVERIFY2(errors.contains(message), qPrintable(errors));
}

void TestStartup::settingsAreRememberedBetweenRuns()
{
    {
        ProgramRun first(QStringLiteral(TSTX_QUITTING_VARIANT), configHome->path());
        CHECK_OK(first.runToEnd());
        QCOMPARE(first.exitCode(), 0);
    }
    // Stored under the program's identity, in the store the test gave it.
    const QString store = QDir(configHome->path()).filePath(u"Brindlemoor/TsTxUpdater.conf"_s);
    QVERIFY2(QFile::exists(store), qPrintable(store));
    const QSettings written(store, QSettings::IniFormat);
    QCOMPARE(written.value(u"savedAddress"_s).toString(), u"127.0.0.2"_s);

    ProgramRun second(QStringLiteral(TSTX_QUITTING_VARIANT), configHome->path());
    CHECK_OK(second.runToEnd());
    QCOMPARE(second.exitCode(), 0);
    const QString errors = second.errors();
    QVERIFY2(errors.contains(u"remembered address: [127.0.0.2]"_s), qPrintable(errors));
}

void TestStartup::programLoadsItsWindow()
{
    ProgramRun run(QStringLiteral(TSTX_PROGRAM), configHome->path());
    run.process.start();
    QVERIFY2(run.process.waitForStarted(), qPrintable(run.process.errorString()));
    // A window that failed to load would end the program at once.
    const bool ended = run.process.waitForFinished(1500);
    QVERIFY2(!ended,
             qPrintable(u"ended with %1; stderr: %2"_s.arg(run.exitCode()).arg(run.errors())));
    QCOMPARE(run.process.state(), QProcess::Running);

    run.process.terminate();
    if (!run.process.waitForFinished(endTimeoutMs)) {
        run.process.kill();
        run.process.waitForFinished();
    }
    QCOMPARE(run.process.state(), QProcess::NotRunning);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
