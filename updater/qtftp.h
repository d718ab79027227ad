#pragma once

#include "fileselection.h"
#include "runplan.h"
#include "updateengine.h"
#include "upload.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QHash>
#include <QObject>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <memory>

// The window's one object: its properties and choices, forwarded to the units that do the work.
// The folder's listing is fileselection's, the remembered choices Settings', each run's plan
// planRun's (made at Start, off the window's thread) and the run itself an UpdateEngine's.
//
// Threads: the object lives in the GUI thread, and so do its engine and every property write and
// notify signal. The listing's digests and each run's plan are made on the thread pool and come
// back through a future watcher; a lone sendFile's upload reports through deliverToObjectThread.
class QTftp : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString errorString READ errorString NOTIFY errorStringChanged)
    Q_PROPERTY(
        QString remoteAddress READ remoteAddress WRITE setRemoteAddress NOTIFY remoteAddressChanged)
    Q_PROPERTY(quint16 remotePort READ remotePort WRITE setRemotePort NOTIFY remotePortChanged)
    Q_PROPERTY(
        QString localAddress READ localAddress WRITE setLocalAddress NOTIFY localAddressChanged)
    Q_PROPERTY(quint16 localPort READ localPort WRITE setLocalPort NOTIFY localPortChanged)
    Q_PROPERTY(QStringList ifsList READ ifsList WRITE setIfsList NOTIFY ifsListChanged)
    Q_PROPERTY(int fileSize READ fileSize NOTIFY fileSizeChanged)
    Q_PROPERTY(int fileProgress READ fileProgress NOTIFY fileProgressChanged)
    Q_PROPERTY(QString updaterVersion READ updaterVersion NOTIFY updaterVersionChanged)
    Q_PROPERTY(RunState runState READ runState NOTIFY runStateChanged)
    Q_PROPERTY(QString runText READ runText NOTIFY runTextChanged)
    Q_PROPERTY(int acceptedErrorCount READ acceptedErrorCount NOTIFY runStateChanged)
    Q_PROPERTY(QString missingInterface READ missingInterface NOTIFY missingInterfaceChanged)
    Q_PROPERTY(QString lastRunRecord READ lastRunRecord NOTIFY lastRunRecordChanged)

