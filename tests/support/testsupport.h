#pragma once

// Helpers shared by the test programs: test data, folders of files, settings isolation and one
// upload run on the thread pool as a run does it.

#include "qtftp.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFutureWatcher>
#include <QHash>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

// Fails the test with the text when expression, a QString that is empty on success, is not empty.
#define CHECK_OK(expression)                                                                       \
    do {                                                                                           \
        const QString failure_ = (expression);                                                     \
        QVERIFY2(failure_.isEmpty(), qPrintable(failure_));                                        \
    } while (false)

namespace TestSupport {
using namespace Qt::StringLiterals;

// Random bytes, the same for the same size in every run.
inline QByteArray randomBytes(qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(quint32(size) * 2654435761u + 1);
    generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size_t(size / 4));
    for (qint64 i = size / 4 * 4; i < size; ++i)
        bytes[i] = char(generator.generate());
    return bytes;
}

// Bound to 127.0.0.1 and sending to 127.0.0.1:port.
inline void pointAt(QTftp &tftp, quint16 port)
{
    tftp.setLocalAddress(u"127.0.0.1"_s);
    tftp.setRemoteAddress(u"127.0.0.1"_s);
    tftp.setRemotePort(port);
}

// Writes each file into folder; the failure, or an empty text.
inline QString writeFiles(const QString &folder, const QHash<QString, QByteArray> &files)
{
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QFile file(QDir(folder).filePath(it.key()));
        if (!file.open(QIODevice::WriteOnly) || file.write(it.value()) != it.value().size())
            return u"cannot write %1: %2"_s.arg(file.fileName(), file.errorString());
    }
    return {};
}

// Each name with a few bytes.
inline QString writeFiles(const QString &folder, const QStringList &names)
{
    QHash<QString, QByteArray> files;
    for (const QString &name : names)
        files.insert(name, "firmware");
    return writeFiles(folder, files);
}

// Random contents for names: 0, 700, 2800, 9100 ... bytes, so empty, short and several blocks.
inline QHash<QString, QByteArray> firmwareContents(const QStringList &names)
{
    QHash<QString, QByteArray> files;
    qint64 size = 0;
    for (const QString &name : names) {
        files.insert(name, randomBytes(size));
        size = size * 3 + 700;
    }
    return files;
}

// Call in initMain, before the application object exists; check with testSettingsProblem.
inline void useTestSettings()
{
    QStandardPaths::setTestModeEnabled(true);
}

// Why the settings could be the user's own; empty when they lie in the test-mode folder.
inline QString testSettingsProblem()
{
    const QString testConfig
        = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString file = QSettings().fileName();
    if (!testConfig.contains(u".qttest"_s) || !file.startsWith(testConfig))
        return u"settings file outside the test folder: "_s + file;
    return {};
}

inline void clearSettings()
{
    QSettings settings;
    settings.clear();
    settings.sync();
}

// Why the settings file is not in folder once something was written; empty when it is.
inline QString settingsOutside(const QString &folder)
{
    const QString file = QSettings().fileName();
    if (!file.startsWith(folder + u'/'))
        return u"settings file outside the temporary folder: "_s + file;
    return QFile::exists(file) ? QString() : u"no settings file at "_s + file;
}

// What one upload reported.
struct Upload
{
    bool result = false;
    QString status;
    QList<int> sizes; // carried by fileSizeChanged
    QList<int> progress; // carried by fileProgressChanged
    QStringList statuses; // carried by errorStringChanged
    qint64 elapsedMs = 0;
};

// Runs uploadFile on a pool thread, as a run does, and waits in this thread's event loop (so a
// scripted device can answer) until the watcher reports its end. The failure, or an empty text.
inline QString runUpload(QTftp &tftp, const QString &name, const QByteArray &data, Upload &upload,
                         int waitMs = 120000)
{
    QSignalSpy sizes(&tftp, &QTftp::fileSizeChanged);
    QSignalSpy progress(&tftp, &QTftp::fileProgressChanged);
    QSignalSpy statuses(&tftp, &QTftp::errorStringChanged);
    QFutureWatcher<bool> watcher;
    QSignalSpy finished(&watcher, &QFutureWatcher<bool>::finished);
    QElapsedTimer clock;
    clock.start();
    watcher.setFuture(
        QtConcurrent::run(QThreadPool::globalInstance(), &QTftp::uploadFile, &tftp, name, data));
    if (!finished.wait(waitMs)) {
        watcher.waitForFinished();
        return u"the upload of %1 did not end within %2 ms"_s.arg(name).arg(waitMs);
    }
    upload.elapsedMs = clock.elapsed();
    upload.result = watcher.result();
    upload.status = tftp.errorString();
    for (const QList<QVariant> &signal : std::as_const(sizes))
        upload.sizes.append(signal.at(0).toInt());
    for (const QList<QVariant> &signal : std::as_const(progress))
        upload.progress.append(signal.at(0).toInt());
    for (const QList<QVariant> &signal : std::as_const(statuses))
        upload.statuses.append(signal.at(0).toString());
    return {};
}

// The sum of all DATA packets of a file of size bytes.
inline int expectedProgress(qint64 size)
{
    return int(size + 4 * (size / 512 + 1));
}

// Progress reports start at 0, only grow and end at last (reports close together may reach the
// window as one); the failure, or an empty text.
inline QString progressProblem(const QList<int> &progress, int last)
{
    if (!progress.isEmpty() && progress.constFirst() == 0 && progress.constLast() == last
        && std::is_sorted(progress.cbegin(), progress.cend()))
        return {};
    return u"progress reports: %1 values, first %2, last %3, expected last %4"_s.arg(
        QString::number(progress.size()), QString::number(progress.value(0, -1)),
        QString::number(progress.value(progress.size() - 1, -1)), QString::number(last));
}

} // namespace TestSupport
