#pragma once

#include <QHostAddress>
#include <QString>

// The device as the technician typed it, read the way it was meant or refused: an IPv4 address
// only in its four-part decimal form, never in the short, octal or hex forms that the old C
// parsers accept; a host name only where the text can be one, so that nothing shaped like an
// address reaches the name look-up.
struct DeviceAddress
{
    QString text; // as typed, without the spaces around it
    QHostAddress address; // the address typed; null for a host name or a refusal
    QString problem; // why the text is refused; empty when it is usable

    [[nodiscard]] bool isHostName() const { return problem.isEmpty() && address.isNull(); }
};

// A pure function of the typed text.
DeviceAddress readDeviceAddress(const QString &typed);
