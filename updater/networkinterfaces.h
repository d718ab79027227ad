#pragma once

#include <QHostAddress>
#include <QList>
#include <QString>
#include <QStringList>

// What the updater needs to know of a network interface. The machine's interfaces come from
// systemInterfaces(); tests hand crafted lists to the rules below.
struct InterfaceInfo
{
    QString name; // system name, the remembered key ("eth0", a GUID on Windows)
    QString humanReadableName; // what the user sees ("Ethernet 2")
    QList<QHostAddress> addresses; // in the order of the interface's address entries
    bool up = true; // running: a cable plugged in, a link established
    QList<QHostAddress> subnetBroadcasts {}; // of its IPv4 networks: 10.0.0.255 of 10.0.0.1/24
};
using InterfaceList = QList<InterfaceInfo>;

// Separates the name from the address in an interface entry.
inline constexpr QLatin1String interfaceEntrySeparator(" -- ");

// The broadcast address of the IPv4 network of address; null for IPv6 and for /31 and /32.
QHostAddress subnetBroadcast(const QHostAddress &address, int prefixLength);

// The machine's interfaces, in the platform's order.
InterfaceList systemInterfaces();
// Makes systemInterfaces() return what source gives (nullptr: the machine's again). Tests use it
// for interfaces whose system and human-readable names differ, as on Windows.
void setInterfaceSource(InterfaceList (*source)());

// One "name -- address" entry per IPv4 address, in interface and address order.
QStringList interfaceEntries(const InterfaceList &interfaces);

// System name of the first interface whose human-readable name is humanReadableName (exact,
// case counting); empty when there is none.
QString systemNameOf(const InterfaceList &interfaces, const QString &humanReadableName);

// Position in entries of the first address that can reach a transmitter: of an interface that is
// up, not in the loopback range; 0 when there is none.
int reachingEntryIndex(const InterfaceList &interfaces, const QStringList &entries);

// Position in entries of the interface remembered by its system name: 0 when no interface bears
// that name, -1 when it has no entry, else the first entry whose name part is exactly its
// human-readable name.
int entryIndexOf(const InterfaceList &interfaces, const QStringList &entries,
                 const QString &savedSystemName);
