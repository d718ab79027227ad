#include "fileselection.h"

#include "qtftp.h"

#include <QDebug>
#include <QDir>

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

void QTftp::buildFileList(const QUrl &filesFolder)
{
    fileList.clear();
    // A directory made from a path alone sorts by name, ignoring case.
    const QDir folder(filesFolder.toLocalFile());
    const QStringList listing = folder.entryList(QDir::Files, QDir::NoSort);
    appendMatches(primaryPatterns, listing, filesFolder, true);
    appendMatches(secondaryPatterns, listing, filesFolder, false);
    // Kept as they are, the fixed "dsda" included: technicians' and support's logs are compared
    // against these lines.
    qDebug() << fileList;
    qDebug() << "dsda";
}

void QTftp::appendMatches(const QList<QRegularExpression> &patterns, const QStringList &listing,
                          const QUrl &folder, bool recordErrorTolerant)
{
    for (const QRegularExpression &pattern : patterns) {
        const QStringList matches = listing.filter(pattern);
        for (const QString &name : matches) {
            if (recordErrorTolerant)
                errorTolerantFiles.append(name.toLower());
            fileList.append(firmwareEntry(folder, name));
        }
    }
}
