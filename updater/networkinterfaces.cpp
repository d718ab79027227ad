#include "networkinterfaces.h"

#include "qtftp.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkInterface>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {
const QString savedInterfaceKey = u"savedInterface"_s;
const QString savedAddressKey = u"savedAddress"_s;
const QString savedFolderKey = u"savedFolder"_s;
InterfaceList (*interfaceSource)() = nullptr;
} // namespace

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
        for (const QNetworkAddressEntry &entry : entries)
            info.addresses.append(entry.ip());
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

void QTftp::saveNetworkIf(const QString &ifName)
{
    const QString systemName = systemNameOf(systemInterfaces(), ifName);
    if (systemName.isEmpty())
        return;
    QSettings settings;
    settings.setValue(savedInterfaceKey, systemName);
}

void QTftp::saveNetworkAddr(const QString &addr)
{
    QSettings settings;
    // Spaces around it are not part of the address: " 10.0.0.7" would come back as typed.
    settings.setValue(savedAddressKey, addr.trimmed());
}

QString QTftp::loadNetoworkIf()
{
    QSettings settings;
    return settings.value(savedInterfaceKey, QString()).toString();
}

QString QTftp::loadNetworkAddr()
{
    QSettings settings;
    return settings.value(savedAddressKey, QString()).toString();
}

int QTftp::savedInterfaceIndex()
{
    return entryIndexOf(systemInterfaces(), ifsList(), loadNetoworkIf());
}

void QTftp::saveFolder(const QUrl &folder)
{
    // Kept as a path, which is what the settings file's reader knows the folder by.
    if (!folder.isLocalFile())
        return;
    QSettings settings;
    settings.setValue(savedFolderKey, folder.toLocalFile());
}

int QTftp::preferredInterfaceIndex()
{
    const InterfaceList interfaces = systemInterfaces();
    const QString saved = loadNetoworkIf();
    const bool remembered
        = std::any_of(interfaces.cbegin(), interfaces.cend(),
                      [&](const InterfaceInfo &info) { return info.name == saved; });
    return remembered ? entryIndexOf(interfaces, m_ifsList, saved)
                      : reachingEntryIndex(interfaces, m_ifsList);
}

void QTftp::refreshInterfaces()
{
    setIfsList(interfaceEntries(systemInterfaces()));
}

QUrl QTftp::chooseFolder(const QUrl &folder)
{
    // Qt Quick's dialog leaves the separator of a typed path at its end.
    QUrl chosen = folder.isLocalFile() ? QUrl::fromLocalFile(QDir::cleanPath(folder.toLocalFile()))
                                       : folder;
    saveFolder(chosen);
    buildFileList(chosen);
    return chosen;
}

QUrl QTftp::restoreFolder()
{
    const QString saved = QSettings().value(savedFolderKey).toString();
    if (saved.isEmpty())
        return {};
    if (!QFileInfo(saved).isDir()) {
        setStatus(u"The folder chosen last is gone: %1. Open a folder to begin"_s.arg(
            QDir::toNativeSeparators(saved)));
        return {};
    }
    QUrl folder = QUrl::fromLocalFile(saved);
    buildFileList(folder);
    return folder;
}

QUrl QTftp::startFolder()
{
    const QString saved = QSettings().value(savedFolderKey).toString();
    if (!saved.isEmpty() && QFileInfo(saved).isDir())
        return QUrl::fromLocalFile(saved);
    return QUrl::fromLocalFile(QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
}
