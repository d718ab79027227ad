// The resources carried in the program (window document, logo, icon theme), the Windows icon
// file and manifest, and what `cmake --install` puts in place on Linux.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QResource>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>
#include <QtEndian>

using namespace Qt::StringLiterals;

namespace {

const QByteArray pngSignature = "\x89PNG\r\n\x1a\n"_ba;

const QStringList iconNames = {u"document-open"_s, u"help-about"_s, u"application-exit"_s};
const QList<int> iconSizes = {16, 24, 32};

QString iconPath(const QString &name, int size)
{
    return u":/icons/Win10/%1x%1/%2.png"_s.arg(size).arg(name);
}

QByteArray resourceBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

struct PngHeader
{
    quint32 width = 0;
    quint32 height = 0;
    int bitDepth = -1;
    int colourType = -1;
    int interlace = -1;
};

// Reads the IHDR chunk, which a PNG file must carry first, right after the signature.
bool readPngHeader(const QByteArray &bytes, PngHeader &header, QString &why)
{
    if (!bytes.startsWith(pngSignature)) {
        why = u"no PNG signature"_s;
        return false;
    }
    if (bytes.size() < 33 || bytes.mid(12, 4) != "IHDR"_ba
        || qFromBigEndian<quint32>(bytes.constData() + 8) != 13) {
        why = u"the first chunk is not a 13-byte IHDR"_s;
        return false;
    }
    const char *ihdr = bytes.constData() + 16;
    header.width = qFromBigEndian<quint32>(ihdr);
    header.height = qFromBigEndian<quint32>(ihdr + 4);
    header.bitDepth = quint8(ihdr[8]);
    header.colourType = quint8(ihdr[9]);
    header.interlace = quint8(ihdr[12]);
    return true;
}

} // namespace

class TestResources : public QObject
{
    Q_OBJECT

private slots:
    // The resource tree.
    void pathPresentWithCompression_data();
    void pathPresentWithCompression();
    void indexThemeBytes();

    // The pictures.
    void picture_data();
    void picture();
    void themeIconUnscaled_data();
    void themeIconUnscaled();

    // Windows: icon file and manifest.
    void windowsIconFile();
    void windowsManifest();
    void windowsResourceScript();

    // Linux: installation.
    void installPutsProgramEntryAndIcon();
};

void TestResources::pathPresentWithCompression_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QResource::Compression>("compression");

    QTest::addRow("main.qml") << u":/main.qml"_s << QResource::ZlibCompression;
    QTest::addRow("index.theme") << u":/icons/Win10/index.theme"_s << QResource::NoCompression;
}

void TestResources::pathPresentWithCompression()
{
    QFETCH(QString, path);
    QFETCH(QResource::Compression, compression);

    const QResource resource(path);
    QVERIFY2(resource.isValid(), qPrintable(u"missing resource "_s + path));
    QVERIFY2(QFileInfo(path).isFile(), qPrintable(path + u" is not a file"_s));
    QCOMPARE(resource.compressionAlgorithm(), compression);
    QVERIFY(resource.uncompressedSize() > 0);
}

void TestResources::indexThemeBytes()
{
    const QByteArray expected = "[Icon Theme]\r\n"
                                "Name=Win10\r\n"
                                "Comment=Windows 10 Icon Theme\r\n"
                                "Inherits=default\r\n"
                                "Directories=16x16,24x24,32x32\r\n"
                                "\r\n"
                                "[16x16]\r\n"
                                "Size=16\r\n"
                                "\r\n"
                                "[24x24]\r\n"
                                "Size=24\r\n"
                                "\r\n"
                                "[32x32]\r\n"
                                "Size=32\r\n"_ba;
    QCOMPARE(expected.size(), 166);
    QCOMPARE(resourceBytes(u":/icons/Win10/index.theme"_s), expected);
}

void TestResources::picture_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("darkest"); // the highest channel value an inked pixel may have

    QTest::addRow("logo") << u":/Brindlemoor.png"_s << QSize(249, 63) << 0x40;
    for (int size : iconSizes)
        for (const QString &name : iconNames)
            QTest::addRow("%dx%d/%s", size, size, qPrintable(name))
                << iconPath(name, size) << QSize(size, size) << 0;
}

