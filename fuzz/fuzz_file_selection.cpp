// Lists a folder of files with arbitrary names and checks the firmware list: every entry parses
// back to a file that exists and was listed, the entries follow the order of the name patterns,
// each pattern lists every file it matches once, and the error-tolerant names are the primary
// matches. The input is the file names separated by "/", which no name can hold.
#include "qtftp.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QUrl>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

using namespace Qt::StringLiterals;

namespace {
constexpr int maxFiles = 8;
constexpr qsizetype maxNameBytes = 255; // what a Linux file system holds

struct Harness
{
    std::unique_ptr<QCoreApplication> app;
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<QTftp> updater;
};
Harness *harness = nullptr;

[[noreturn]] void fail(const char *what, const QString &detail)
{
    std::fprintf(stderr, "invariant failed: %s\n  %s\n", what, qPrintable(detail));
    std::abort();
}

bool matches(const QRegularExpression &pattern, const QString &name)
{
    return pattern.match(name).hasMatch();
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    harness = new Harness; // lives until the process ends; its folder goes at exit
    std::atexit([] { harness->folder.reset(); });
    harness->app = std::make_unique<QCoreApplication>(*argc, *argv);
    harness->folder = std::make_unique<QTemporaryDir>();
    if (!harness->folder->isValid())
        fail("temporary folder", harness->folder->errorString());
    harness->updater = std::make_unique<QTftp>();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString folderPath = harness->folder->path();
    QDir folder(folderPath);
    // By full path: QDir::remove would take a name starting with ":" for a resource path.
    for (const QString &old : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!QFile::remove(folderPath + u'/' + old))
            fail("cannot remove an old test file", old);
    }

    QSet<QString> created;
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    for (const QByteArray &piece : input.split('/')) {
        if (created.size() == maxFiles)
            break;
        const QString name = QString::fromUtf8(piece);
        if (name.isEmpty() || name == u"."_s || name == u".."_s || name.contains(QChar(0))
            || QFile::encodeName(name).size() > maxNameBytes)
            continue;
        QFile file(folderPath + u'/' + name);
        if (!file.open(QIODevice::WriteOnly))
            fail("cannot create a test file", name + u": "_s + file.errorString());
        created.insert(name);
    }
    // A name starting with "." is a hidden file, which the listing leaves out.
    QSet<QString> listed;
    for (const QString &name : created) {
        if (!name.startsWith(u'.'))
            listed.insert(name);
    }

    QTftp::errorTolerantFiles.clear(); // program-wide; starts empty in each run of the program
    harness->updater->buildFileList(QUrl::fromLocalFile(folderPath));
    const QStringList entries = harness->updater->firmwareList();

    QList<QRegularExpression> patterns = QTftp::primaryPatterns;
    patterns.append(QTftp::secondaryPatterns);

    // Each entry is one of the files, parsed back exactly.
    QStringList names;
    for (const QString &entry : entries) {
        const QUrl url(entry, QUrl::TolerantMode);
        const QString name = url.fileName(QUrl::FullyDecoded);
        if (!listed.contains(name))
            fail("entry names no listed file", entry);
        if (url.toLocalFile() != folderPath + u'/' + name)
            fail("entry's local path is not the file's path",
                 entry + u" -> "_s + url.toLocalFile());
        if (!QFile::exists(url.toLocalFile()))
            fail("entry's file does not exist", entry);
        names.append(name);
    }

    // The entries come pattern by pattern, in the patterns' order; within one pattern in the
    // folder's name order, each matching file once.
    qsizetype at = 0;
    QStringList expectedTolerant;
    for (qsizetype p = 0; p < patterns.size(); ++p) {
        qsizetype matching = 0;
        for (const QString &name : listed)
            matching += matches(patterns[p], name) ? 1 : 0;
        if (at + matching > names.size())
            fail("fewer entries than matching files", entries.join(u'|'));
        for (qsizetype i = at; i < at + matching; ++i) {
            if (!matches(patterns[p], names[i]))
                fail("entry out of pattern order", entries.join(u'|'));
            if (i > at && names[i - 1].compare(names[i], Qt::CaseInsensitive) > 0)
                fail("entries of one pattern out of name order", entries.join(u'|'));
            if (i > at && names[i - 1] == names[i])
                fail("file listed twice by one pattern", entries.join(u'|'));
            if (p < QTftp::primaryPatterns.size())
                expectedTolerant.append(names[i].toLower());
        }
        at += matching;
    }
    if (at != names.size())
        fail("more entries than matching files", entries.join(u'|'));
    if (QTftp::errorTolerantFiles != expectedTolerant)
        fail("error-tolerant names are not the primary matches",
             QTftp::errorTolerantFiles.join(u'|'));
    return 0;
}
