#pragma once

#include "fileselection.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// The firmware files of a run as the disk holds them: whether each can go out whole in one
// upload, and the run's images, read once when the run starts and shared by all its uploads.
namespace Firmware {

// Why a file cannot be sent whole.
struct Problem
{
    enum Kind {
        None,
        CannotOpen,
        CannotRead,
        NotRegularFile,
        TooLarge,
        NoChecksum, // the folder's SHA256SUMS has no line for it
        ChecksumMismatch, // its SHA-256 is not the one SHA256SUMS gives
        Unsendable, // listed, but no file to send (a link that leads nowhere, say)
        ChecksumLineMalformed, // SHA256SUMS has a line that sha256sum -c rejects
        ChecksumNamesAbsentFile, // SHA256SUMS names a file the folder does not hold
    };
    Kind kind = None;
    // CannotOpen, CannotRead: the system's words; Unsendable: the listing's sentence;
    // ChecksumLineMalformed: the line's number; ChecksumNamesAbsentFile: the name
    QString reason;
    qint64 size = 0; // TooLarge: the file's size

    [[nodiscard]] bool exists() const { return kind != None; }
    // The run's status for the file at path, e.g. "Could not open file PATH: REASON".
    [[nodiscard]] QString status(const QString &path) const;
    // The listing's words for the file called name, e.g. "NAME is not a regular file".
    [[nodiscard]] QString note(const QString &name) const;
};

// Checks the file at path as a run finds it now: a regular file (after links), that opens, and
// no larger than one upload carries. Reads none of it.
Problem check(const QString &path);

// The bytes of one file, or the problem that keeps it from being sent.
struct Read
{
    std::shared_ptr<const QByteArray> bytes;
    Problem problem;
};
// The file's bytes, checked as check() does and never read past what one upload carries; a file
// that grows or shrinks while it is read is refused.
Read read(const QString &path);

// The SHA-256 of bytes, in lower-case hex as sha256sum writes it.
QString sha256Hex(const QByteArray &bytes);

// One image of a run, as read when the run started.
struct Image
{
    QString name; // as the folder lists it
    QString path;
    std::shared_ptr<const QByteArray> bytes; // empty when only the digest was kept
    QString sha256; // of bytes, in hex
    bool errorCountsAsTaken = false; // a primary image: an ERROR reply means the device has it
    qint64 byteCount = 0;

    [[nodiscard]] qint64 size() const { return byteCount; }
};

// The images of a run, in sending order: every one read once, or the reason the run must not
// start. Copied cheaply; the bytes are shared, held as long as any upload holds them.
struct ImageSet
{
    QList<Image> images; // when refused, those read before
    QString refusal; // the run's status naming the first file that stops it; empty when none
    QString refusalNote; // the same in the listing's words ("NAME is too large: ...")
    bool checksumsChecked = false; // the folder has a SHA256SUMS and every image matched it
    // What the technician should know beside the listing's warnings: empty primary images.
    QStringList warnings;

    [[nodiscard]] bool refused() const { return !refusal.isEmpty(); }
};

// How much of the images readImages holds: all of their bytes, or only their digests (for a
// listing, which shows them and sends nothing).
enum class Keep { Bytes, DigestsOnly };

// Reads the listed files of folder for one run: each is checked before any is read, so a file
// that could not go whole stops the run before a byte of it is read; then each is read and its
// SHA-256 taken, and compared with the folder's SHA256SUMS where there is one, which must be
// one that sha256sum -c accepts and name no file the folder lacks.
ImageSet readImages(const QString &folder, const FirmwareListing &listing, Keep keep = Keep::Bytes);

// The digests of a checksum list by file name, as "sha256sum -c" reads its lines; a name given
// two different digests maps to an empty one, which no file matches.
struct ChecksumList
{
    QHash<QString, QString> digests;
    int malformedLine = 0; // the first line sha256sum -c rejects, counted from 1; 0 when none
};
ChecksumList parseChecksumList(const QByteArray &text);

} // namespace Firmware
