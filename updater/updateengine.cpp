#include "updateengine.h"

#include "handover.h"
#include "updaterlog.h"

#include <QMetaObject>
#include <QThread>
#include <QThreadPool>
#include <QUrl>

using namespace Qt::StringLiterals;

const QString UpdateEngine::endMarker = u"done"_s;

// Runs on the upload's thread: it only hands each report to the engine's thread.
class UpdateEngine::Reports final : public Tftp::Upload::Observer
{
public:
    Reports(UpdateEngine &engine, QString fileName)
        : m_engine(engine)
        , m_fileName(std::move(fileName))
    { }

    void localPortBound(quint16 port) override
    {
        m_engine.deliverToEngineThread(
            [engine = &m_engine, port] { emit engine->localPortBound(port); });
    }
    void statusChanged(const QString &status) override
    {
        m_engine.deliverToEngineThread([engine = &m_engine, status] {
            engine->m_status = status;
            emit engine->statusChanged(status);
        });
    }
    void fileSizeKnown(qint64 size) override
    {
        m_engine.m_progress.store(0, std::memory_order_relaxed);
        m_engine.deliverToEngineThread([engine = &m_engine, size] {
            engine->m_fileSize = size;
            emit engine->fileSizeKnown(size);
        });
    }
    // Called for every block, tens of thousands of times a second on a fast link: waking the
    // engine's thread for each would cost as much as the transfer itself, so it is only stored.
    void progressed(qint64 bytesOnTheWire) override
    {
        m_engine.m_progress.store(bytesOnTheWire, std::memory_order_relaxed);
    }
    void acknowledged(qint64 bytes) override { m_engine.m_acknowledged.store(bytes); }
    void errorAccepted(quint16 code, const QString &message, qint64 bytesAcknowledged) override
    {
        m_engine.deliverToEngineThread(
            [engine = &m_engine,
             accepted = AcceptedError {m_fileName, code, message, bytesAcknowledged}] {
                engine->m_acceptedErrors.append(accepted);
            });
    }

private:
    UpdateEngine &m_engine;
    QString m_fileName;
};

UpdateEngine::UpdateEngine(std::shared_ptr<const Firmware::ImageSet> images,
                           const QHostAddress &device, const Options &options, QObject *parent)
    : QObject(parent)
    , m_images(std::move(images))
    , m_device(device)
    , m_options(options)
{
    connect(&m_watcher, &QFutureWatcherBase::finished, this, &UpdateEngine::uploadFinished);
}

UpdateEngine::~UpdateEngine()
{
    m_watcher.waitForFinished();
}

QString UpdateEngine::fileName(int index) const
{
    return index < m_images->images.size() ? m_images->images.at(index).name : endMarker;
}

qint64 UpdateEngine::acknowledgedBytes() const
{
    return m_acknowledgedBefore + m_acknowledged.load();
}

void UpdateEngine::start()
{
    // From the event loop: whoever started the run has connected to it and returned.
    QMetaObject::invokeMethod(this, &UpdateEngine::sendNext, Qt::QueuedConnection);
}

// The one hand-over from the upload task to the engine's thread. Queued calls to this object run
// in the order they were posted, before the watcher's "finished" that the task's end posts later,
// so when an upload ends the engine already holds the task's last reports.
template<typename Apply> void UpdateEngine::deliverToEngineThread(Apply &&apply)
{
    if (QThread::currentThread() == thread())
        apply();
    else
        QMetaObject::invokeMethod(this, HandOver::Queued(std::forward<Apply>(apply)),
                                  Qt::QueuedConnection);
}

void UpdateEngine::sendNext()
{
    if (m_cancelRequested.load()) {
        m_status = Tftp::Upload::cancelledStatus();
        emit statusChanged(m_status);
        end(Outcome::Cancelled);
        return;
    }
    const bool isImage = m_fileIndex < m_images->images.size();
    const QString name = fileName(m_fileIndex);
    // The log lines of each upload, kept as they are: technicians' and support's logs are
    // compared against them.
    const QUrl url = isImage ? QUrl::fromLocalFile(m_images->images.at(m_fileIndex).path)
                             : QUrl(endMarker, QUrl::TolerantMode);
    qCDebug(updaterLog) << url;
    qCDebug(updaterLog) << url.toLocalFile();
    qCDebug(updaterLog) << url.fileName(QUrl::FullyDecoded);
    emit fileStarted(m_fileIndex);
    const Firmware::Image *image = isImage ? &m_images->images.at(m_fileIndex) : nullptr;
    // The request is made here; the task reads nothing of the engine but its own copy. Its bytes
    // are shared with every other upload of the image (a fleet's), and held to the task's end.
    Tftp::Upload::Request request {.localAddress = m_options.localAddress,
                                   .deviceAddress = m_device,
                                   .deviceName = {},
                                   .remotePort = m_options.port,
                                   .fileName = name,
                                   .fileData = image ? *image->bytes : QByteArray(),
                                   .errorCountsAsTaken = image && image->errorCountsAsTaken,
                                   .cancelRequested = &m_cancelRequested,
                                   .replyTimeoutMs = m_options.replyTimeoutMs,
                                   .plainSocketPath = m_options.plainSocketPath,
                                   .resendOnSilence = m_options.resendOnSilence};
    m_watcher.setFuture(
        HandOver::run(QThreadPool::globalInstance(), [this, request = std::move(request)] {
            Reports reports(*this, request.fileName);
            Tftp::Upload upload(request, reports);
            const bool taken = upload.run();
            return std::pair {taken, upload.failure()};
        }));
}

void UpdateEngine::uploadFinished()
{
    // A task that never ran (its pool was shut down) left no result: that is a failed upload.
    const bool ran = m_watcher.future().resultCount() > 0;
    const auto [taken, failure]
        = ran ? m_watcher.result() : std::pair {false, Tftp::Upload::Failure::NoReply};
    qCDebug(updaterLog) << taken;
    m_acknowledgedBefore += m_acknowledged.exchange(0);
    if (!taken) {
        m_failure = failure;
        end(failure == Tftp::Upload::Failure::Cancelled ? Outcome::Cancelled : Outcome::Failed);
        return;
    }
    ++m_fileIndex;
    if (m_fileIndex == fileCount())
        end(Outcome::Complete);
    else
        sendNext();
}

void UpdateEngine::end(Outcome outcome)
{
    m_outcome = outcome;
    emit ended(outcome);
}
