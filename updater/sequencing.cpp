#include "qtftp.h"

#include "handover.h"
#include "packets.h"
#include "transfer.h"

#include <QDebug>
#include <QFile>
#include <QThreadPool>

using namespace Qt::StringLiterals;

namespace {
// The empty upload that tells the device the run is complete.
const QString endMarker = u"done"_s;
} // namespace

void QTftp::startUpdate()
{
    qDebug() << "Starting the update";
    fileIndex = 0;
    cancelRequested.store(false);
    // "done" alone would tell the device that an update it never received is complete.
    if (fileList.isEmpty()) {
        setStatus(listedFolder.isEmpty()
                      ? u"No folder listed: nothing was sent"_s
                      : u"No firmware files in %1: nothing was sent"_s.arg(listedFolderText()));
        emit updateCompleted();
        return;
    }
    sendNextFile();
}

void QTftp::sendNextFile()
{
    const int fileCount = int(fileList.size());
    bool started = true;
    if (fileIndex <= fileCount && cancelRequested.load()) {
        setStatus(cancelledStatus());
        started = false;
    } else if (fileIndex < fileCount) {
        started = sendFile(QUrl(fileList.at(fileIndex), QUrl::TolerantMode));
    } else if (fileIndex == fileCount) {
        started = sendFile(QUrl(endMarker, QUrl::TolerantMode));
    } else {
        emit updateCompleted();
        return;
    }
    if (!started)
        emit updateCompleted();
}

bool QTftp::sendFile(const QUrl &fileUrl)
{
    // The log lines of each upload, kept as they are: technicians' and support's logs are
    // compared against them.
    qDebug() << fileUrl;
    qDebug() << fileUrl.toLocalFile();
    qDebug() << fileUrl.fileName(QUrl::FullyDecoded);

    QByteArray fileData;
    if (fileUrl.toString() != endMarker) {
        QFile file(fileUrl.toLocalFile());
        if (!file.open(QIODevice::ReadOnly)) {
            setStatus(u"Could not open file %1: %2"_s.arg(file.fileName(), file.errorString()));
            return false;
        }
        // Refused before anything is read: block numbers would run out.
        if (file.size() > Tftp::maxFileSize) {
            setStatus(Tftp::tooLargeStatus(file.fileName(), file.size()));
            return false;
        }
        fileData = file.readAll();
        if (fileData.size() != file.size()) {
            setStatus(u"Could not read file %1: %2"_s.arg(file.fileName(), file.errorString()));
            return false;
        }
    }
    const QString fileName = fileUrl.fileName(QUrl::FullyDecoded);
    futureWatcher.setFuture(
        HandOver::run(QThreadPool::globalInstance(),
                      [this, fileName, fileData] { return uploadFile(fileName, fileData); }));
    return true;
}

void QTftp::futureFinishHandler()
{
    // A task that never ran (its pool was shut down) left no result: that is a failed upload.
    const bool uploaded = futureWatcher.future().resultCount() > 0 && futureWatcher.result();
    qDebug() << uploaded;
    if (uploaded) {
        ++fileIndex;
        sendNextFile();
    } else {
        emit updateCompleted();
    }
}
