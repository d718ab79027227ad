#pragma once

#include "deviceaddress.h"
#include "firmwarefile.h"
#include "networkinterfaces.h"

#include <QHostAddress>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

// The transmitter of a run as one IPv4 address, found once when the run is planned: a host name
// is looked up then, and every file and "done" go to the address it led to, whatever the name
// servers answer later.
struct DeviceTarget
{
    QString typed; // as typed, without the spaces around it
    QHostAddress address; // null when refused
    QString problem; // why the text names no transmitter that can be sent to; empty if it does

    [[nodiscard]] bool usable() const { return problem.isEmpty(); }
    // "tx-7 (10.0.0.7)" for a name, "10.0.0.7" for an address typed.
    [[nodiscard]] QString shown() const;
};

// The addresses a host name leads to, in the order the resolver gives them. Tests put a resolver
// of their own in place of the system's.
using HostLookup = std::function<QList<QHostAddress>(const QString &name)>;
HostLookup systemHostLookup();

// Why address cannot be one transmitter (the unspecified address, a broadcast of any kind,
// multicast), said of shownAs; empty when it can be one.
QString transmitterAddressProblem(const QHostAddress &address, const QString &shownAs,
                                  const InterfaceList &interfaces);

// Reads the typed device as the window and tstx-update read it, looks a name up once and refuses
// what cannot be one transmitter.
DeviceTarget resolveDevice(const DeviceAddress &read, const InterfaceList &interfaces,
                           const HostLookup &lookup);
DeviceTarget resolveDevice(const QString &typed, const InterfaceList &interfaces,
                           const HostLookup &lookup);

// The local address to send from, read as device addresses are and one of this machine's;
// the problem (a sentence about "what"), or an empty text with address set.
QString readLocalAddress(const QString &typed, const InterfaceList &interfaces,
                         QHostAddress &address);

// What one run sends and to whom, decided once at its start and never changed after.
struct RunPlan
{
    QString folder; // the local path the images were read from
    std::shared_ptr<const FirmwareListing> listing;
    std::shared_ptr<const Firmware::ImageSet> images; // in sending order, with their bytes
    DeviceTarget device;
    // Why the run sends nothing, as the run's status; empty when it can go. A refused image set
    // or device says it.
    QString refusal;

    [[nodiscard]] bool refused() const { return !refusal.isEmpty(); }
};

// Lists and reads folder once, and finds the device once: what the window's Start does, off the
// window's thread. The address is looked up only when the images can go.
RunPlan planRun(const QString &folder, const DeviceAddress &device, const InterfaceList &interfaces,
                const HostLookup &lookup);
