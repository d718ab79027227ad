#include "fileselection.h"

#include "firmwarefile.h"
#include "qtftp.h"
#include "updaterlog.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>

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
const QList<QRegularExpression> QTftp::primaryPatterns = compiled({
    u"(738[0-2]-X-v).*(\\.bin)"_s,
    u"(738[0-2]-v).*(\\.bin)"_s,
});
const QList<QRegularExpression> QTftp::secondaryPatterns = compiled({
    u"(738[0-2]KD-v).*(\\.bin)"_s,
    u"(738[0-2]KF-v).*(\\.bin)"_s,
    u"(738[0-2]KH-v).*(\\.bin)"_s,
    u"(738[0-2]KM-v).*(\\.bin)"_s,
    u"(738[0-2]KN-v).*(\\.bin)"_s,
    u"(738[0-2]KP-v).*(\\.bin)"_s,
    u"(738[0-2]KS-v).*(\\.bin)"_s,
    u"(746[15]-v).*(\\.bin)"_s,
});
// Kept as it is: appended to by every listing and never cleared, so a primary image listed
// earlier in the session stays tolerated. Uploads read it on the pool thread without a lock, which
// is safe because listings happen only between runs.
QStringList QTftp::errorTolerantFiles;

namespace {
// Each pattern's matches in listing order, pattern after pattern; a name two patterns match
// is taken twice.
void appendMatches(const QList<QRegularExpression> &patterns, const QStringList &listing,
                   bool recordErrorTolerant, QStringList &names)
{
    for (const QRegularExpression &pattern : patterns) {
        const QStringList matches = listing.filter(pattern);
        for (const QString &name : matches) {
            if (recordErrorTolerant)
                QTftp::errorTolerantFiles.append(name.toLower());
            names.append(name);
        }
    }
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

QList<QStringList> copyGroups(const QStringList &names)
{
    QHash<QString, QStringList> byOriginal;
    QStringList originals; // in sending order
    for (const QString &name : names) {
        QStringList &group = byOriginal[originalName(name)];
        if (group.isEmpty())
            originals.append(originalName(name));
        if (!group.contains(name))
            group.append(name);
    }
    QList<QStringList> groups;
    for (const QString &original : std::as_const(originals)) {
        if (byOriginal.value(original).size() > 1)
            groups.append(byOriginal.value(original));
    }
    return groups;
}
} // namespace

FirmwareListing listFirmware(const QString &folder)
{
    // Despite its name, QDir::NoSort here means the QDir's own sort, and a QDir made from a path
    // alone sorts by name, ignoring case (QDir::Name | QDir::IgnoreCase): the sending order.
    const QStringList listing = QDir(folder).entryList(QDir::Files, QDir::NoSort);
    FirmwareListing found;
    appendMatches(QTftp::primaryPatterns, listing, true, found.names);
    appendMatches(QTftp::secondaryPatterns, listing, false, found.names);
    // The patterns count letter case; an image named "7380-V1.BIN" is the likely slip.
    for (const QString &name : listing) {
        if (name.endsWith(u".bin"_s, Qt::CaseInsensitive) && !found.names.contains(name))
            found.unmatched.append(name);
    }
    found.copies = copyGroups(found.names);
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

namespace {
// How many left-out names the status line spells out before it counts the rest.
constexpr qsizetype unmatchedNamesShown = 3;

// What the status line says after a listing: what a run will send, what would stop it, and which
// images it will leave out or send twice over, so that neither a bad, a misnamed nor a copied
// image goes unnoticed.
QString listingSummary(const FirmwareListing &listing, const QString &folder,
                       const QString &stopper)
{
    const QStringList &names = listing.names;
    QString summary;
    if (names.isEmpty())
        summary = u"No firmware files in %1"_s.arg(folder);
    else
        summary = u"Ready to send %1: %2"_s.arg(counted(names.size(), u"firmware file"_s),
                                                names.join(u", "_s));
    if (!stopper.isEmpty())
        summary += u"; %1, so a run will send nothing"_s.arg(stopper);
    for (const QStringList &copies : listing.copies)
        summary += u"; "_s + copiesText(copies);
    if (!listing.unmatched.isEmpty())
        summary += u"; "_s + unmatchedText(listing.unmatched, unmatchedNamesShown);
    return summary;
}
} // namespace

void QTftp::buildFileList(const QUrl &filesFolder)
{
    listedFolder = filesFolder;
    const FirmwareListing listing = listFirmware(filesFolder.toLocalFile());
    fileList.clear();
    for (const QString &name : listing.names)
        fileList.append(firmwareEntry(filesFolder, name));
    // Kept as they are, the fixed "dsda" included: technicians' and support's logs are compared
    // against these lines.
    qCDebug(updaterLog) << fileList;
    qCDebug(updaterLog) << "dsda";
    m_listedNames = listing.names;
    m_unmatchedImages = listing.unmatched;
    // Read as a run would read them: what would stop it, and the digests the window may show.
    const Firmware::ImageSet images
        = Firmware::readImages(filesFolder.toLocalFile(), listing.names);
    m_listedDigests.clear();
    for (const Firmware::Image &image : images.images)
        m_listedDigests.insert(image.name, image.sha256);
    // A mistyped path from a dialog is no folder at all, not an empty one.
    setStatus(folderExists(listedFolder)
                  ? listingSummary(listing, displayPath(listedFolder), images.refusalNote)
                  : u"There is no folder %1"_s.arg(displayPath(listedFolder)));
    setRunText({});
    setRunState(Idle);
}

bool QTftp::folderExists(const QUrl &folder)
{
    return folder.isLocalFile() && QFileInfo(folder.toLocalFile()).isDir();
}

QString QTftp::displayPath(const QUrl &folder)
{
    return folder.isLocalFile() ? QDir::toNativeSeparators(folder.toLocalFile())
                                : folder.toString();
}

QString QTftp::imageSha256(const QString &fileName) const
{
    for (const Firmware::Image &image : m_runImages.images) {
        if (image.name == fileName)
            return image.sha256;
    }
    return m_listedDigests.value(fileName);
}
