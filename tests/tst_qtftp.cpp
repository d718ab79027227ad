#include "qtftp.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;

// The surface that the window's QML reaches by name: checked through the meta-object, since a
// renamed, reordered or retyped member breaks the window only when it runs.
class TestQTftp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    // Meta-object contract
    void classInfo();
    void properties_data();
    void properties();
    void propertyCount();
    void methods_data();
    void methods();
    void methodCount();

    // Values and the setter rule
    void initialValues();
    void setRemotePort();
    void setLocalPort();
    void setRemoteAddressCaseCounts();
    void setLocalAddressEmptyOnFreshObject();
    void nullAndEmptyTextAreEqual();
    void setIfsList();
    void settersThroughProperties();
    void updaterVersionNeverEmits();
};

void TestQTftp::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    // Nothing here may touch the user's own settings.
    const QString testConfig
        = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    QVERIFY2(testConfig.contains(u".qttest"_s), qPrintable(testConfig));
    QVERIFY2(QSettings().fileName().startsWith(testConfig), qPrintable(QSettings().fileName()));
}

void TestQTftp::classInfo()
{
    const QMetaObject &meta = QTftp::staticMetaObject;
    QCOMPARE(meta.className(), "QTftp");
    QCOMPARE(meta.superClass(), &QObject::staticMetaObject);
    QCOMPARE(meta.classInfoCount(), meta.classInfoOffset());
    QCOMPARE(meta.enumeratorCount(), meta.enumeratorOffset());
    // QML builds it without a parent; a parent given is kept.
    QTftp tftp;
    QCOMPARE(tftp.parent(), nullptr);
    QObject parent;
    auto *child = new QTftp(&parent);
    QCOMPARE(child->parent(), &parent);
}

void TestQTftp::properties_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("writable");
    QTest::addColumn<QByteArray>("notify");

    // In declared order.
    int position = 0;
    const auto row = [&position](const char *name, int type, bool writable) {
        QTest::addRow("%s", name) << position++ << QByteArray(name) << type << writable
                                  << QByteArray(name) + "Changed";
    };
    row("errorString", QMetaType::QString, false);
    row("remoteAddress", QMetaType::QString, true);
    row("remotePort", QMetaType::UShort, true);
    row("localAddress", QMetaType::QString, true);
    row("localPort", QMetaType::UShort, true);
    row("ifsList", QMetaType::QStringList, true);
    row("fileSize", QMetaType::Int, false);
    row("fileProgress", QMetaType::Int, false);
    row("updaterVersion", QMetaType::QString, false);
}

void TestQTftp::properties()
{
    QFETCH(int, position);
    QFETCH(QByteArray, name);
    QFETCH(int, type);
    QFETCH(bool, writable);
    QFETCH(QByteArray, notify);

    const QMetaObject &meta = QTftp::staticMetaObject;
    const int index = meta.indexOfProperty(name.constData());
    QVERIFY2(index >= 0, name.constData());
    QCOMPARE(index - meta.propertyOffset(), position);

    const QMetaProperty property = meta.property(index);
    QCOMPARE(property.metaType().id(), type);
    QCOMPARE(property.isWritable(), writable);
    QVERIFY(property.isReadable());
    QVERIFY(property.hasNotifySignal());
    const QMetaMethod signal = property.notifySignal();
    QCOMPARE(signal.name(), notify);
    QCOMPARE(signal.methodType(), QMetaMethod::Signal);
    // The notify signal carries the new value, named after the property.
    QCOMPARE(signal.parameterCount(), 1);
    QCOMPARE(signal.parameterMetaType(0).id(), type);
    QCOMPARE(signal.parameterNames(), QByteArrayList {name});

    QVERIFY(property.isStored());
    QVERIFY(property.isScriptable());
    QVERIFY(property.isDesignable());
    QVERIFY(!property.isConstant());
    QVERIFY(!property.isFinal());
    QVERIFY(!property.isResettable());
    QVERIFY(!property.isRequired());
    QVERIFY(!property.isBindable());
    QVERIFY(!property.isUser());

    if (writable) {
        // Written through a public slot named after it.
        const QByteArray setter = "set" + name.left(1).toUpper() + name.mid(1);
        const int setterIndex = meta.indexOfSlot(
            QMetaObject::normalizedSignature(setter + '(' + QMetaType(type).name() + ')'));
        QVERIFY2(setterIndex >= 0, setter.constData());
        QCOMPARE(meta.method(setterIndex).access(), QMetaMethod::Public);
    }
}

