#include "firmwarefile.h"

#include "fileselection.h"
#include "packets.h"
#include "upload.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <algorithm>
#include <cctype>

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
    case Unsendable:
        return u"File %1 %2"_s.arg(path, reason);
    case ChecksumLineMalformed:
        return u"File %1 has a malformed line %2, which sha256sum -c rejects"_s.arg(path, reason);
    case ChecksumNamesAbsentFile:
        return u"File %1 names %2, which the folder does not hold"_s.arg(path, reason);
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
    case Unsendable:
        return u"%1 %2"_s.arg(name, reason);
    case ChecksumLineMalformed:
        return u"%1 line %2 is malformed: sha256sum -c rejects it"_s.arg(name, reason);
    case ChecksumNamesAbsentFile:
        return u"%1 names %2, which the folder does not hold"_s.arg(name, reason);
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

namespace {
// A name as sha256sum writes it on a line that starts with a backslash: "\\", "\n" and "\r"
// stand for those characters. False for any other escape.
bool unescape(QByteArray &name)
{
    QByteArray plain;
    for (qsizetype i = 0; i < name.size(); ++i) {
        if (name.at(i) != '\\') {
            plain += name.at(i);
            continue;
        }
        if (++i == name.size())
            return false;
        const char escaped = name.at(i);
        if (escaped != '\\' && escaped != 'n' && escaped != 'r')
            return false;
        plain += escaped == '\\' ? '\\' : escaped == 'n' ? '\n' : '\r';
    }
    name = plain;
    return true;
}

bool isDigest(const QByteArray &text)
{
    constexpr qsizetype digestLength = 64;
    return text.size() == digestLength
        && std::all_of(text.cbegin(), text.cend(), [](char c) { return std::isxdigit(uchar(c)); });
}

// One line of a checksum list: "DIGEST  NAME", "DIGEST *NAME" (binary mode), "DIGEST NAME", or
// the BSD form "SHA256 (NAME) = DIGEST"; a leading backslash marks an escaped name.
bool parseLine(QByteArray line, QByteArray &digest, QByteArray &name)
{
    constexpr qsizetype digestLength = 64;
    line = line.trimmed();
    const bool escaped = line.startsWith('\\');
    if (escaped)
        line.remove(0, 1);
    static const QByteArray tag = "SHA256";
    if (line.startsWith(tag) && !isDigest(line.first(qMin(line.size(), digestLength)))) {
        qsizetype open = tag.size();
        if (open < line.size() && line.at(open) == ' ')
            ++open;
        const qsizetype close = line.lastIndexOf(") = ");
        if (open >= line.size() || line.at(open) != '(' || close <= open)
            return false;
        name = line.mid(open + 1, close - open - 1);
        digest = line.mid(close + 4);
    } else {
        digest = line.first(qMin(line.size(), digestLength));
        if (line.size() < digestLength + 2 || line.at(digestLength) != ' ')
            return false;
        qsizetype start = digestLength + 1;
        if (line.at(start) == ' ' || line.at(start) == '*')
            ++start;
        name = line.mid(start);
    }
    return isDigest(digest) && !name.isEmpty() && (!escaped || unescape(name));
}
} // namespace

ChecksumList parseChecksumList(const QByteArray &text)
{
    ChecksumList list;
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.first().startsWith("\xEF\xBB\xBF")) // saved by a Windows editor
        lines.first().remove(0, 3);
    for (qsizetype number = 1; number <= lines.size(); ++number) {
        QByteArray line = lines.at(number - 1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        QByteArray digest, name;
        if (!parseLine(line, digest, name)) {
            if (list.malformedLine == 0)
                list.malformedLine = int(number);
            continue;
        }
        if (name.startsWith("./"))
            name.remove(0, 2);
        const QString fileName = QFile::decodeName(name);
        const QString hex = QString::fromLatin1(digest.toLower());
        const QString known = list.digests.value(fileName, hex);
        list.digests.insert(fileName, known == hex ? known : QString());
    }
    return list;
}

