#include "devicelist.h"

#include "deviceaddress.h"
#include "output.h"

#include <QFile>
#include <QHostAddress>
#include <QRegularExpression>
#include <QSet>

using namespace Qt::StringLiterals;

namespace {
// Far beyond a fleet; a file past these is a mistake, not minutes of work.
constexpr qint64 maxDevicesFileBytes = 1 << 20;
constexpr qsizetype maxDevices = 65536;

// The same transmitter typed twice, as an address or as a name in other letter case.
QString deviceKey(const QString &device)
{
    const DeviceAddress read = readDeviceAddress(device);
    return read.address.isNull() ? read.text.toLower() : read.address.toString();
}

// Why a name cannot be a transmitter's, or an empty text. The window's rules, and a hint at
// --port for a port typed with the address.
QString nameProblem(const QString &device)
{
    if (device.trimmed().isEmpty())
        return u"an empty device name was given; name each transmitter by its IPv4 address or "
               "host name"_s;
    const QString shown = printable(device);
    if (device.startsWith(u'[') || QHostAddress(device).protocol() == QAbstractSocket::IPv6Protocol)
        return u"the device %1 is an IPv6 address, and transmitters are reached over IPv4; give "
               "its IPv4 address or host name"_s.arg(shown);
    if (device.count(u':') == 1 && !device.contains(u"//"_s))
        return u"the device %1 has a port in it; give the address alone, and the port with "
               "--port, such as --port %2"_s.arg(shown, printable(device.section(u':', 1)));
    if (const QString problem = readDeviceAddress(device).problem; !problem.isEmpty())
        return u"the device "_s + printable(problem);
    return {};
}
} // namespace

QString readDevicesFile(const QString &path, QStringList &devices)
{
    QFile file(path);
    const bool opened
        = path == u"-"_s ? file.open(stdin, QIODevice::ReadOnly) : file.open(QIODevice::ReadOnly);
    const QByteArray contents = opened ? file.read(maxDevicesFileBytes + 1) : QByteArray();
    if (!opened || file.error() != QFileDevice::NoError)
        return u"cannot read the devices file %1: %2; give a readable file with one device per "
               "line, or - for standard input"_s.arg(printable(path), file.errorString());
    if (contents.size() > maxDevicesFileBytes)
        return u"the devices file %1 is larger than 1 MiB; give a file of at most %2 devices"_s.arg(
            printable(path), QString::number(maxDevices));
    static const QRegularExpression whitespace(u"\\s+"_s);
    const QStringList lines = QString::fromUtf8(contents).split(u'\n');
    for (const QString &line : lines)
        devices += line.section(u'#', 0, 0).split(whitespace, Qt::SkipEmptyParts);
    return {};
}

QString checkDevices(const QStringList &devices)
{
    if (devices.isEmpty())
        return u"no devices given; name them after the folder (tstx-update FOLDER 192.168.1.20 "
               "...) or in a file (--devices FILE)"_s;
    if (devices.size() > maxDevices)
        return u"%1 devices given, more than the %2 one run takes; split the fleet"_s.arg(
            QString::number(devices.size()), QString::number(maxDevices));
    // Two updates of one transmitter at once would run into each other.
    QSet<QString> seen;
    for (const QString &device : devices) {
        if (QString problem = nameProblem(device); !problem.isEmpty())
            return problem;
        const QString key = deviceKey(device);
        if (seen.contains(key))
            return u"the device %1 is listed twice; list each transmitter once"_s.arg(
                printable(device));
        seen.insert(key);
    }
    return {};
}