void TestQTftp::propertyCount()
{
    const QMetaObject &meta = QTftp::staticMetaObject;
    QCOMPARE(meta.propertyCount() - meta.propertyOffset(), 9);
}

void TestQTftp::methods_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("access");
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QByteArray>("resultType");
    QTest::addColumn<QByteArrayList>("parameterNames");

    int position = 0;
    const auto row = [&position](QMetaMethod::MethodType kind, QMetaMethod::Access access,
                                 const char *signature, const char *resultType,
                                 const QByteArrayList &parameterNames) {
        QTest::addRow("%d %s", position, signature)
            << position << int(kind) << int(access) << QByteArray(signature)
            << QByteArray(resultType) << parameterNames;
        ++position;
    };
    const auto Signal = QMetaMethod::Signal;
    const auto Slot = QMetaMethod::Slot;
    const auto Method = QMetaMethod::Method;
    const auto Public = QMetaMethod::Public;
    const auto Private = QMetaMethod::Private;

    // Signals, slots, then invokable methods, each group in declared order.
    row(Signal, Public, "errorStringChanged(QString)", "void", {"errorString"});
    row(Signal, Public, "remoteAddressChanged(QString)", "void", {"remoteAddress"});
    row(Signal, Public, "remotePortChanged(ushort)", "void", {"remotePort"});
    row(Signal, Public, "localAddressChanged(QString)", "void", {"localAddress"});
    row(Signal, Public, "localPortChanged(ushort)", "void", {"localPort"});
    row(Signal, Public, "ifsListChanged(QStringList)", "void", {"ifsList"});
    row(Signal, Public, "updaterVersionChanged(QString)", "void", {"updaterVersion"});
    row(Signal, Public, "fileSizeChanged(int)", "void", {"fileSize"});
    row(Signal, Public, "fileProgressChanged(int)", "void", {"fileProgress"});
    row(Signal, Public, "updateCompleted()", "void", {});
    row(Slot, Public, "setRemoteAddress(QString)", "void", {"remoteAddress"});
    row(Slot, Public, "setRemotePort(ushort)", "void", {"remotePort"});
    row(Slot, Public, "setLocalAddress(QString)", "void", {"localAddress"});
    row(Slot, Public, "setLocalPort(ushort)", "void", {"localPort"});
    row(Slot, Public, "setIfsList(QStringList)", "void", {"ifsList"});
    row(Slot, Private, "futureFinishHandler()", "void", {});
    row(Method, Public, "buildFileList(QUrl)", "void", {"filesFolder"});
    row(Method, Public, "startUpdate()", "void", {});
    row(Method, Public, "sendFile(QUrl)", "bool", {"fileUrl"});
    row(Method, Public, "loadNetoworkIf()", "QString", {});
    row(Method, Public, "loadNetworkAddr()", "QString", {});
    row(Method, Public, "saveNetworkIf(QString)", "void", {"ifName"});
    row(Method, Public, "saveNetworkAddr(QString)", "void", {"addr"});
    row(Method, Public, "savedInterfaceIndex()", "int", {});
}

