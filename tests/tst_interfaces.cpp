// The interface list and the remembered interface and address.
//
// The list and lookup rules are tested with crafted interfaces; the remembered settings with the
// real machine (its loopback interface) and a settings store in a temporary folder, set up in
// main() before the application object exists, so the user's own settings are never touched.

#include "networkinterfaces.h"
#include "qtftp.h"
#include "support/testsupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <memory>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(InterfaceInfo)

namespace {

// The config folder of this run; created in main() before anything reads the settings.
QString isolatedConfigDir;

// Run as "tst_interfaces --print-saved": prints the remembered interface and address, one a
// line, as a fresh process sees them.
constexpr char printSavedArgument[] = "--print-saved";

InterfaceInfo iface(const QString &name, const QString &humanReadableName,
                    const QStringList &addresses)
{
    InterfaceInfo info {name, humanReadableName, {}};
    for (const QString &address : addresses)
        info.addresses.append(QHostAddress(address));
    return info;
}

void setOrganisationAndApplication()
{
    QCoreApplication::setOrganizationName(u"Brindlemoor"_s);
    QCoreApplication::setOrganizationDomain(u"brindlemoor.com"_s);
    QCoreApplication::setApplicationName(u"TsTxUpdater"_s);
}

QString loopbackHumanName()
{
    return QNetworkInterface::interfaceFromName(u"lo"_s).humanReadableName();
}

} // namespace

class TestInterfaces : public QObject
{
    Q_OBJECT

private slots:
    void init() { TestSupport::clearSettings(); }

    // Crafted interfaces: the list and the lookups.
    void entries_data();
    void entries();
    void systemName_data();
    void systemName();
    void entryIndex_data();
    void entryIndex();

    // The real machine and the settings store.
    void settingsAreIsolated();
    void rememberedInterfaceIsFound();
    void unknownInterfaceNameWritesNothing_data();
    void unknownInterfaceNameWritesNothing();
    void emptyAddressIsStored();
    void rememberedValuesSurviveNewObjectAndProcess();
};

void TestInterfaces::entries_data()
{
    QTest::addColumn<InterfaceList>("interfaces");
    QTest::addColumn<QStringList>("expected");

    QTest::addRow("no interfaces") << InterfaceList {} << QStringList {};
    QTest::addRow("two IPv4 on one interface")
        << InterfaceList {iface(u"eth0"_s, u"eth0"_s, {u"10.0.0.5"_s, u"192.168.1.20"_s})}
        << QStringList {u"eth0 -- 10.0.0.5"_s, u"eth0 -- 192.168.1.20"_s};
    QTest::addRow("IPv6 only") << InterfaceList {iface(u"eth1"_s, u"eth1"_s, {u"fe80::1"_s})}
                               << QStringList {};
    QTest::addRow("IPv4 and IPv6")
        << InterfaceList {iface(u"eth0"_s, u"Ethernet"_s, {u"fe80::1"_s, u"192.168.1.20"_s})}
        << QStringList {u"Ethernet -- 192.168.1.20"_s};
    QTest::addRow("no address, then loopback")
        << InterfaceList {iface(u"tun0"_s, u"tun0"_s, {}),
                          iface(u"lo"_s, u"lo"_s, {u"127.0.0.1"_s})}
        << QStringList {u"lo -- 127.0.0.1"_s};
    QTest::addRow("punctuation kept as is")
        << InterfaceList {iface(u"{A1}"_s, u"Wi-Fi (2)"_s, {u"10.1.1.1"_s}),
                          iface(u"{B2}"_s, u"Local*Area"_s, {u"10.2.2.2"_s})}
        << QStringList {u"Wi-Fi (2) -- 10.1.1.1"_s, u"Local*Area -- 10.2.2.2"_s};
    QTest::addRow("platform order kept")
        << InterfaceList {iface(u"eth2"_s, u"Ethernet 2"_s, {u"10.0.0.2"_s}),
                          iface(u"eth1"_s, u"Ethernet"_s, {u"10.0.0.1"_s})}
        << QStringList {u"Ethernet 2 -- 10.0.0.2"_s, u"Ethernet -- 10.0.0.1"_s};
}

void TestInterfaces::entries()
{
    QFETCH(InterfaceList, interfaces);
    QFETCH(QStringList, expected);
    QCOMPARE(interfaceEntries(interfaces), expected);
}

