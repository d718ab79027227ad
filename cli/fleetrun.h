#pragma once

#include "fileselection.h"
#include "firmwarefile.h"
#include "runplan.h"
#include "updateengine.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>
#include <vector>

// A firmware file of the folder, as a run sends it.
struct FirmwareFile
{
    QString name;
    qint64 size = 0;
    QString sha256; // of the bytes sent, in hex
};

// What became of one transmitter.
struct DeviceOutcome
{
    enum Result { NotStarted, Running, Updated, Failed, Cancelled, AlreadyUpdated };

    QString device;
    QString address; // where its files went, once its first write request went out
    Result result = NotStarted;
    int filesSent = 0; // taken by the device, "done" counting as the last one
    qint64 bytes = 0; // firmware bytes the device acknowledged, whatever the result
    double seconds = 0;
    QDateTime started, ended; // of its update; invalid when it had none
    QString status; // the status text that ended its update, as the updater wrote it
    // Primary images the device answered with an ERROR, which the update takes as received.
    QList<UpdateEngine::AcceptedError> acceptedErrors;
};

// The device as typed and, where a name was typed, the address it led to: "tx-7 (10.0.0.7)".
QString shownDevice(const DeviceOutcome &outcome);
// How a result reads in the report.
QString resultText(DeviceOutcome::Result result);
// How it reads on screen: "updated*" when an ERROR was taken as received.
QString shownResult(const DeviceOutcome &outcome);
// Text in the result's colour where stream shows colours: updated green, updated* (an ERROR
// taken as received) yellow, failed red.
QString inResultColour(std::FILE *stream, const DeviceOutcome &outcome, const QString &text);
// "; ERROR taken as received for NAME: CODE TEXT, after N bytes acknowledged" for each.
QString acceptedErrorsText(const DeviceOutcome &outcome);

// Updates a fleet with at most a given number of updates at once. The folder is listed, checked
// and read once, and those images go to every transmitter; every transmitter is looked up once,
// before anything is sent. Each running update is an UpdateEngine of its own; a transmitter
// waiting for its turn or done with it costs only its row. All of it runs in the thread that made
// the run.
class FleetRun : public QObject
{
    Q_OBJECT

public:
    // Every transmitter is reached from options.localAddress (empty: the system chooses) at
    // options.port. Strict: a warning about the folder refuses the run, and an ERROR taken as
    // received is no update.
    FleetRun(const UpdateEngine::Options &options, bool strict);

    // Lists, checks and reads the folder once for all transmitters; the usage error, or an empty
    // text.
    QString prepare(const QString &folder);
    // A row for each transmitter, to be updated in this order, each looked up now; the usage
    // error (two that lead to one address), or an empty text. A name that leads nowhere, or to
    // an address that cannot be one transmitter, fails that transmitter alone, sending nothing.
    QString setDevices(const QStringList &devices, const InterfaceList &interfaces,
                       const HostLookup &lookup);
    // Transmitters that an earlier run updated with these same images: not updated again.
    void skip(const QSet<QString> &devices);
    // Once failures transmitters have failed, no further one starts (0: no such limit).
    void setMaxFailures(int failures) { m_maxFailures = failures; }
    // The first count transmitters are updated first, on their own; the others start only when
    // all of them are updated.
    void setCanary(int count) { m_canary = count; }
    // Starts updates, at most parallel at a time, until every transmitter has had its turn.
    void start(int parallel);
    // Starts no further transmitter and cancels the running ones.
    void interrupt();
    // For a quit at once: records every running transmitter as cancelled, as far as it got.
    void abandonRunning();

    [[nodiscard]] bool interrupted() const { return m_interrupted; }
    // Why transmitters were left unstarted other than by an interrupt; empty when none were.
    [[nodiscard]] QString stopReason() const { return m_stopReason; }
    [[nodiscard]] QDateTime startedAt() const { return m_startedAt; }
    [[nodiscard]] QDateTime endedAt() const { return m_endedAt; }
    [[nodiscard]] const UpdateEngine::Options &options() const { return m_options; }
    // Every transmitter updated; with strict, none with an ERROR taken as received.
    [[nodiscard]] bool allUpdated() const;
    [[nodiscard]] bool strict() const { return m_strict; }
    // The images every transmitter gets, as read when the run was prepared.
    [[nodiscard]] const QList<FirmwareFile> &files() const { return m_files; }
    [[nodiscard]] bool checksumsChecked() const { return m_images && m_images->checksumsChecked; }
    // What the technician should know about the folder, one sentence each, the first namesShown
    // unmatched names spelt out.
    [[nodiscard]] QStringList warnings(qsizetype namesShown) const;
    // The files of an update: the firmware files and "done".
    [[nodiscard]] int fileCount() const { return int(files().size()) + 1; }
    [[nodiscard]] QString fileName(int index) const;
    [[nodiscard]] int deviceCount() const { return int(m_devices.size()); }
    [[nodiscard]] const DeviceOutcome &outcome(int device) const;
    // For a running transmitter: the position of its current file, and how far it is, in %.
    [[nodiscard]] int currentFile(int device) const;
    [[nodiscard]] int percent(int device) const;

signals:
    // A transmitter's upload of its current file is under way.
    void fileStarted(int device);
    // A transmitter's update ended; its outcome is final.
    void deviceEnded(int device);
    // No transmitter runs and none will start.
    void finished();

private:
    struct Device
    {
        std::unique_ptr<UpdateEngine> engine; // while its update runs
        DeviceTarget target;
        DeviceOutcome outcome;
        QElapsedTimer clock;
        int shownFile = -1;
        bool cancelled = false;
    };

    void startMore();
    void noteUpload(int index);
    void complete(int index);
    void record(Device &device);
    void noteFailure();

    std::vector<Device> m_devices;
    UpdateEngine::Options m_options;
    bool m_strict = false;
    FirmwareListing m_listing;
    std::shared_ptr<const Firmware::ImageSet> m_images;
    QList<FirmwareFile> m_files; // of m_images
    int m_parallel = 1;
    int m_maxFailures = 0;
    int m_canary = 0;
    int m_failures = 0;
    QString m_stopReason;
    QDateTime m_startedAt, m_endedAt;
    int m_next = 0; // the next transmitter to start
    int m_running = 0;
    bool m_interrupted = false;
    bool m_finished = false;
};