// Present, the PNG header, and a black glyph on a transparent ground.
void TestResources::picture()
{
    QFETCH(QString, path);
    QFETCH(QSize, size);
    QFETCH(int, darkest);

    const QResource resource(path); // stored as it is: a PNG is compressed already
    QVERIFY2(resource.isValid() && QFileInfo(path).isFile(), qPrintable(u"missing "_s + path));
    QCOMPARE(resource.compressionAlgorithm(), QResource::NoCompression);
    PngHeader header;
    QString why;
    QVERIFY2(readPngHeader(resourceBytes(path), header, why), qPrintable(path + u": "_s + why));
    QCOMPARE(QSize(int(header.width), int(header.height)), size);
    QCOMPARE(header.bitDepth, 8);
    QCOMPARE(header.colourType, 6); // RGBA
    QCOMPARE(header.interlace, 0);

    const QImage image = QImage(path).convertToFormat(QImage::Format_ARGB32);
    QVERIFY2(!image.isNull(), qPrintable(u"cannot decode "_s + path));
    const int right = image.width() - 1;
    const int bottom = image.height() - 1;
    for (const QPoint corner :
         {QPoint(0, 0), QPoint(right, 0), QPoint(0, bottom), QPoint(right, bottom)})
        QVERIFY2(qAlpha(image.pixel(corner)) == 0,
                 qPrintable(u"corner %1,%2 is not transparent"_s.arg(corner.x()).arg(corner.y())));
    int inked = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb pixel = image.pixel(x, y);
            if (qAlpha(pixel) == 0)
                continue;
            ++inked;
            QVERIFY2(
                qRed(pixel) <= darkest && qGreen(pixel) <= darkest && qBlue(pixel) <= darkest,
                qPrintable(u"pixel %1,%2 is not black: #%3"_s.arg(x).arg(y).arg(pixel, 8, 16)));
        }
    }
    // A glyph, not an empty or filled square.
    const int area = image.width() * image.height();
    QVERIFY2(inked > area / 20 && inked < area / 2,
             qPrintable(u"%1 of %2 pixels inked"_s.arg(inked).arg(area)));
}

void TestResources::themeIconUnscaled_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("size");

    for (const QString &name : iconNames)
        for (int size : iconSizes)
            QTest::addRow("%s@%d", qPrintable(name), size) << name << size;
}

void TestResources::themeIconUnscaled()
{
    QFETCH(QString, name);
    QFETCH(int, size);

    // As start-up does: the theme by name, found under ":/icons" without any added search path.
    QIcon::setThemeName(u"Win10"_s);
    QVERIFY(QIcon::themeSearchPaths().contains(u":/icons"_s));
    QVERIFY2(QIcon::hasThemeIcon(name), qPrintable(name + u" is not in the theme"_s));

    const QIcon icon = QIcon::fromTheme(name);
    const QImage shown
        = icon.pixmap(QSize(size, size), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
    const QImage stored = QImage(iconPath(name, size)).convertToFormat(QImage::Format_ARGB32);
    QVERIFY(!stored.isNull());
    QCOMPARE(shown.size(), QSize(size, size));
    QVERIFY2(shown == stored, "the icon differs from the stored image: scaled or from elsewhere");
}

void TestResources::windowsIconFile()
{
    QFile file(QStringLiteral(TSTX_APP_DIR "/windows/TsTxUpdater.ico"));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    const QByteArray ico = file.readAll();
    const char *data = ico.constData();

    // ICONDIR: reserved 0, type 1 (icon), four images.
    QVERIFY(ico.size() >= 6 + 4 * 16);
    QCOMPARE(qFromLittleEndian<quint16>(data), quint16(0));
    QCOMPARE(qFromLittleEndian<quint16>(data + 2), quint16(1));
    QCOMPARE(qFromLittleEndian<quint16>(data + 4), quint16(4));

    const QList<int> sizes = {256, 48, 32, 16};
    qsizetype expectedOffset = 6 + 4 * 16;
    for (int i = 0; i < 4; ++i) {
        const char *entry = data + 6 + 16 * qsizetype(i);
        const int size = sizes.at(i);
        const QString where = u"image %1 (%2 px)"_s.arg(i).arg(size);
        // Width and height bytes: 0 stands for 256.
        QCOMPARE(quint8(entry[0]), quint8(size % 256));
        QCOMPARE(quint8(entry[1]), quint8(size % 256));
        QCOMPARE(quint8(entry[2]), quint8(0)); // no palette
        QCOMPARE(qFromLittleEndian<quint16>(entry + 4), quint16(1)); // planes
        QCOMPARE(qFromLittleEndian<quint16>(entry + 6), quint16(32)); // bits per pixel
        const quint32 length = qFromLittleEndian<quint32>(entry + 8);
        const quint32 offset = qFromLittleEndian<quint32>(entry + 12);
        QVERIFY2(offset == expectedOffset && offset + length <= quint32(ico.size()),
                 qPrintable(where + u": data out of place"_s));
        expectedOffset += length;

        const QByteArray png = ico.mid(offset, length);
        QVERIFY2(png.startsWith(pngSignature), qPrintable(where + u": not stored as PNG"_s));
        PngHeader header;
        QString why;
        QVERIFY2(readPngHeader(png, header, why), qPrintable(where + u": "_s + why));
        QCOMPARE(header.bitDepth, 8);
        QCOMPARE(header.colourType, 6); // 32 bits per pixel: RGBA
        const QImage image = QImage::fromData(png, "PNG");
        QVERIFY2(!image.isNull(), qPrintable(where + u": does not decode"_s));
        QCOMPARE(image.size(), QSize(size, size));
    }
    QCOMPARE(expectedOffset, ico.size());
}

void TestResources::windowsManifest()
{
    QFile file(QStringLiteral(TSTX_APP_DIR "/windows/TsTxUpdater.manifest"));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    QXmlStreamReader xml(&file);
    QString executionLevel;
    QString commonControlsVersion;
    bool inDependency = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement() && xml.name() == u"dependentAssembly")
            inDependency = true;
        if (!xml.isStartElement())
            continue;
        const auto attributes = xml.attributes();
        if (xml.name() == u"requestedExecutionLevel")
            executionLevel = attributes.value("level"_L1).toString();
        if (inDependency && xml.name() == u"assemblyIdentity"
            && attributes.value("name"_L1) == u"Microsoft.Windows.Common-Controls")
            commonControlsVersion = attributes.value("version"_L1).toString();
    }
    QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
    QCOMPARE(executionLevel, u"asInvoker"_s);
    QCOMPARE(commonControlsVersion, u"6.0.0.0"_s);
}