void TestInterfaces::systemName_data()
{
    QTest::addColumn<InterfaceList>("interfaces");
    QTest::addColumn<QString>("humanReadableName");
    QTest::addColumn<QString>("expected");

    const InterfaceList twins {iface(u"{first}"_s, u"Ethernet"_s, {u"10.0.0.1"_s}),
                               iface(u"{second}"_s, u"Ethernet"_s, {u"10.0.0.2"_s})};
    QTest::addRow("same human name twice: the first") << twins << u"Ethernet"_s << u"{first}"_s;
    QTest::addRow("nobody bears the name") << twins << u"Wi-Fi"_s << QString();
    QTest::addRow("empty name") << twins << QString() << QString();
    QTest::addRow("letter case counts") << twins << u"ethernet"_s << QString();
    QTest::addRow("name part only, not a prefix") << twins << u"Ether"_s << QString();
    QTest::addRow("interface without IPv4 still found")
        << InterfaceList {iface(u"eth1"_s, u"Backbone"_s, {u"fe80::1"_s})} << u"Backbone"_s
        << u"eth1"_s;
    QTest::addRow("punctuation") << InterfaceList {iface(u"{A1}"_s, u"Wi-Fi (2)"_s, {}),
                                                   iface(u"{B2}"_s, u"Local*Area"_s, {})}
                                 << u"Local*Area"_s << u"{B2}"_s;
}

void TestInterfaces::systemName()
{
    QFETCH(InterfaceList, interfaces);
    QFETCH(QString, humanReadableName);
    QFETCH(QString, expected);
    QCOMPARE(systemNameOf(interfaces, humanReadableName), expected);
}

void TestInterfaces::entryIndex_data()
{
    QTest::addColumn<InterfaceList>("interfaces");
    QTest::addColumn<QString>("savedSystemName");
    QTest::addColumn<int>("expected");

    const InterfaceInfo loopback = iface(u"lo"_s, u"lo"_s, {u"127.0.0.1"_s});
    QTest::addRow("two IPv4: the first of them")
        << InterfaceList {loopback, iface(u"eth0"_s, u"eth0"_s, {u"10.0.0.5"_s, u"10.0.0.6"_s})}
        << u"eth0"_s << 1;
    QTest::addRow("\"Ethernet 2\" listed before \"Ethernet\"")
        << InterfaceList {iface(u"eth2"_s, u"Ethernet 2"_s, {u"10.0.0.2"_s}),
                          iface(u"eth1"_s, u"Ethernet"_s, {u"10.0.0.1"_s})}
        << u"eth1"_s << 1;
    QTest::addRow("\"Ethernet 2\" remembered")
        << InterfaceList {iface(u"eth1"_s, u"Ethernet"_s, {u"10.0.0.1"_s}),
                          iface(u"eth2"_s, u"Ethernet 2"_s, {u"10.0.0.2"_s})}
        << u"eth2"_s << 1;
    QTest::addRow("nothing saved") << InterfaceList {loopback} << QString() << 0;
    QTest::addRow("nothing saved, no interfaces") << InterfaceList {} << QString() << 0;
    QTest::addRow("saved interface gone")
        << InterfaceList {loopback, iface(u"eth0"_s, u"eth0"_s, {u"10.0.0.5"_s})} << u"wlan0"_s
        << 0;
    QTest::addRow("saved interface without an entry")
        << InterfaceList {loopback, iface(u"eth1"_s, u"eth1"_s, {u"fe80::1"_s})} << u"eth1"_s << -1;
    QTest::addRow("letter case of the saved name counts")
        << InterfaceList {loopback, iface(u"eth0"_s, u"eth0"_s, {u"10.0.0.5"_s})} << u"ETH0"_s << 0;
    QTest::addRow("parentheses") << InterfaceList {loopback,
                                                   iface(u"{A1}"_s, u"Wi-Fi (2)"_s,
                                                         {u"10.1.1.1"_s})}
                                 << u"{A1}"_s << 1;
    QTest::addRow("asterisk") << InterfaceList {loopback,
                                                iface(u"{A1}"_s, u"Wi-Fi (2)"_s, {u"10.1.1.1"_s}),
                                                iface(u"{B2}"_s, u"Local*Area"_s, {u"10.2.2.2"_s})}
                              << u"{B2}"_s << 2;
    QTest::addRow("same human name twice: the first entry of that name")
        << InterfaceList {loopback, iface(u"{first}"_s, u"Ethernet"_s, {u"10.0.0.1"_s}),
                          iface(u"{second}"_s, u"Ethernet"_s, {u"10.0.0.2"_s})}
        << u"{second}"_s << 1;
}

