#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

// The firmware files of a folder, as a run sends them.
struct FirmwareListing
{
    QStringList names; // the firmware files, in sending order
    QStringList unmatched; // .bin names, in any letter case, that no firmware name matches
    // Names that look like copies of one image ("7380-v1.bin", "7380-v1 (2).bin"), each group in
    // sending order: all of them are sent.
    QList<QStringList> copies;
};

// Lists the folder's files (not its subfolders or hidden files) by name, ignoring case, and
// picks the firmware files: those of the primary names first, then the others, each name group
// in listing order. Records the primary names in QTftp::errorTolerantFiles.
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
