#include "runplan.h"

#include "deviceaddress.h"
#include "fileselection.h"

#include <QDir>
#include <QFileInfo>
#include <QHostInfo>

using namespace Qt::StringLiterals;

QString DeviceTarget::shown() const
{
    const QString address = this->address.toString();
    return address.isEmpty() || address == typed ? typed : u"%1 (%2)"_s.arg(typed, address);
}

HostLookup systemHostLookup()
{
    return [](const QString &name) {
        // A copy of the name's characters of its own: QHostInfo keeps the text and drops it in
        // Qt's code, which ThreadSanitizer does not see, so a text shared with another thread
        // looked raced to it.
        return QHostInfo::fromName(QString(name.constData(), name.size())).addresses();
    };
}

QString transmitterAddressProblem(const QHostAddress &address, const QString &shownAs,
                                  const InterfaceList &interfaces)
{
    const QString oneTransmitter = u"type the address of one transmitter"_s;
    if (address == QHostAddress(QHostAddress::AnyIPv4))
        return u"%1 is the unspecified address, which names no transmitter; %2"_s.arg(
            shownAs, oneTransmitter);
    if (address == QHostAddress(QHostAddress::Broadcast))
        return u"%1 is the broadcast address, which reaches every device of the network; %2"_s.arg(
            shownAs, oneTransmitter);
    if (address.isMulticast())
        return u"%1 is a multicast address, which may reach many devices; %2"_s.arg(shownAs,
                                                                                    oneTransmitter);
    for (const InterfaceInfo &info : interfaces) {
        if (info.subnetBroadcasts.contains(address))
            return u"%1 is the broadcast address of a network of the interface %2, which reaches "
                   "every device of that network; %3"_s.arg(shownAs, info.humanReadableName,
                                                            oneTransmitter);
    }
    return {};
}

DeviceTarget resolveDevice(const QString &typed, const InterfaceList &interfaces,
                           const HostLookup &lookup)
{
    return resolveDevice(readDeviceAddress(typed), interfaces, lookup);
}

DeviceTarget resolveDevice(const DeviceAddress &read, const InterfaceList &interfaces,
                           const HostLookup &lookup)
{
    DeviceTarget target {read.text, read.address, read.problem};
    if (!target.usable())
        return target;
    QString shownAs = target.typed;
    if (read.isHostName()) {
        const QList<QHostAddress> found = lookup(target.typed);
        for (const QHostAddress &address : found) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                target.address = address;
                break;
            }
        }
        if (found.isEmpty()) {
            target.problem = u"could not resolve host name %1"_s.arg(target.typed);
            return target;
        }
        if (target.address.isNull()) {
            target.problem = u"%1 leads only to IPv6 addresses, and transmitters are reached "
                             "over IPv4; type its IPv4 address"_s.arg(target.typed);
            return target;
        }
        shownAs = u"%1, which leads to %2,"_s.arg(target.typed, target.address.toString());
    }
    target.problem = transmitterAddressProblem(target.address, shownAs, interfaces);
    if (!target.usable())
        target.address.clear();
    return target;
}

QString readLocalAddress(const QString &typed, const InterfaceList &interfaces,
                         QHostAddress &address)
{
    const DeviceAddress read = readDeviceAddress(typed);
    if (!read.problem.isEmpty())
        return read.problem;
    QStringList own;
    for (const InterfaceInfo &info : interfaces) {
        for (const QHostAddress &ownAddress : info.addresses) {
            if (ownAddress.protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            if (ownAddress == read.address) {
                address = read.address;
                return {};
            }
            own.append(ownAddress.toString());
        }
    }
    if (read.isHostName())
        return u"%1 is not an IPv4 address; give one of this machine's: %2"_s.arg(
            read.text, own.join(u", "_s));
    return u"%1 is not an address of this machine; give one of: %2"_s.arg(read.text,
                                                                          own.join(u", "_s));
}

RunPlan planRun(const QString &folder, const DeviceAddress &device, const InterfaceList &interfaces,
                const HostLookup &lookup)
{
    RunPlan plan;
    plan.folder = folder;
    const QString shownFolder = QDir::toNativeSeparators(folder);
    auto listing = std::make_shared<FirmwareListing>();
    if (QFileInfo(folder).isDir())
        *listing = listFirmware(folder);
    plan.images
        = std::make_shared<const Firmware::ImageSet>(Firmware::readImages(folder, *listing));
    plan.listing = std::move(listing);
    if (!QFileInfo(folder).isDir())
        plan.refusal = u"There is no folder %1: nothing was sent"_s.arg(shownFolder);
    else if (plan.images->refused())
        plan.refusal = plan.images->refusal;
    // "done" alone would tell the device that an update it never received is complete.
    else if (plan.images->images.isEmpty())
        plan.refusal = u"No firmware files in %1: nothing was sent"_s.arg(shownFolder);
    if (plan.refused())
        return plan;
    plan.device = resolveDevice(device, interfaces, lookup);
    plan.refusal = plan.device.problem;
    return plan;
}