void TestInterfaces::entryIndex()
{
    QFETCH(InterfaceList, interfaces);
    QFETCH(QString, savedSystemName);
    QFETCH(int, expected);
    QCOMPARE(entryIndexOf(interfaces, interfaceEntries(interfaces), savedSystemName), expected);
}

void TestInterfaces::settingsAreIsolated()
{
    QTftp tftp;
    tftp.saveNetworkAddr(u"127.0.0.9"_s);
    CHECK_OK(TestSupport::settingsOutside(isolatedConfigDir));
}

void TestInterfaces::rememberedInterfaceIsFound()
{
    QTftp tftp;
    QCOMPARE(tftp.savedInterfaceIndex(), 0); // nothing remembered yet
    tftp.saveNetworkIf(loopbackHumanName());
    QCOMPARE(tftp.loadNetoworkIf(), u"lo"_s);
    // The loopback interface is listed: the machine's own list, not a crafted one.
    const int expected = int(tftp.ifsList().indexOf(loopbackHumanName() + u" -- 127.0.0.1"_s));
    QVERIFY2(expected >= 0, qPrintable(tftp.ifsList().join(u" | "_s)));
    QCOMPARE(tftp.savedInterfaceIndex(), expected);
}

void TestInterfaces::unknownInterfaceNameWritesNothing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addRow("empty") << QString();
    QTest::addRow("nobody bears it") << u"No Such Interface (7)"_s;
    QTest::addRow("whole entry instead of its name") << loopbackHumanName() + u" -- 127.0.0.1"_s;
}

void TestInterfaces::unknownInterfaceNameWritesNothing()
{
    QFETCH(QString, name);
    QTftp tftp;
    tftp.saveNetworkIf(loopbackHumanName());
    tftp.saveNetworkIf(name);
    QCOMPARE(tftp.loadNetoworkIf(), u"lo"_s);

    init();
    tftp.saveNetworkIf(name);
    QVERIFY(!QSettings().contains(u"savedInterface"_s));
    QCOMPARE(tftp.loadNetoworkIf(), QString());
}

void TestInterfaces::emptyAddressIsStored()
{
    QTftp tftp;
    QCOMPARE(tftp.loadNetworkAddr(), QString()); // absent
    tftp.saveNetworkAddr(u"device.example"_s);
    QCOMPARE(tftp.loadNetworkAddr(), u"device.example"_s);
    tftp.saveNetworkAddr(QString());
    QVERIFY(QSettings().contains(u"savedAddress"_s));
    QCOMPARE(tftp.loadNetworkAddr(), QString());
}

void TestInterfaces::rememberedValuesSurviveNewObjectAndProcess()
{
    {
        QTftp first;
        first.saveNetworkIf(loopbackHumanName());
        first.saveNetworkAddr(u"tx-7380.local"_s);
    }
    QTftp second;
    QCOMPARE(second.loadNetoworkIf(), u"lo"_s);
    QCOMPARE(second.loadNetworkAddr(), u"tx-7380.local"_s);
    QCOMPARE(second.ifsList().value(second.savedInterfaceIndex()),
             loopbackHumanName() + u" -- 127.0.0.1"_s);

    QProcess child; // inherits XDG_CONFIG_HOME
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(printSavedArgument)});
    QVERIFY2(child.waitForFinished(30000), qPrintable(child.errorString()));
    QCOMPARE(child.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(child.readAllStandardOutput()), u"lo\ntx-7380.local\n"_s);
}

int main(int argc, char *argv[])
{
    // Before the application object exists, so QSettings never sees the user's own folder. A
    // child run (--print-saved) inherits the folder of its parent.
    std::unique_ptr<QTemporaryDir> configDir;
    const bool child = argc > 1 && qstrcmp(argv[1], printSavedArgument) == 0;
    if (!child) {
        configDir = std::make_unique<QTemporaryDir>();
        if (!configDir->isValid())
            return 2;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(configDir->path()));
    }
    if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
        return 2;
    isolatedConfigDir = QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).canonicalPath();

    QCoreApplication app(argc, argv);
    setOrganisationAndApplication();

    if (child) {
        QTftp tftp;
        const QByteArray lines
            = (tftp.loadNetoworkIf() + u'\n' + tftp.loadNetworkAddr() + u'\n').toUtf8();
        std::fputs(lines.constData(), stdout);
        return 0;
    }

    TestInterfaces test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_interfaces.moc"