public:
    // Where the update run stands: Idle after a listing, Running from startUpdate to
    // updateCompleted, then Complete (the device took every file and "done") or Incomplete.
    enum RunState { Idle, Running, Complete, Incomplete };
    Q_ENUM(RunState)

    using AcceptedError = UpdateEngine::AcceptedError;

    explicit QTftp(QObject *parent = nullptr);
    ~QTftp() override;

    [[nodiscard]] QString errorString() const { return m_errorString; }
    [[nodiscard]] QString remoteAddress() const { return m_remoteAddress; }
    [[nodiscard]] quint16 remotePort() const { return m_remotePort; }
    [[nodiscard]] QString localAddress() const { return m_localAddress; }
    [[nodiscard]] quint16 localPort() const { return m_localPort; }
    [[nodiscard]] QStringList ifsList() const;
    [[nodiscard]] int fileSize() const { return m_fileSize; }
    [[nodiscard]] int fileProgress() const { return m_fileProgress; }
    // "1.1.0.9.0.5": the program's version and three numbers more (set in CMakeLists.txt).
    [[nodiscard]] static QString updaterVersion();
    [[nodiscard]] RunState runState() const { return m_runState; }
    // During a run the file going out ("File 2 of 3: NAME"), after it what became of the run;
    // empty after a listing.
    [[nodiscard]] QString runText() const { return m_runText; }
    // How many ERROR replies the current or last run took as received: a complete run with any
    // is not a clean one.
    [[nodiscard]] int acceptedErrorCount() const { return int(acceptedErrors().size()); }
    // The human-readable name of the remembered interface when it has no IPv4 address now:
    // a run is refused until an interface is chosen. Empty otherwise.
    [[nodiscard]] QString missingInterface() const { return m_missingInterface; }
    // The file that records the last run, complete or not, for support; empty before any.
    [[nodiscard]] QString lastRunRecord() const { return m_lastRunRecord; }
    // The folder of the run records, for the desktop's file manager.
    Q_INVOKABLE static QUrl runRecordsFolderUrl();

    // Lists the firmware files of a folder, in sending order, as the next run's file list, and
    // says on the status line what a run will send. The images are read for their digests on the
    // thread pool, and the status line then says what would stop a run.
    Q_INVOKABLE void buildFileList(const QUrl &filesFolder);
    // A folder as the system writes its path ("/home/tech/fw", "C:\\fw"); other URLs as text.
    Q_INVOKABLE static QString displayPath(const QUrl &folder);
    // A text as the window shows it: control characters escaped, and no more than a few hundred
    // characters (a device's text may be as long as a datagram). The status and the run's line
    // are logged whole when the window shows them cut.
    Q_INVOKABLE static QString shownText(const QString &text);
    // Whether the URL names a folder on this machine that is there now.
    [[nodiscard]] static bool folderExists(const QUrl &folder);
    // The .bin names of the last listed folder, in any letter case, that no firmware name
    // matches: a run leaves them out.
    [[nodiscard]] QStringList unmatchedImages() const;
    // The SHA-256 (hex) of the image called fileName as the current or last run read it, or else
    // as the last listing read it; empty for a name neither holds (yet).
    Q_INVOKABLE QString imageSha256(const QString &fileName) const;
    // Lists the folder listed last again, reads every image once and finds the device once, off
    // the window's thread; then sends them, then the empty "done"; ends with updateCompleted.
    // Sends nothing at all when no file is listed, or when one cannot be sent whole or does not
    // match the folder's SHA256SUMS, or the device cannot be one transmitter.
    Q_INVOKABLE void startUpdate();
    // The accepted ERRORs of the current or last run, in the order they came.
    [[nodiscard]] QList<AcceptedError> acceptedErrors() const;
    // Firmware bytes the device acknowledged in the current or last run, its files together
    // ("done" has none). Exact once the run has ended, a recent sample while it runs.
    [[nodiscard]] qint64 acknowledgedBytes() const;
    // Asks the running update to stop: the current upload ends after its next reply (so within
    // one reply wait) and no further file is sent; a run still being read sends nothing.
    void cancelUpdate();
    // The window's Stop: cancels the running update and says on the run's line that it stops.
    Q_INVOKABLE void stopUpdate();
    // Starts the upload of one file (or of the end marker "done") on the thread pool.
    Q_INVOKABLE bool sendFile(const QUrl &fileUrl);
    // Misspelt, and kept so: QML reaches the updater's members by name, and scripts using this
    // module call it as it is.
    Q_INVOKABLE QString loadNetoworkIf();
    Q_INVOKABLE QString loadNetworkAddr();
    Q_INVOKABLE void saveNetworkIf(const QString &ifName);
    Q_INVOKABLE void saveNetworkAddr(const QString &addr);
    Q_INVOKABLE int savedInterfaceIndex();
    // The folder the dialog opens in: the one accepted last, or the home folder when none was
    // or it has gone.
    Q_INVOKABLE void saveFolder(const QUrl &folder);
    Q_INVOKABLE QUrl startFolder();
    // Why the device text cannot be sent to, or an empty text: it must be an IPv4 address in
    // four decimal parts without leading zeros, or a text that can be a host name.
    Q_INVOKABLE static QString addressProblem(const QString &typed);
    // The address the current or last run sends to, as its plan found it; empty before any.
    [[nodiscard]] QString deviceAddress() const;
    // The folder accepted in the dialog, without a trailing separator: remembered and listed.
    Q_INVOKABLE QUrl chooseFolder(const QUrl &folder);
    // At start: lists the remembered folder and returns it; empty when none was remembered or
    // it has gone, which the status line then says.
    Q_INVOKABLE QUrl restoreFolder();
    // Reads the machine's interfaces again, for an adapter plugged in since the list was read.
    Q_INVOKABLE void refreshInterfaces();
    // The entry to select: the remembered interface's, or when none is remembered, the first of
    // an interface that is up with an address other than loopback, as that is what reaches a
    // transmitter. -1 when the remembered interface has no IPv4 address now (missingInterface).
    Q_INVOKABLE int preferredInterfaceIndex();

    // Uploads one file to the device by TFTP; blocks until the device took it or the transfer
    // failed; the status text says how it ended. Reads the object's members on the calling
    // thread: call it where nothing changes them meanwhile.
    bool uploadFile(QString fileName, QByteArray fileData);
    // The write request for a file of the size of fileData.
    [[nodiscard]] static QByteArray buildWriteRequest(QString fileName, QByteArray fileData);
    // The status of an update ended by cancelUpdate.
    [[nodiscard]] static QString cancelledStatus();

    // The position of the current upload in the file list; n stands for "done".
    [[nodiscard]] int currentFileIndex() const;
    // The firmware entries of the last listing, in sending order.
    [[nodiscard]] QStringList firmwareList() const { return fileList; }
    // Shortens the wait for each reply, for the tests; the program always waits 10 s.
    void setReplyTimeoutForTesting(int milliseconds)
    {
        m_engineOptions.replyTimeoutMs = milliseconds;
    }
    // Sends and receives through QUdpSocket alone, as platforms without a native path do. For the
    // tests and the benchmark, so that the path those platforms run is checked and timed here too.
    void setPlainSocketPathForTesting(bool plain) { m_engineOptions.plainSocketPath = plain; }
    // tstx-update --resend: the last packet goes again when the device is silent for longer
    // than its round trips lead one to expect. The window keeps to the plain lock-step.
    void setResendOnSilence(bool resend) { m_engineOptions.resendOnSilence = resend; }
    // Finds host names with lookup instead of the system's resolver, for the tests.
    void setHostLookupForTesting(HostLookup lookup) { m_hostLookup = std::move(lookup); }

    // The ten firmware name patterns, the primary ones first.
    static const QList<QRegularExpression> &primaryPatterns;
    static const QList<QRegularExpression> &secondaryPatterns;
    // Lower-case names matched by a primary pattern, appended to by every listing and never
    // cleared: for these a lone uploadFile takes an ERROR reply as success. A run takes that from
    // its plan instead, so no upload thread reads this list.
    static QStringList errorTolerantFiles;

