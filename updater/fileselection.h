#pragma once

#include <QHash>
#include <QList>
#include <QRegularExpression>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace Firmware {
// The checksum list that sha256sum writes ("sha256sum *.bin > SHA256SUMS"): where a folder holds
// one, every image of a run must have a matching line in it.
inline constexpr QLatin1StringView checksumFileName("SHA256SUMS");
} // namespace Firmware

// The firmware names: matched anywhere in a name, letter case counting; the primary ones, whose
// images a device may answer with an ERROR once it has them, first.
namespace FirmwareNames {
extern const QList<QRegularExpression> primaryPatterns;
extern const QList<QRegularExpression> secondaryPatterns;
} // namespace FirmwareNames

// The firmware files of a folder, as a run sends them.
struct FirmwareListing
{
    QStringList names; // every entry named like firmware, in sending order
    QSet<QString> primaryNames; // those a primary pattern matches
    // Entries named like firmware that cannot go out whole (a link that leads nowhere or to a
    // folder, a FIFO or device, a name that is not valid text), with what stops them ("is a link
    // that leads nowhere"). A name that is not valid text is listed escaped ("7380-v1\xff.bin").
    QHash<QString, QString> unsendable;
    QStringList unmatched; // .bin names, in any letter case, that no firmware name matches
    // Names that look like copies of one image ("7380-v1.bin", "7380-v1 (2).bin"), and versions
    // of one image ("7380-X-v1.bin", "7380-X-v2.bin"), each group in sending order: all of them
    // are sent, and the transmitter keeps the last.
    QList<QStringList> copies;
    QList<QStringList> versions;
    // Files that look like a checksum list in another form ("SHA256SUMS.txt", "fw.sha256"), which
    // no run reads.
    QStringList unreadChecksumFiles;
    QString
        folderProblem; // why the folder cannot be listed, in the system's words; empty if it can

    // What a technician should know before sending, one sentence each; the first namesShown
    // unmatched names are spelt out.
    [[nodiscard]] QStringList warnings(qsizetype namesShown = 3) const;
};

// Lists the folder's entries (not its subfolders or hidden files) by name, ignoring case, and
// picks the firmware names: those of the primary patterns first, then the others, each pattern's
// names in listing order.
FirmwareListing listFirmware(const QString &folder);

// The firmware list entry of a file in a folder: the folder's URL text, "/", and the file name.
// Characters that would end a URL path ("%", "#", "?", ...) are percent-encoded, so the entry
// parses back to exactly this file; an ordinary name stands as it is.
QString firmwareEntry(const QUrl &folder, const QString &fileName);

// "1 file", "3 files": a count with its noun.
QString counted(qsizetype count, const QString &noun);
// "2 .bin files match no firmware name and will not be sent: NAMES", the first namesShown of
// them named and the rest counted; empty when there are none.
QString unmatchedText(const QStringList &unmatched, qsizetype namesShown);
// "A and B look like copies of one image; both are sent, in this order".
QString copiesText(const QStringList &copies);
// "A and B are versions of one image; both are sent, in this order, and the transmitter keeps B".
QString versionsText(const QStringList &versions);