void TestResources::windowsResourceScript()
{
    QFile file(QStringLiteral(TSTX_APP_DIR "/windows/TsTxUpdater.rc"));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.errorString()));
    const QByteArray rc = file.readAll();
    for (const QByteArray &line :
         {"IDI_ICON1 ICON \"TsTxUpdater.ico\""_ba, "1 24 \"TsTxUpdater.manifest\""_ba,
          "FILEVERSION 0, 0, 0, 0"_ba, "PRODUCTVERSION 0, 0, 0, 0"_ba,
          "VALUE \"ProductName\", \"TsTxUpdater\\0\""_ba,
          "VALUE \"FileVersion\", \"0.0.0.0\\0\""_ba,
          "VALUE \"ProductVersion\", \"0.0.0.0\\0\""_ba})
        QVERIFY2(rc.contains(line), line.constData());
}

void TestResources::installPutsProgramEntryAndIcon()
{
    QTemporaryDir prefix;
    QVERIFY2(prefix.isValid(), qPrintable(prefix.errorString()));

    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(TSTX_CMAKE_COMMAND),
                  {u"--install"_s, QStringLiteral(TSTX_BINARY_DIR), u"--prefix"_s, prefix.path()});
    QVERIFY2(install.waitForFinished(120000), qPrintable(install.errorString()));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());

    const QDir root(prefix.path());
    const QFileInfo program(root.filePath(u"bin/TsTxUpdater"_s));
    QVERIFY2(program.isFile() && program.isExecutable(), "bin/TsTxUpdater is not installed");

    const QString desktopId = u"com.brindlemoor.TsTxUpdater"_s;
    const QString entryPath = root.filePath(u"share/applications/%1.desktop"_s.arg(desktopId));
    QFile entry(entryPath);
    QVERIFY2(entry.open(QIODevice::ReadOnly),
             qPrintable(entryPath + u": "_s + entry.errorString()));
    const QByteArray entryText = entry.readAll();
    QVERIFY(entryText.startsWith("[Desktop Entry]\n"));
    QVERIFY2(entryText.contains("\nExec=TsTxUpdater\n"), "the entry does not start the program");
    QVERIFY2(entryText.contains("\nIcon=" + desktopId.toUtf8() + '\n'),
             "the entry does not name the installed icon");

    QProcess validate;
    validate.setProcessChannelMode(QProcess::MergedChannels);
    validate.start(u"desktop-file-validate"_s, {entryPath});
    QVERIFY2(
        validate.waitForFinished(30000),
        qPrintable(u"desktop-file-validate (desktop-file-utils): "_s + validate.errorString()));
    const QByteArray complaints = validate.readAll();
    QVERIFY2(validate.exitCode() == 0 && complaints.isEmpty(), complaints.constData());

    for (int size : {16, 32, 48, 256}) {
        const QString iconFile
            = root.filePath(u"share/icons/hicolor/%1x%1/apps/%2.png"_s.arg(size).arg(desktopId));
        const QImage icon(iconFile);
        QVERIFY2(!icon.isNull(), qPrintable(u"no icon at "_s + iconFile));
        QCOMPARE(icon.size(), QSize(size, size));
    }
}

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
