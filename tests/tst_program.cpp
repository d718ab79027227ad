// The program as a technician starts it, and a build of it whose window cannot load.
#include "support/testsupport.h"

#include <QSettings>

using namespace Qt::StringLiterals;

class TestProgram : public QObject
{
    Q_OBJECT

private slots:
    void windowThatCannotLoadEndsAtOnce()
    {
        QProcess program;
        program.start(QStringLiteral(BROKEN_PROGRAM), QStringList());
        // Ending at all shows that no event loop ran: nothing would ever quit it.
        QVERIFY(program.waitForFinished(30000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), 255);
        QVERIFY(program.readAllStandardError().contains("NoSuchElement"));
    }

    void storesItsSettingsUnderItsNames()
    {
        // The window remembers the interface it selects at start, under the program's names.
        const QString store = QStringLiteral(TSTX_TEST_CONFIG) + u"/Brindlemoor/TsTxUpdater.conf"_s;
        QFile::remove(store);
        QProcess program;
        program.start(QStringLiteral(PROGRAM), QStringList());
        QTRY_VERIFY_WITH_TIMEOUT(
            QSettings(store, QSettings::IniFormat).contains(u"savedInterface"_s), 20000);
        QCOMPARE(program.state(), QProcess::Running);
        program.terminate();
        QVERIFY(program.waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
