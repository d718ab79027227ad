#include "networkinterfaces.h"

#include <QNetworkInterface>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
InterfaceList (*interfaceSource)() = nullptr;
} // namespace

QHostAddress subnetBroadcast(const QHostAddress &address, int prefixLength)
{
    // A /31 or /32 has no broadcast address (RFC 3021).
    if (address.protocol() != QAbstractSocket::IPv4Protocol || prefixLength < 0
        || prefixLength > 30)
        return {};
    const quint32 hostBits = prefixLength == 0 ? ~0U : (1U << (32 - prefixLength)) - 1;
    return QHostAddress(address.toIPv4Address() | hostBits);
}

void setInterfaceSource(InterfaceList (*source)())
{
    interfaceSource = source;
}

InterfaceList systemInterfaces()
{
    if (interfaceSource)
        return interfaceSource();
    InterfaceList interfaces;
    const QList<QNetworkInterface> all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &netIf : all) {
        InterfaceInfo info {
            netIf.name(),
            netIf.humanReadableName(),
            {},
            netIf.flags().testFlags(QNetworkInterface::IsUp | QNetworkInterface::IsRunning)};
        const QList<QNetworkAddressEntry> entries = netIf.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            info.addresses.append(entry.ip());
            if (const QHostAddress broadcast = subnetBroadcast(entry.ip(), entry.prefixLength());
                !broadcast.isNull())
                info.subnetBroadcasts.append(broadcast);
        }
        interfaces.append(info);
    }
    return interfaces;
}

QStringList interfaceEntries(const InterfaceList &interfaces)
{
    QStringList entries;
    for (const InterfaceInfo &info : interfaces) {
        for (const QHostAddress &address : info.addresses) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol)
                entries.append(info.humanReadableName + interfaceEntrySeparator
                               + address.toString());
        }
    }
    return entries;
}

QString systemNameOf(const InterfaceList &interfaces, const QString &humanReadableName)
{
    for (const InterfaceInfo &info : interfaces) {
        if (info.humanReadableName == humanReadableName)
            return info.name;
    }
    return {};
}

int reachingEntryIndex(const InterfaceList &interfaces, const QStringList &entries)
{
    for (const InterfaceInfo &info : interfaces) {
        if (!info.up)
            continue;
        for (const QHostAddress &address : info.addresses) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback()) {
                const qsizetype index = entries.indexOf(
                    info.humanReadableName + interfaceEntrySeparator + address.toString());
                if (index >= 0)
                    return int(index);
            }
        }
    }
    return 0;
}

int entryIndexOf(const InterfaceList &interfaces, const QStringList &entries,
                 const QString &savedSystemName)
{
    const auto saved
        = std::find_if(interfaces.cbegin(), interfaces.cend(),
                       [&](const InterfaceInfo &info) { return info.name == savedSystemName; });
    if (saved == interfaces.cend())
        return 0;
    // The whole name part must match: a remembered "Ethernet" must not pick "Ethernet 2".
    const QString prefix = saved->humanReadableName + interfaceEntrySeparator;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries.at(i).startsWith(prefix))
            return int(i);
    }
    return -1;
}
