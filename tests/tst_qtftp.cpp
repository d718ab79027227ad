#include "qtftp.h"
#include "support/testsupport.h"

#include <QMetaMethod>
#include <QMetaProperty>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace TestSupport;

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
    void methods_data();
    void methods();

    // Values and the setter rule
    void initialValues();
    void setterRule_data();
    void setterRule();
    void readOnlyPropertiesRefuseWrites();
};

void TestQTftp::initTestCase()
{
    useTestSettings();
    CHECK_OK(testSettingsProblem());
}

void TestQTftp::classInfo()
{
    const QMetaObject &meta = QTftp::staticMetaObject;
    QCOMPARE(meta.className(), "QTftp");
    QCOMPARE(meta.superClass(), &QObject::staticMetaObject);
    QCOMPARE(meta.classInfoCount(), meta.classInfoOffset());
    QCOMPARE(meta.enumeratorCount(), meta.enumeratorOffset());
    QCOMPARE(meta.constructorCount(), 0);
    // 9 properties; 10 signals, 6 slots and 8 invokable methods: no clones from default arguments.
    QCOMPARE(meta.propertyCount() - meta.propertyOffset(), 9);
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 24);
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

    // Stored, scriptable and designable, nothing more.
    QCOMPARE((QList<bool> {property.isStored(), property.isScriptable(), property.isDesignable(),
                           property.isConstant(), property.isFinal(), property.isResettable(),
                           property.isRequired(), property.isBindable(), property.isUser()}),
             (QList<bool> {true, true, true, false, false, false, false, false, false}));

    if (writable) {
        // Written through a public slot named after it.
        const QByteArray setter = "set" + name.left(1).toUpper() + name.mid(1);
        const int setterIndex = meta.indexOfSlot(
            QMetaObject::normalizedSignature(setter + '(' + QMetaType(type).name() + ')'));
        QVERIFY2(setterIndex >= 0, setter.constData());
        QCOMPARE(meta.method(setterIndex).access(), QMetaMethod::Public);
    }
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
    QCOMPARE(tftp.firmwareList(), QStringList());
    QCOMPARE(tftp.currentFileIndex(), 0);
}

void TestQTftp::setterRule_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QVariantList>("writes"); // an invalid value writes the current one again
    QTest::addColumn<QVariantList>("emitted"); // the values the notify signal carries

    const auto port = [](int value) {
        return QVariant::fromValue(quint16(value));
    };
    QTest::addRow("remotePort") << "remotePort"_ba
                                << QVariantList {port(69), port(70), port(70), port(65535)}
                                << QVariantList {port(70), port(65535)};
    QTest::addRow("localPort") << "localPort"_ba << QVariantList {port(0), port(40000), port(40000)}
                               << QVariantList {port(40000)};
    // Letter case counts; any text is stored, not checked or normalised.
    QTest::addRow("remoteAddress")
        << "remoteAddress"_ba
        << QVariantList {u"device.local"_s, u"device.local"_s, u"Device.local"_s,
                         u"  not an address "_s}
        << QVariantList {u"device.local"_s, u"Device.local"_s, u"  not an address "_s};
    QTest::addRow("remoteAddress, null and empty are equal")
        << "remoteAddress"_ba << QVariantList {QString(), u""_s} << QVariantList {};
    QTest::addRow("localAddress") << "localAddress"_ba
                                  << QVariantList {u""_s, u"127.0.0.1"_s, QString()}
                                  << QVariantList {u"127.0.0.1"_s, QString()};
    // Addresses from the documentation range: never an entry of a real machine.
    const QStringList entries = {u"test0 -- 192.0.2.1"_s, u"test1 -- 192.0.2.2"_s};
    const QStringList reversed = {entries.at(1), entries.at(0)};
    const QStringList otherCase = {entries.at(1), u"TEST0 -- 192.0.2.1"_s};
    QTest::addRow("ifsList") << "ifsList"_ba
                             << QVariantList {QVariant(), entries,   entries,      reversed,
                                              reversed,   otherCase, QStringList()}
                             << QVariantList {entries, reversed, otherCase, QStringList()};
}

void TestQTftp::setterRule()
{
    QFETCH(QByteArray, name);
    QFETCH(QVariantList, writes);
    QFETCH(QVariantList, emitted);

    // Written through the property system, as QML writes, which reaches the setter.
    QTftp tftp;
    const QMetaProperty property = QTftp::staticMetaObject.property(
        QTftp::staticMetaObject.indexOfProperty(name.constData()));
    QSignalSpy spy(&tftp, property.notifySignal());
    for (const QVariant &value : writes)
        QVERIFY(tftp.setProperty(name.constData(), value.isValid() ? value : tftp.property(name)));
    QVariantList carried;
    for (const QList<QVariant> &signal : std::as_const(spy))
        carried.append(signal.at(0));
    QCOMPARE(carried, emitted);
    if (!emitted.isEmpty())
        QCOMPARE(tftp.property(name.constData()), emitted.constLast());
}

void TestQTftp::readOnlyPropertiesRefuseWrites()
{
    QTftp tftp;
    QSignalSpy versionChanges(&tftp, &QTftp::updaterVersionChanged);
    QVERIFY(!tftp.setProperty("errorString", u"x"_s));
    QVERIFY(!tftp.setProperty("fileSize", 5));
    QVERIFY(!tftp.setProperty("fileProgress", 5));
    QVERIFY(!tftp.setProperty("updaterVersion", u"2"_s));
    QCOMPARE(tftp.errorString(), u"Open a folder to begin"_s);
    QCOMPARE(tftp.fileSize(), 1);
    QCOMPARE(tftp.fileProgress(), 0);
    QCOMPARE(tftp.updaterVersion(), u"1.1.0.9.0.5"_s);
    QCOMPARE(versionChanges.count(), 0);
}

QTEST_GUILESS_MAIN(TestQTftp)
#include "tst_qtftp.moc"
