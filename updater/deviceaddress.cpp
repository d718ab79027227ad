#include "deviceaddress.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
const QString example = u"192.168.1.20"_s;

// "1.2.3.4" with every part decimal; the problem, or an empty text with address set.
QString readDecimalAddress(const QString &text, QHostAddress &address)
{
    const QStringList parts = text.split(u'.');
    const bool fourParts = parts.size() == 4
        && std::none_of(parts.cbegin(), parts.cend(), [](const QString &p) { return p.isEmpty(); });
    if (!fourParts)
        return u"%1 is not a whole IPv4 address; type all four decimal parts, such as %2"_s.arg(
            text, example);
    QStringList decimal;
    bool leadingZero = false;
    quint32 value = 0;
    for (const QString &part : parts) {
        bool ok = false;
        const uint number = part.toUInt(&ok, 10);
        if (!ok || number > 255)
            return u"%1 has a part over 255; each of the four parts is a number from 0 to 255"_s
                .arg(text);
        leadingZero = leadingZero || (part.size() > 1 && part.startsWith(u'0'));
        decimal.append(QString::number(number));
        value = value << 8 | number;
    }
    if (leadingZero)
        return u"%1 has parts with leading zeros, which some tools read as octal; type %2"_s.arg(
            text, decimal.join(u'.'));
    address.setAddress(value);
    return {};
}
} // namespace

DeviceAddress readDeviceAddress(const QString &typed)
{
    DeviceAddress device;
    device.text = typed.trimmed();
    const QString &text = device.text;
    static const QRegularExpression digitsAndDots(u"^[0-9.]+$"_s);
    static const QRegularExpression scheme(u"^[A-Za-z][A-Za-z0-9+.-]*:"_s);
    static const QRegularExpression space(u"\\s"_s);
    const auto refuse = [&device](const QString &problem) {
        device.problem = problem;
        return device;
    };
    if (text.isEmpty())
        return refuse(u"No device address given; type the transmitter's IPv4 address, such as "
                      "%1, or its host name"_s.arg(example));
    if (digitsAndDots.match(text).hasMatch()) {
        device.problem = readDecimalAddress(text, device.address);
        return device;
    }
    if (text.contains(space))
        return refuse(u"%1 has a space in it; type one address or host name"_s.arg(text));
    if (text.contains(u"//"_s) || scheme.match(text).hasMatch())
        return refuse(u"%1 is not an address or host name; type the transmitter's address alone, "
                      "such as %2, without http:// or a port"_s.arg(text, example));
    if (text.contains(u'/'))
        return refuse(u"%1 has a slash in it; type the address alone, such as %2, without a "
                      "prefix length or a path"_s.arg(text, example));
    if (text.contains(u',') || text.contains(u';'))
        return refuse(u"%1 names more than one device; type one address or host name"_s.arg(text));
    // The forms the old parsers take for an address: 0x7f.0.0.1, 0x7f000001.
    const QHostAddress lenient(text);
    if (lenient.protocol() == QAbstractSocket::IPv6Protocol)
        return refuse(u"%1 is an IPv6 address, and transmitters are reached over IPv4; type its "
                      "IPv4 address or host name"_s.arg(text));
    if (!lenient.isNull())
        return refuse(u"%1 is not a four-part decimal IPv4 address; type all four parts in "
                      "decimal, such as %2"_s.arg(text, example));
    // Written with other digits or dots (fullwidth ones, say), which the look-up would turn
    // into an address.
    if (digitsAndDots.match(QString::fromLatin1(QUrl::toAce(text))).hasMatch())
        return refuse(u"%1 is written with characters other than the digits 0 to 9 and the dot; "
                      "type the address with those, such as %2"_s.arg(text, example));
    for (const QChar c : text) {
        if (!c.isLetterOrNumber() && c != u'-' && c != u'.' && c != u'_')
            return refuse(u"%1 has the character %2, which no host name has; type the "
                          "transmitter's IPv4 address, such as %3, or its host name"_s.arg(
                              text, QString(c), example));
    }
    return device;
}
