#pragma once

#include "firmwarefile.h"
#include "upload.h"

#include <QFutureWatcher>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>

// Runs one transmitter's update as planned: each image in order, then the empty "done", every
// one an upload on Qt's global thread pool, the next started when the last was taken; the first
// failure ends the run. Sends exactly the images and the address it was made with.
//
// Threads: the engine lives in the thread that made it, which runs an event loop. Each upload
// reads only its own request; what it reports is handed to the engine's thread through one
// function, deliverToEngineThread, and its per-block progress through atomics that the engine's
// thread samples. So every signal is emitted in the engine's thread.
class UpdateEngine : public QObject
{
    Q_OBJECT

public:
    struct Options
    {
        QString localAddress; // empty: the system chooses
        quint16 port = 69;
        int replyTimeoutMs = 10000; // tests shorten it; the programs always wait 10 s
        bool plainSocketPath = false; // QUdpSocket alone, as platforms without a native path
        bool resendOnSilence = false; // tstx-update --resend
    };

    // How a run ended.
    enum class Outcome {
        Running,
        Complete, // the device took every image and "done"
        Failed, // an upload failed; failure() says how
        Cancelled, // stopped on request
    };

    // A primary image that the device answered with an ERROR, taken as received.
    struct AcceptedError
    {
        QString fileName;
        quint16 code = 0;
        QString message;
        qint64 bytesAcknowledged = 0; // of the image, before the ERROR
    };

    UpdateEngine(std::shared_ptr<const Firmware::ImageSet> images, const QHostAddress &device,
                 const Options &options, QObject *parent = nullptr);
    // Waits for the upload under way (within one reply wait): it reports to this object.
    ~UpdateEngine() override;
    UpdateEngine(const UpdateEngine &) = delete;
    UpdateEngine &operator=(const UpdateEngine &) = delete;

    // Sends the first image; ended follows, never from within start.
    void start();
    // Asks the run to stop: the current upload ends after its next reply and tells the device;
    // no further file is sent. Safe from any thread.
    void cancel() { m_cancelRequested.store(true); }
    [[nodiscard]] bool cancelRequested() const { return m_cancelRequested.load(); }

    [[nodiscard]] const Firmware::ImageSet &images() const { return *m_images; }
    // The images and "done".
    [[nodiscard]] int fileCount() const { return int(m_images->images.size()) + 1; }
    // The name of the file at index; the last is "done".
    [[nodiscard]] QString fileName(int index) const;
    // The file under way; fileCount() once "done" was taken, the failed one after a failure.
    [[nodiscard]] int currentFileIndex() const { return m_fileIndex; }
    [[nodiscard]] QHostAddress device() const { return m_device; }
    [[nodiscard]] Outcome outcome() const { return m_outcome; }
    [[nodiscard]] Tftp::Upload::Failure failure() const { return m_failure; }
    // The status that the last upload reported: "No Error", or why it failed.
    [[nodiscard]] QString status() const { return m_status; }
    [[nodiscard]] QList<AcceptedError> acceptedErrors() const { return m_acceptedErrors; }
    // Firmware bytes the device acknowledged, its files together ("done" has none). Exact once
    // the run has ended, a recent sample while it runs.
    [[nodiscard]] qint64 acknowledgedBytes() const;
    // The current file's size, and its bytes on the wire so far (a recent sample).
    [[nodiscard]] qint64 fileSize() const { return m_fileSize; }
    [[nodiscard]] qint64 sampledProgress() const
    {
        return m_progress.load(std::memory_order_relaxed);
    }

    // The empty upload that tells the device the run is complete.
    static const QString endMarker;

signals:
    // The upload of the file at index is about to start.
    void fileStarted(int index);
    // The write request of the current file went out: its size is known, its progress 0.
    void fileSizeKnown(qint64 size);
    void statusChanged(const QString &status);
    void localPortBound(quint16 port);
    // Once per run, after the last status.
    void ended(UpdateEngine::Outcome outcome);

private:
    class Reports;
    void sendNext();
    void uploadFinished();
    void end(Outcome outcome);
    template<typename Apply> void deliverToEngineThread(Apply &&apply);

    std::shared_ptr<const Firmware::ImageSet> m_images;
    QHostAddress m_device;
    Options m_options;
    QFutureWatcher<std::pair<bool, Tftp::Upload::Failure>> m_watcher;
    int m_fileIndex = 0;
    Outcome m_outcome = Outcome::Running;
    Tftp::Upload::Failure m_failure = Tftp::Upload::Failure::None;
    QString m_status;
    qint64 m_fileSize = 0;
    QList<AcceptedError> m_acceptedErrors;
    qint64 m_acknowledgedBefore = 0; // by the run's ended uploads
    // Written by the upload task for every block, read by the engine's thread.
    std::atomic<qint64> m_acknowledged = 0;
    std::atomic<qint64> m_progress = 0;
    std::atomic<bool> m_cancelRequested = false;
};