void TestQTftp::methods()
{
    QFETCH(int, position);
    QFETCH(int, kind);
    QFETCH(int, access);
    QFETCH(QByteArray, signature);
    QFETCH(QByteArray, resultType);
    QFETCH(QByteArrayList, parameterNames);

    const QMetaObject &meta = QTftp::staticMetaObject;
    const QMetaMethod method = meta.method(meta.methodOffset() + position);
    QVERIFY2(method.isValid(), signature.constData());
    QCOMPARE(method.methodSignature(), signature);
    QCOMPARE(int(method.methodType()), kind);
    QCOMPARE(int(method.access()), access);
    QCOMPARE(QByteArray(method.typeName()), resultType);
    QCOMPARE(method.parameterNames(), parameterNames);
    QCOMPARE(method.revision(), 0);
    for (int i = 0; i < method.parameterCount(); ++i)
        QVERIFY(method.parameterMetaType(i).isValid());
    // moc records quint16 under the name of the type behind it; the type is the same.
    if (signature.contains("ushort"))
        QCOMPARE(method.parameterMetaType(0), QMetaType::fromType<quint16>());
}

void TestQTftp::methodCount()
{
    const QMetaObject &meta = QTftp::staticMetaObject;
    // 10 signals, 6 slots and 8 invokable methods, nothing more: no clones from default arguments.
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 24);
    QCOMPARE(meta.constructorCount(), 0);
}

void TestQTftp::initialValues()
{
    QTftp tftp;
    QCOMPARE(tftp.property("errorString").toString(), u"Open a folder to begin"_s);
    QCOMPARE(tftp.property("remoteAddress").toString(), QString());
    QCOMPARE(tftp.property("remotePort").value<quint16>(), quint16(69));
    QCOMPARE(tftp.property("localAddress").toString(), QString());
    QCOMPARE(tftp.property("localPort").value<quint16>(), quint16(0));
    QCOMPARE(tftp.property("fileSize").toInt(), 1);
    QCOMPARE(tftp.property("fileProgress").toInt(), 0);
    QCOMPARE(tftp.property("updaterVersion").toString(), u"1.1.0.9.0.5"_s);
    QCOMPARE(tftp.property("ifsList").toStringList(), tftp.ifsList());
    // Every interface entry is "name -- address".
    for (const QString &entry : tftp.ifsList())
        QVERIFY2(entry.contains(u" -- "_s), qPrintable(entry));
    QCOMPARE(tftp.firmwareList(), QStringList());
    QCOMPARE(tftp.currentFileIndex(), 0);
}

void TestQTftp::setRemotePort()
{
    QTftp tftp;
    QSignalSpy spy(&tftp, &QTftp::remotePortChanged);
    tftp.setRemotePort(69);
    QCOMPARE(spy.count(), 0);
    tftp.setRemotePort(70);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<quint16>(), quint16(70));
    QCOMPARE(tftp.remotePort(), quint16(70));
    tftp.setRemotePort(70);
    QCOMPARE(spy.count(), 1);
    tftp.setRemotePort(65535);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).value<quint16>(), quint16(65535));
}

void TestQTftp::setLocalPort()
{
    QTftp tftp;
    QSignalSpy spy(&tftp, &QTftp::localPortChanged);
    tftp.setLocalPort(0);
    QCOMPARE(spy.count(), 0);
    tftp.setLocalPort(40000);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).value<quint16>(), quint16(40000));
    tftp.setLocalPort(40000);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(tftp.localPort(), quint16(40000));
}

void TestQTftp::setRemoteAddressCaseCounts()
{
    QTftp tftp;
    QSignalSpy spy(&tftp, &QTftp::remoteAddressChanged);
    tftp.setRemoteAddress(u"device.local"_s);
    QCOMPARE(spy.count(), 1);
    tftp.setRemoteAddress(u"device.local"_s);
    QCOMPARE(spy.count(), 1);
    tftp.setRemoteAddress(u"Device.local"_s);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.at(1).at(0).toString(), u"Device.local"_s);
    QCOMPARE(tftp.remoteAddress(), u"Device.local"_s);
    // Not checked or normalised: any text is stored.
    tftp.setRemoteAddress(u"  not an address "_s);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(tftp.remoteAddress(), u"  not an address "_s);
}

