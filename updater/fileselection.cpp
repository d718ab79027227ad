#include "fileselection.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

#include <algorithm>

#ifdef Q_OS_UNIX
#    include <dirent.h>

#    include <cerrno>
#    include <cstring>
#    include <memory>
#endif

using namespace Qt::StringLiterals;

namespace {
QList<QRegularExpression> compiled(const QStringList &patterns)
{
    QList<QRegularExpression> expressions;
    for (const QString &pattern : patterns)
        expressions.append(QRegularExpression(pattern, QRegularExpression::NoPatternOption));
    return expressions;
}
} // namespace

// Matched anywhere in a name, letter case counting; the capture groups are not used.
namespace FirmwareNames {
const QList<QRegularExpression> primaryPatterns = compiled({
    u"(738[0-2]-X-v).*(\\.bin)"_s,
    u"(738[0-2]-v).*(\\.bin)"_s,
});
const QList<QRegularExpression> secondaryPatterns = compiled({
    u"(738[0-2]KD-v).*(\\.bin)"_s,
    u"(738[0-2]KF-v).*(\\.bin)"_s,
    u"(738[0-2]KH-v).*(\\.bin)"_s,
    u"(738[0-2]KM-v).*(\\.bin)"_s,
    u"(738[0-2]KN-v).*(\\.bin)"_s,
    u"(738[0-2]KP-v).*(\\.bin)"_s,
    u"(738[0-2]KS-v).*(\\.bin)"_s,
    u"(746[15]-v).*(\\.bin)"_s,
});
} // namespace FirmwareNames

