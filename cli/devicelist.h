#pragma once

#include <QString>
#include <QStringList>

// Adds the devices of a devices file (- is standard input): whitespace-separated words; blank
// lines and everything after a "#" are ignored. The usage error, or an empty text.
QString readDevicesFile(const QString &path, QStringList &devices);
// Why the list cannot be a fleet (a name that cannot be a transmitter, one named twice, too many),
// or an empty text. Looks nothing up: no name query leaves the machine for this.
QString checkDevices(const QStringList &devices);