void TestQTftp::setLocalAddressEmptyOnFreshObject()
{
    QTftp tftp;
    QSignalSpy spy(&tftp, &QTftp::localAddressChanged);
    tftp.setLocalAddress(u""_s);
    QCOMPARE(spy.count(), 0);
    tftp.setLocalAddress(u"127.0.0.1"_s);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toString(), u"127.0.0.1"_s);
    tftp.setLocalAddress(QString());
    QCOMPARE(spy.count(), 2);
    QCOMPARE(tftp.localAddress(), QString());
}

void TestQTftp::nullAndEmptyTextAreEqual()
{
    QTftp tftp;
    QSignalSpy spy(&tftp, &QTftp::remoteAddressChanged);
    tftp.setRemoteAddress(QString());
    tftp.setRemoteAddress(u""_s);
    QCOMPARE(spy.count(), 0);
}

void TestQTftp::setIfsList()
{
    QTftp tftp;
    // Addresses from the documentation range: never an entry of a real machine.
    const QStringList entries = {u"test0 -- 192.0.2.1"_s, u"test1 -- 192.0.2.2"_s};
    QSignalSpy spy(&tftp, &QTftp::ifsListChanged);
    tftp.setIfsList(entries);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toStringList(), entries);
    spy.clear();

    // The list the object was built with, set again, is no change.
    QTftp other;
    QSignalSpy otherSpy(&other, &QTftp::ifsListChanged);
    other.setIfsList(other.ifsList());
    QCOMPARE(otherSpy.count(), 0);

    tftp.setIfsList(entries);
    QCOMPARE(spy.count(), 0);

    const QStringList reversed = {entries.at(1), entries.at(0)};
    tftp.setIfsList(reversed);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0).at(0).toStringList(), reversed);
    QCOMPARE(tftp.ifsList(), reversed);

    tftp.setIfsList(reversed);
    QCOMPARE(spy.count(), 1);

    // Same entries but one letter's case: a different list.
    tftp.setIfsList({entries.at(1), u"TEST0 -- 192.0.2.1"_s});
    QCOMPARE(spy.count(), 2);
    tftp.setIfsList({});
    QCOMPARE(spy.count(), 3);
    QCOMPARE(tftp.ifsList(), QStringList());
}

void TestQTftp::settersThroughProperties()
{
    // QML writes through the property system, which must reach the same setters.
    QTftp tftp;
    QSignalSpy portSpy(&tftp, &QTftp::remotePortChanged);
    QVERIFY(tftp.setProperty("remotePort", QVariant::fromValue<quint16>(69)));
    QCOMPARE(portSpy.count(), 0);
    QVERIFY(tftp.setProperty("remotePort", QVariant::fromValue<quint16>(1069)));
    QCOMPARE(portSpy.count(), 1);
    QCOMPARE(tftp.remotePort(), quint16(1069));

    // Read-only properties refuse writes and keep their values.
    QVERIFY(!tftp.setProperty("errorString", u"x"_s));
    QVERIFY(!tftp.setProperty("fileSize", 5));
    QVERIFY(!tftp.setProperty("fileProgress", 5));
    QVERIFY(!tftp.setProperty("updaterVersion", u"2"_s));
    QCOMPARE(tftp.errorString(), u"Open a folder to begin"_s);
    QCOMPARE(tftp.fileSize(), 1);
    QCOMPARE(tftp.fileProgress(), 0);
    QCOMPARE(tftp.property("updaterVersion").toString(), u"1.1.0.9.0.5"_s);
}

void TestQTftp::updaterVersionNeverEmits()
{
    QTftp tftp;
    QSignalSpy spy(&tftp, &QTftp::updaterVersionChanged);
    for (int i = 0; i < 5; ++i) {
        QCOMPARE(tftp.property("updaterVersion").toString(), u"1.1.0.9.0.5"_s);
        QCOMPARE(tftp.updaterVersion(), u"1.1.0.9.0.5"_s);
    }
    QCOMPARE(spy.count(), 0);
}

QTEST_GUILESS_MAIN(TestQTftp)
#include "tst_qtftp.moc"
