#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

// The firmware files of a run as the disk holds them: whether each can go out whole in one
// upload, and their bytes, read once and shared by every upload of them in flight.
namespace Firmware {

// Why a file cannot be sent whole.
struct Problem
{
    enum Kind { None, CannotOpen, CannotRead, NotRegularFile, TooLarge };
    Kind kind = None;
    QString reason; // CannotOpen, CannotRead: the system's words
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

// The bytes of the file at path, or the problem that keeps it from being sent.
struct Image
{
    std::shared_ptr<const QByteArray> bytes;
    Problem problem;
};

// The file's bytes, checked as check() does and never read past what one upload carries. While
// an earlier read of the same unchanged file is still held by an upload, its bytes are shared
// instead of read again: a fleet holds one copy of each image, not one per transmitter. A file
// that changed since is read anew.
Image load(const QString &path);

} // namespace Firmware
