#include "fileselection.h"

#include "firmwarefile.h"
#include "qtftp.h"
#include "updaterlog.h"

#include <QDir>
#include <QFileInfo>

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

QString firmwareEntry(const QUrl &folder, const QString &fileName)
{
    // QUrl knows which characters a path must carry encoded; a name never holds "/".
    QUrl nameOnly;
    nameOnly.setPath(u'/' + fileName, QUrl::DecodedMode);
    return folder.toString() + nameOnly.toString();
}

namespace {
// How many left-out names the status line spells out before it counts the rest.
constexpr qsizetype unmatchedNamesShown = 3;

// What the status line says after a listing: what a run will send, what would stop it, and which
// images it will leave out, so that neither a bad nor a misnamed image goes unnoticed.
QString listingSummary(const QStringList &names, const QString &folder, const QString &stopper,
                       const QStringList &unmatched)
{
    QString summary;
    if (names.isEmpty())
        summary = u"No firmware files in %1"_s.arg(folder);
    else if (names.size() == 1)
        summary = u"Ready to send 1 firmware file: %1"_s.arg(names.first());
    else
        summary = u"Ready to send %1 firmware files: %2"_s.arg(QString::number(names.size()),
                                                               names.join(u", "_s));
    if (!stopper.isEmpty())
        summary += u"; %1, so a run will send nothing"_s.arg(stopper);
    if (unmatched.isEmpty())
        return summary;
    QString shown = unmatched.first(qMin(unmatched.size(), unmatchedNamesShown)).join(u", "_s);
    if (unmatched.size() > unmatchedNamesShown)
        shown += u" and %1 more"_s.arg(unmatched.size() - unmatchedNamesShown);
    if (unmatched.size() == 1)
        return summary
            + u"; 1 .bin file matches no firmware name and will not be sent: %1"_s.arg(shown);
    return summary
        + u"; %1 .bin files match no firmware name and will not be sent: %2"_s.arg(
            QString::number(unmatched.size()), shown);
}
} // namespace

void QTftp::buildFileList(const QUrl &filesFolder)
{
    fileList.clear();
    listedFolder = filesFolder;
    // A directory made from a path alone sorts by name, ignoring case.
    const QDir folder(filesFolder.toLocalFile());
    const QStringList listing = folder.entryList(QDir::Files, QDir::NoSort);
    QStringList names;
    appendMatches(primaryPatterns, listing, filesFolder, true, names);
    appendMatches(secondaryPatterns, listing, filesFolder, false, names);
    // Kept as they are, the fixed "dsda" included: technicians' and support's logs are compared
    // against these lines.
    qCDebug(updaterLog) << fileList;
    qCDebug(updaterLog) << "dsda";
    // The patterns count letter case; an image named "7380-V1.BIN" is the likely slip.
    m_unmatchedImages.clear();
    for (const QString &name : listing) {
        if (name.endsWith(u".bin"_s, Qt::CaseInsensitive) && !names.contains(name))
            m_unmatchedImages.append(name);
    }
    // The first file that would stop a run, named as the listing names it.
    Firmware::Problem problem;
    const qsizetype stopping = firstUnsendableFile(problem);
    const QString stopper = stopping < 0 ? QString() : problem.note(names.at(stopping));
    // A mistyped path from a dialog is no folder at all, not an empty one.
    setStatus(folderExists(listedFolder)
                  ? listingSummary(names, displayPath(listedFolder), stopper, m_unmatchedImages)
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

void QTftp::appendMatches(const QList<QRegularExpression> &patterns, const QStringList &listing,
                          const QUrl &folder, bool recordErrorTolerant, QStringList &names)
{
    for (const QRegularExpression &pattern : patterns) {
        const QStringList matches = listing.filter(pattern);
        for (const QString &name : matches) {
            if (recordErrorTolerant)
                errorTolerantFiles.append(name.toLower());
            fileList.append(firmwareEntry(folder, name));
            names.append(name);
        }
    }
}