public slots:
    void setRemoteAddress(const QString &remoteAddress);
    void setRemotePort(quint16 remotePort);
    void setLocalAddress(const QString &localAddress);
    void setLocalPort(quint16 localPort);
    void setIfsList(const QStringList &ifsList);

signals:
    // Each notify signal fires in the object's thread after its property was written.
    void errorStringChanged(const QString &errorString);
    void remoteAddressChanged(const QString &remoteAddress);
    void remotePortChanged(quint16 remotePort);
    void localAddressChanged(const QString &localAddress);
    void localPortChanged(quint16 localPort);
    void ifsListChanged(const QStringList &ifsList);
    void updaterVersionChanged(const QString &updaterVersion);
    void fileSizeChanged(int fileSize);
    void fileProgressChanged(int fileProgress);
    void runStateChanged(QTftp::RunState runState);
    void runTextChanged(const QString &runText);
    void missingInterfaceChanged(const QString &missingInterface);
    void lastRunRecordChanged(const QString &lastRunRecord);
    // Fires once at the end of every update run, whether it succeeded or failed.
    void updateCompleted();

private slots:
    // The end of a lone sendFile's upload.
    void futureFinishHandler();

private:
    class UploadReports;
    // Logs text whole when the window shows it cut.
    static void logWholeIfCut(const char *what, const QString &text);
    void setStatus(const QString &status);
    void setRunText(const QString &text);
    void setRunState(RunState state);
    // The listing's part of the object: the file list, the log lines, errorTolerantFiles.
    void takeListing(const QUrl &folder, const FirmwareListing &listing);
    // What the status line says of a listing, with what its images' reading found.
    [[nodiscard]] QString listingSummary(const Firmware::ImageSet *images) const;
    void listingRead();
    // The plan made: refused, or sent by an engine of its own.
    void planMade();
    void fileStarted(int index);
    void fileSizeKnown(qint64 size);
    void engineStatus(const QString &status);
    void publishTransferProgress();
    // The run's line for the current upload, with how long the device has been silent.
    void showWaiting(qint64 silentMs);
    // Refuses the run before any of it went out.
    void refuseRun(const QString &status);
    void endRun();
    // Writes the record of the run that ended with result; what went wrong, or an empty text.
    QString recordRun(const QString &result, bool complete);
    // The interface the window lists for the local address; empty when none has it.
    [[nodiscard]] QString interfaceOfLocalAddress() const;
    // For a run that ended unable to send: which interface it sent from.
    [[nodiscard]] QString interfaceHint() const;
    // What one lone upload of fileName needs, from the object's members as they are now.
    [[nodiscard]] Tftp::Upload::Request uploadRequest(const QString &fileName,
                                                      const QByteArray &fileData) const;
    template<typename Apply> void deliverToObjectThread(Apply &&apply);

    QFutureWatcher<bool> futureWatcher; // a lone sendFile's upload
    QString m_localAddress;
    QString m_remoteAddress;
    quint16 m_localPort = 0;
    quint16 m_remotePort = 69;
    // Read when first asked for.
    mutable QStringList m_ifsList;
    mutable bool m_ifsListRead = false;
    QStringList fileList;
    int fileIndex = 0;
    QString m_errorString = QStringLiteral("Open a folder to begin");
    int m_fileSize = 1;
    int m_fileProgress = 0;

    QUrl listedFolder; // the folder fileList was made from, named in the run's status texts
    FirmwareListing m_listing;
    // The listing's images, read for their digests only; replaced by every listing.
    QFutureWatcher<std::pair<int, Firmware::ImageSet>> m_listingReader; // with its generation
    std::shared_ptr<const Firmware::ImageSet> m_listedImages;
    int m_listingGeneration = 0;
    // The current or last run: its plan, made off the window's thread, and its engine.
    QFutureWatcher<RunPlan> m_planner;
    RunPlan m_plan;
    std::unique_ptr<UpdateEngine> m_engine;
    UpdateEngine::Options m_engineOptions;
    HostLookup m_hostLookup = systemHostLookup();
    bool m_cancelRequested = false;
    bool m_runSentAnything = false;
    RunState m_runState = Idle;
    QString m_runText;
    QString m_runFileText; // the run's line for the current upload, without the waiting note
    QString m_missingInterface;
    QString m_lastRunRecord;
    QDateTime m_runStarted;
    // Samples the engine's progress while an upload runs; since when it last moved.
    QTimer progressTimer;
    QElapsedTimer sinceProgress;
    // A lone sendFile's upload reports this, per block, and the object's thread samples it.
    std::atomic<int> transferProgress = 0;
};