ImageSet readImages(const QString &folder, const FirmwareListing &listing, Keep keep)
{
    const QDir dir(folder);
    ImageSet set;
    if (!listing.folderProblem.isEmpty()) {
        set.refusal = u"Could not read the folder %1: %2"_s.arg(QDir::toNativeSeparators(folder),
                                                                listing.folderProblem);
        set.refusalNote = u"the folder cannot be read: %1"_s.arg(listing.folderProblem);
        return set;
    }
    for (const QString &name : listing.names) {
        Problem problem = check(dir.filePath(name));
        if (listing.unsendable.contains(name))
            problem = {Problem::Unsendable, listing.unsendable.value(name), 0};
        if (problem.exists())
            return refused(std::move(set), problem, dir.filePath(name), name);
    }
    // A link that leads nowhere is a checksum file that cannot be read, not a missing one.
    const QString checksumPath = dir.filePath(checksumFileName);
    const QFileInfo checksumFile(checksumPath);
    const bool checked = checksumFile.exists() || checksumFile.isSymLink();
    ChecksumList sums;
    if (checked) {
        const Read file = read(checksumPath);
        if (file.problem.exists())
            return refused(std::move(set), file.problem, checksumPath, checksumFileName);
        sums = parseChecksumList(*file.bytes);
        if (sums.malformedLine != 0)
            return refused(std::move(set),
                           {Problem::ChecksumLineMalformed, QString::number(sums.malformedLine), 0},
                           checksumPath, checksumFileName);
        // sha256sum -c fails on a listed file that is not there: an image is missing.
        for (auto line = sums.digests.cbegin(); line != sums.digests.cend(); ++line) {
            const QFileInfo named(dir.filePath(line.key()));
            if (!named.exists() && !named.isSymLink())
                return refused(std::move(set), {Problem::ChecksumNamesAbsentFile, line.key(), 0},
                               checksumPath, checksumFileName);
        }
    }
    for (const QString &name : listing.names) {
        const QString path = dir.filePath(name);
        Image image {name, path, nullptr, {}, listing.primaryNames.contains(name)};
        if (keep == Keep::Bytes) {
            Read file = read(path);
            if (file.problem.exists())
                return refused(std::move(set), file.problem, path, name);
            image.sha256 = sha256Hex(*file.bytes);
            image.byteCount = file.bytes->size();
            image.bytes = std::move(file.bytes);
        } else {
            // A listing shows the digests and sends nothing: the bytes go through a small buffer.
            QFile file(path);
            if (const Problem problem = open(file); problem.exists())
                return refused(std::move(set), problem, path, name);
            QCryptographicHash hash(QCryptographicHash::Sha256);
            if (!hash.addData(&file) || file.error() != QFileDevice::NoError)
                return refused(std::move(set), {Problem::CannotRead, file.errorString(), 0}, path,
                               name);
            image.sha256 = QString::fromLatin1(hash.result().toHex());
            image.bytes = std::make_shared<const QByteArray>();
            image.byteCount = file.size();
        }
        if (image.errorCountsAsTaken && image.size() == 0)
            set.warnings.append(u"%1 is empty, and a device that answers it with an ERROR is "
                                "taken to have it"_s.arg(name));
        set.images.append(std::move(image));
    }
    // Every image read, so that a listing can show each one's digest beside the refusal.
    for (const Image &image : std::as_const(set.images)) {
        if (checked && !sums.digests.contains(image.name))
            return refused(std::move(set), {Problem::NoChecksum, {}, 0}, image.path, image.name);
        if (checked && sums.digests.value(image.name) != image.sha256)
            return refused(std::move(set), {Problem::ChecksumMismatch, {}, 0}, image.path,
                           image.name);
    }
    set.checksumsChecked = checked;
    return set;
}

} // namespace Firmware
