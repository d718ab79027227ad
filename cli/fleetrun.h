#pragma once

#include "fileselection.h"
#include "firmwarefile.h"
#include "qtftp.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
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
    enum Result { NotStarted, Running, Updated, Failed, Cancelled };

    QString device;
    QString address; // where its files went, once its first write request went out
    Result result = NotStarted;
    int filesSent = 0; // taken by the device, "done" counting as the last one
    qint64 bytes = 0; // firmware bytes the device acknowledged, whatever the result
    double seconds = 0;
    QString status; // the status text that ended its update, as the updater wrote it
    // Primary images the device answered with an ERROR, which the update takes as received.
    QList<QTftp::AcceptedError> acceptedErrors;
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
// and read once, and those images go to every transmitter. Each running update has a QTftp
// object of its own, driven as the window drives its one; a transmitter waiting for its turn or
// done with it costs only its row. All of it runs in the thread that made the run.
class FleetRun : public QObject
{
    Q_OBJECT

public:
    // Every transmitter is reached from localAddress (empty: the system chooses) at port.
    FleetRun(const QString &localAddress, quint16 port, bool resend);

    // Lists, checks and reads the folder once for all transmitters; the usage error, or an empty
    // text.
    QString prepare(const QString &folder);
    // A row for each transmitter, to be updated in this order.
    void setDevices(const QStringList &devices);
    // Starts updates, at most parallel at a time, until every transmitter has had its turn.
    void start(int parallel);
    // Starts no further transmitter and cancels the running ones.
    void interrupt();
    // For a quit at once: records every running transmitter as cancelled, as far as it got.
    void abandonRunning();

    [[nodiscard]] bool interrupted() const { return m_interrupted; }
    [[nodiscard]] bool allUpdated() const;
    // The images every transmitter gets, as read when the run was prepared.
    [[nodiscard]] const QList<FirmwareFile> &files() const { return m_files; }
    // The folder as listed: the .bin files that match no firmware name, and copies.
    [[nodiscard]] const FirmwareListing &listing() const { return m_listing; }
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
        std::unique_ptr<QTftp> tftp; // while its update runs
        DeviceOutcome outcome;
        QElapsedTimer clock;
        int shownFile = -1;
        bool cancelled = false;
    };

    void startMore();
    void noteUpload(int index);
    void complete(int index);
    void record(Device &device);

    std::vector<Device> m_devices;
    QString m_localAddress;
    quint16 m_port = 69;
    bool m_resend = false;
    FirmwareListing m_listing;
    Firmware::ImageSet m_images;
    QList<FirmwareFile> m_files; // of m_images
    int m_parallel = 1;
    int m_next = 0; // the next transmitter to start
    int m_running = 0;
    bool m_interrupted = false;
    bool m_finished = false;
};
