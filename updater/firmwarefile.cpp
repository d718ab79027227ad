#include "firmwarefile.h"

#include "packets.h"
#include "upload.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

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
    case NoChecksum:
        return u"File %1 has no line in %2"_s.arg(path, checksumFileName);
    case ChecksumMismatch:
        return u"File %1 does not match its line in %2"_s.arg(path, checksumFileName);
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
    case NoChecksum:
        return u"%1 has no line in %2"_s.arg(name, checksumFileName);
    case ChecksumMismatch:
        return u"%1 does not match its line in %2"_s.arg(name, checksumFileName);
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

// The digests of a SHA256SUMS file by file name, read as "sha256sum -c" reads its lines:
// "DIGEST  NAME" or "DIGEST *NAME" (binary mode), a leading backslash marking a name with "\\"
// and "\n" escaped. Other lines are skipped, as sha256sum -c skips them. A name given two
// different digests maps to an empty one, which no file matches.
QHash<QString, QString> checksums(const QByteArray &text)
{
    constexpr qsizetype digestLength = 64;
    QHash<QString, QString> digests;
    for (QByteArray line : text.split('\n')) {
        if (line.endsWith('\r')) // written on Windows
            line.chop(1);
        const bool escaped = line.startsWith('\\');
        if (escaped)
            line.remove(0, 1);
        if (line.size() <= digestLength + 2 || line.at(digestLength) != ' '
            || (line.at(digestLength + 1) != ' ' && line.at(digestLength + 1) != '*'))
            continue;
        const QByteArray digest = line.first(digestLength).toLower();
        if (QByteArray::fromHex(digest).toHex() != digest)
            continue;
        QByteArray name = line.mid(digestLength + 2);
        if (escaped)
            name.replace("\\n", "\n").replace("\\\\", "\\");
        if (name.startsWith("./"))
            name.remove(0, 2);
        const QString fileName = QFile::decodeName(name);
        const QString known = digests.value(fileName, QString::fromLatin1(digest));
        digests.insert(fileName, known == QLatin1StringView(digest) ? known : QString());
    }
    return digests;
}

ImageSet refused(ImageSet &&set, const Problem &problem, const QString &path, const QString &name)
{
    set.refusal = problem.status(path);
    set.refusalNote = problem.note(name);
    return std::move(set);
}
} // namespace

Problem check(const QString &path)
{
    QFile file(path);
    return open(file);
}

Read read(const QString &path)
{
    QFile file(path);
    if (const Problem problem = open(file); problem.exists())
        return {nullptr, problem};
    // The size is known and bounded: read exactly that much, then make sure nothing followed.
    const qint64 size = file.size();
    QByteArray bytes(size, Qt::Uninitialized);
    const qint64 got = file.read(bytes.data(), size);
    char more = 0;
    if (got != size || file.read(&more, 1) != 0) {
        const QString reason = got < 0 || file.error() != QFileDevice::NoError
            ? file.errorString()
            : u"it changed while it was read"_s;
        return {nullptr, {Problem::CannotRead, reason, 0}};
    }
    return {std::make_shared<const QByteArray>(std::move(bytes)), {}};
}

QString sha256Hex(const QByteArray &bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
}

ImageSet readImages(const QString &folder, const QStringList &names)
{
    const QDir dir(folder);
    ImageSet set;
    for (const QString &name : names) {
        if (const Problem problem = check(dir.filePath(name)); problem.exists())
            return refused(std::move(set), problem, dir.filePath(name), name);
    }
    // A link that leads nowhere is a checksum file that cannot be read, not a missing one.
    const QString checksumPath = dir.filePath(checksumFileName);
    const QFileInfo checksumFile(checksumPath);
    const bool checked = checksumFile.exists() || checksumFile.isSymLink();
    QHash<QString, QString> digests;
    if (checked) {
        const Read sums = read(checksumPath);
        if (sums.problem.exists())
            return refused(std::move(set), sums.problem, checksumPath, checksumFileName);
        digests = checksums(*sums.bytes);
    }
    for (const QString &name : names) {
        const QString path = dir.filePath(name);
        Read file = read(path);
        if (file.problem.exists())
            return refused(std::move(set), file.problem, path, name);
        QString sha256 = sha256Hex(*file.bytes);
        set.images.append({name, path, std::move(file.bytes), std::move(sha256)});
    }
    // Every image read, so that a listing can show each one's digest beside the refusal.
    for (const Image &image : std::as_const(set.images)) {
        if (checked && !digests.contains(image.name))
            return refused(std::move(set), {Problem::NoChecksum, {}, 0}, image.path, image.name);
        if (checked && digests.value(image.name) != image.sha256)
            return refused(std::move(set), {Problem::ChecksumMismatch, {}, 0}, image.path,
                           image.name);
    }
    return set;
}

} // namespace Firmware
