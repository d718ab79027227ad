#include "firmwarefile.h"

#include "packets.h"
#include "upload.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>

using namespace Qt::StringLiterals;

namespace Firmware {

QString Problem::status(const QString &path) const
{
    switch (kind) {
    case CannotOpen:
        return u"Could not open file %1: %2"_s.arg(path, reason);
    case CannotRead:
        return u"Could not read file %1: %2"_s.arg(path, reason);
    case NotRegularFile:
        return u"File %1 is not a regular file"_s.arg(path);
    case TooLarge:
        return Tftp::Upload::tooLargeText(u"File "_s + path, size);
    case None:
        break;
    }
    return {};
}

QString Problem::note(const QString &name) const
{
    switch (kind) {
    case CannotOpen:
        return u"%1 cannot be opened: %2"_s.arg(name, reason);
    case CannotRead:
        return u"%1 cannot be read: %2"_s.arg(name, reason);
    case NotRegularFile:
        return u"%1 is not a regular file"_s.arg(name);
    case TooLarge:
        return Tftp::Upload::tooLargeText(name, size);
    case None:
        break;
    }
    return {};
}

namespace {
// Opens file for reading if it is a regular file that one upload can carry.
Problem open(QFile &file)
{
    // Opening a FIFO would block until someone writes to it: look before opening.
    const QFileInfo info(file.fileName());
    if (info.exists() && !info.isFile())
        return {Problem::NotRegularFile, {}, 0};
    if (!file.open(QIODevice::ReadOnly))
        return {Problem::CannotOpen, file.errorString(), 0};
    if (file.isSequential()) // replaced by a device or a FIFO since the look
        return {Problem::NotRegularFile, {}, 0};
    if (file.size() > Tftp::maxFileSize)
        return {Problem::TooLarge, {}, file.size()};
    return {};
}

// What tells one state of a file's contents from another, read from the open file.
struct Version
{
    qint64 size = 0;
    QDateTime modified;
    QDateTime changed; // metadata: also moves when the file is replaced or touched

    explicit Version(const QFile &file)
        : size(file.size())
        , modified(file.fileTime(QFileDevice::FileModificationTime))
        , changed(file.fileTime(QFileDevice::FileMetadataChangeTime))
    { }
    bool operator==(const Version &) const = default;
};

struct Shared
{
    Version version;
    std::weak_ptr<const QByteArray> bytes;
};

// The images that uploads hold, by path. An entry outlives its bytes by a little: it is dropped
// at the next load once no upload holds them.
QMutex sharedLock;
QHash<QString, Shared> sharedImages;
} // namespace

Problem check(const QString &path)
{
    QFile file(path);
    return open(file);
}

Image load(const QString &path)
{
    QFile file(path);
    if (const Problem problem = open(file); problem.exists())
        return {nullptr, problem};
    const Version version(file);
    {
        const QMutexLocker locker(&sharedLock);
        sharedImages.removeIf([](const auto &entry) { return entry.value().bytes.expired(); });
        const auto found = sharedImages.constFind(path);
        if (found != sharedImages.cend() && found->version == version) {
            if (auto bytes = found->bytes.lock())
                return {std::move(bytes), {}};
        }
    }

    // The size is known and bounded: read exactly that much, then make sure nothing followed.
    QByteArray bytes(version.size, Qt::Uninitialized);
    const qint64 read = file.read(bytes.data(), version.size);
    char more = 0;
    if (read != version.size || file.read(&more, 1) != 0) {
        const QString reason = read < 0 || file.error() != QFileDevice::NoError
            ? file.errorString()
            : u"it changed while it was read"_s;
        return {nullptr, {Problem::CannotRead, reason, 0}};
    }
    auto shared = std::make_shared<const QByteArray>(std::move(bytes));
    const QMutexLocker locker(&sharedLock);
    sharedImages.insert(path, {version, shared});
    return {std::move(shared), {}};
}

} // namespace Firmware
