#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

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

    // Runs the program until it ends by itself; says why not when it does not.
    bool runToEnd(QString &why)
    {
        process.start();
        if (!process.waitForStarted()) {
            why = u"%1 did not start: %2"_s.arg(process.program(), process.errorString());
            return false;
        }
        if (!process.waitForFinished(endTimeoutMs)) {
            why = u"%1 still runs after %2 ms; stderr: %3"_s.arg(process.program())
                      .arg(endTimeoutMs)
                      .arg(errors());
            process.kill();
            process.waitForFinished();
            return false;
        }
        if (process.exitStatus() != QProcess::NormalExit) {
            why = u"%1 crashed; stderr: %2"_s.arg(process.program(), errors());
            return false;
        }
        return true;
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

    void windowThatCannotLoadExitsMinusOne();
    void quitExitsZero();
    void closingTheWindowExitsZero();
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

void TestStartup::windowThatCannotLoadExitsMinusOne()
{
    ProgramRun run(QStringLiteral(TSTX_BROKEN_VARIANT), configHome->path());
    QString why;
    // Ending at all shows that no event loop ran: nothing would ever quit it.
    QVERIFY2(run.runToEnd(why), qPrintable(why));
    QCOMPARE(run.exitCode(), 255);
    // The engine said why.
    const QString errors = run.errors();
    QVERIFY2(errors.contains(u"qrc:/main.qml"_s) && errors.contains(u"NoSuchElement"_s),
             qPrintable(errors));
}

void TestStartup::quitExitsZero()
{
    ProgramRun run(QStringLiteral(TSTX_QUITTING_VARIANT), configHome->path());
    QString why;
    QVERIFY2(run.runToEnd(why), qPrintable(why));
    QCOMPARE(run.exitCode(), 0);
    // The window got as far as its timer, with the updater type from the registered module.
    const QString errors = run.errors();
    QVERIFY2(errors.contains(u"remembered address: [] version: 1.1.0.9.0.5"_s), qPrintable(errors));
}

void TestStartup::closingTheWindowExitsZero()
{
    ProgramRun run(QStringLiteral(TSTX_CLOSING_VARIANT), configHome->path());
    QString why;
    QVERIFY2(run.runToEnd(why), qPrintable(why));
    QCOMPARE(run.exitCode(), 0);
}

void TestStartup::settingsAreRememberedBetweenRuns()
{
    QString why;
    {
        ProgramRun first(QStringLiteral(TSTX_QUITTING_VARIANT), configHome->path());
        QVERIFY2(first.runToEnd(why), qPrintable(why));
        QCOMPARE(first.exitCode(), 0);
    }
    // Stored under the program's identity, in the store the test gave it.
    const QString store = QDir(configHome->path()).filePath(u"Brindlemoor/TsTxUpdater.conf"_s);
    QVERIFY2(QFile::exists(store), qPrintable(store));
    const QSettings written(store, QSettings::IniFormat);
    QCOMPARE(written.value(u"savedAddress"_s).toString(), u"127.0.0.2"_s);

    ProgramRun second(QStringLiteral(TSTX_QUITTING_VARIANT), configHome->path());
    QVERIFY2(second.runToEnd(why), qPrintable(why));
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