namespace {
// Each pattern's matches in listing order, pattern after pattern; a name two patterns match
// is taken twice.
void appendMatches(const QList<QRegularExpression> &patterns, const QStringList &listing,
                   QStringList &names)
{
    for (const QRegularExpression &pattern : patterns)
        names += listing.filter(pattern);
}

// The name of the image that name looks like a copy of: cut after ".bin" ("7380-v1.bin.bak"),
// without the marks file managers add to a copy ("7380-v1 Kopie.bin", "7380-v1 - Copy (2).bin",
// "Copy of 7380-v1.bin").
QString originalName(const QString &name)
{
    static const QRegularExpression trailingMark(
        u"(\\s*\\(\\d+\\)|[\\s_-]+(copy|kopie|copie|copia|kopia))$"_s,
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression leadingMark(u"^(copy of|kopie von)\\s+"_s,
                                                QRegularExpression::CaseInsensitiveOption);
    QString stem = name.left(name.indexOf(u".bin"_s));
    for (qsizetype length = -1; length != stem.size();) {
        length = stem.size();
        stem.remove(trailingMark).remove(leadingMark);
    }
    return stem;
}

// The names grouped by key, in sending order; only the groups of more than one name.
template<typename Key> QList<QStringList> groupsOf(const QStringList &names, Key key)
{
    QHash<QString, QStringList> byKey;
    QStringList keys; // in sending order
    for (const QString &name : names) {
        const QString groupKey = key(name);
        if (groupKey.isEmpty())
            continue;
        QStringList &group = byKey[groupKey];
        if (group.isEmpty())
            keys.append(groupKey);
        if (!group.contains(name))
            group.append(name);
    }
    QList<QStringList> groups;
    for (const QString &groupKey : std::as_const(keys)) {
        if (byKey.value(groupKey).size() > 1)
            groups.append(byKey.value(groupKey));
    }
    return groups;
}

// The pattern and model a firmware name is an image of ("7380-X-v" of "7380-X-v2.bin"): two
// names of one model that are no copies of one image are two versions of it.
QString modelOf(const QString &name)
{
    const QList<QRegularExpression> *lists[]
        = {&FirmwareNames::primaryPatterns, &FirmwareNames::secondaryPatterns};
    for (const QList<QRegularExpression> *patterns : lists) {
        for (const QRegularExpression &pattern : *patterns) {
            if (const QRegularExpressionMatch match = pattern.match(name); match.hasMatch())
                return match.captured(1);
        }
    }
    return {};
}

// Versions of one model, unless all of them are copies of one image (which copyGroups names).
QList<QStringList> versionGroups(const QStringList &names)
{
    QList<QStringList> groups;
    for (const QStringList &group : groupsOf(names, modelOf)) {
        QSet<QString> originals;
        for (const QString &name : group)
            originals.insert(originalName(name));
        if (originals.size() > 1)
            groups.append(group);
    }
    return groups;
}

// A checksum list that a run does not read: sha256sum's output saved under another name.
bool looksLikeChecksumList(const QString &name)
{
    const QString lower = name.toLower();
    return name != Firmware::checksumFileName
        && (lower.startsWith(u"sha256sum"_s) || lower.endsWith(u".sha256"_s)
            || lower.endsWith(u".sha256sum"_s) || lower.endsWith(u".sha256sums"_s));
}

// Why an entry of the folder cannot be sent whole, found without opening it (a FIFO would block
// the opener); empty for a regular file or a link to one.
QString entryProblem(const QFileInfo &entry)
{
    if (entry.isSymLink() && !entry.exists())
        return u"is a link that leads nowhere"_s;
    if (entry.isDir())
        return u"is a link to a folder"_s;
    if (!entry.isFile())
        return u"is not a regular file"_s;
    return {};
}

#ifdef Q_OS_UNIX
// The folder's names that are not valid text in the system's encoding, which Qt's listing leaves
// out; escaped ("7380-v1\xff.bin"), so that they can be named. Empty with the reason when the
// folder cannot be read.
QStringList undecodableNames(const QString &folder, QString &problem)
{
    const std::unique_ptr<DIR, int (*)(DIR *)> dir(opendir(QFile::encodeName(folder).constData()),
                                                   closedir);
    if (!dir) {
        problem = QString::fromLocal8Bit(std::strerror(errno));
        return {};
    }
    QStringList names;
    while (const dirent *entry = readdir(dir.get())) {
        const QByteArray raw(entry->d_name);
        if (raw.startsWith('.') || QFile::encodeName(QFile::decodeName(raw)) == raw)
            continue;
        QString escaped;
        for (const char byte : raw) {
            const auto value = uchar(byte);
            escaped += value >= 0x20 && value < 0x7f
                ? QString(QLatin1Char(char(value)))
                : u"\\x%1"_s.arg(uint(value), 2, 16, QChar(u'0'));
        }
        names.append(escaped);
    }
    return names;
}
#else
QStringList undecodableNames(const QString &folder, QString &problem)
{
    // Windows names are UTF-16 and always decode; only whether the folder can be read is left.
    if (!QFileInfo(folder).isReadable())
        problem = u"Permission denied"_s;
    return {};
}
#endif
} // namespace

FirmwareListing listFirmware(const QString &folder)
{
    FirmwareListing found;
    const QDir dir(folder);
    QStringList undecodable = undecodableNames(folder, found.folderProblem);
    if (!found.folderProblem.isEmpty())
        return found;
    // Despite its name, QDir::NoSort here means the QDir's own sort, and a QDir made from a path
    // alone sorts by name, ignoring case (QDir::Name | QDir::IgnoreCase): the sending order.
    // System lists links that lead nowhere, FIFOs and devices; folders are taken only through
    // a link, which a technician may have meant for an image.
    QStringList listing;
    const QFileInfoList entries
        = dir.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    QHash<QString, QString> problems;
    for (const QFileInfo &entry : entries) {
        if (entry.isDir() && !entry.isSymLink())
            continue;
        listing.append(entry.fileName());
        if (const QString problem = entryProblem(entry); !problem.isEmpty())
            problems.insert(entry.fileName(), problem);
    }
    // Placed where the listing's order puts them, so that they do not move the others.
    for (const QString &name : std::as_const(undecodable)) {
        const auto after
            = std::find_if(listing.cbegin(), listing.cend(), [&](const QString &other) {
                  return other.compare(name, Qt::CaseInsensitive) > 0;
              });
        listing.insert(after - listing.cbegin(), name);
        problems.insert(name, u"has a name that is not valid text, shown here escaped"_s);
    }
    appendMatches(FirmwareNames::primaryPatterns, listing, found.names);
    for (const QString &name : std::as_const(found.names))
        found.primaryNames.insert(name);
    appendMatches(FirmwareNames::secondaryPatterns, listing, found.names);
    for (const QString &name : std::as_const(found.names)) {
        if (problems.contains(name))
            found.unsendable.insert(name, problems.value(name));
    }
    // The patterns count letter case; an image named "7380-V1.BIN" is the likely slip.
    for (const QString &name : std::as_const(listing)) {
        if (name.endsWith(u".bin"_s, Qt::CaseInsensitive) && !found.names.contains(name))
            found.unmatched.append(name);
        if (looksLikeChecksumList(name))
            found.unreadChecksumFiles.append(name);
    }
    found.copies = groupsOf(found.names, originalName);
    found.versions = versionGroups(found.names);
    return found;
}

QString firmwareEntry(const QUrl &folder, const QString &fileName)
{
    // QUrl knows which characters a path must carry encoded; a name never holds "/".
    QUrl nameOnly;
    nameOnly.setPath(u'/' + fileName, QUrl::DecodedMode);
    return folder.toString() + nameOnly.toString();
}

QString counted(qsizetype count, const QString &noun)
{
    return u"%1 %2%3"_s.arg(QString::number(count), noun, count == 1 ? QString() : u"s"_s);
}

QString unmatchedText(const QStringList &unmatched, qsizetype namesShown)
{
    if (unmatched.isEmpty())
        return {};
    QString shown = unmatched.first(qMin(unmatched.size(), namesShown)).join(u", "_s);
    if (unmatched.size() > namesShown)
        shown += u" and %1 more"_s.arg(unmatched.size() - namesShown);
    return u"%1 %2 no firmware name and will not be sent: %3"_s.arg(
        counted(unmatched.size(), u".bin file"_s),
        unmatched.size() == 1 ? u"matches"_s : u"match"_s, shown);
}

QString copiesText(const QStringList &copies)
{
    const QString names
        = copies.first(copies.size() - 1).join(u", "_s) + u" and "_s + copies.constLast();
    return u"%1 look like copies of one image; %2 sent, in this order"_s.arg(
        names, copies.size() == 2 ? u"both are"_s : u"all %1 are"_s.arg(copies.size()));
}

QString versionsText(const QStringList &versions)
{
    const QString names
        = versions.first(versions.size() - 1).join(u", "_s) + u" and "_s + versions.constLast();
    return u"%1 are versions of one image; %2 sent, in this order, and the transmitter keeps %3"_s
        .arg(names, versions.size() == 2 ? u"both are"_s : u"all %1 are"_s.arg(versions.size()),
             versions.constLast());
}

QStringList FirmwareListing::warnings(qsizetype namesShown) const
{
    QStringList texts;
    for (const QStringList &group : copies)
        texts.append(copiesText(group));
    for (const QStringList &group : versions)
        texts.append(versionsText(group));
    if (!unmatched.isEmpty())
        texts.append(unmatchedText(unmatched, namesShown));
    for (const QString &name : unreadChecksumFiles)
        texts.append(u"%1 is not read: only a file named %2 is checked"_s.arg(
            name, Firmware::checksumFileName));
    return texts;
}
