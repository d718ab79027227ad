#pragma once

#include "firmwarefile.h"
#include "upload.h"

#include <QByteArray>
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

// The one object behind the window: the remembered choices, the firmware list of the chosen
// folder, the update run and the TFTP upload of each file (done by Tftp::Upload).
//
// Threads: the object lives in the GUI thread. Each upload runs on a thread of the global thread
// pool, from a request made of the object's members on the GUI thread; what it reports for the
// window (status text, size, bound port) is handed to the object's thread through one function,
// deliverToObjectThread, and its per-block progress through an atomic that the object's thread
// samples. So every property is written, and every notify signal emitted, in the GUI thread only.
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

public:
    // Where the update run stands: Idle after a listing, Running from startUpdate to
    // updateCompleted, then Complete (the device took every file and "done") or Incomplete.
    enum RunState { Idle, Running, Complete, Incomplete };
    Q_ENUM(RunState)

    // A primary image that the device answered with an ERROR, taken as received.
    struct AcceptedError
    {
        QString fileName;
        quint16 code = 0;
        QString message;
        qint64 bytesAcknowledged = 0; // of the image, before the ERROR
    };

    // qtftp.cpp: construction, the property getters and setters, the hand-over from the upload.
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
    [[nodiscard]] int acceptedErrorCount() const { return int(m_acceptedErrors.size()); }

    // fileselection.cpp
    // Lists the firmware files of a folder, in sending order, as the next run's file list, and
    // says on the status line what a run will send.
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
    [[nodiscard]] QStringList unmatchedImages() const { return m_unmatchedImages; }
    // The SHA-256 (hex) of the image called fileName as the current or last run read it, or else
    // as the last listing read it; empty for a name neither holds.
    Q_INVOKABLE QString imageSha256(const QString &fileName) const;
    // sequencing.cpp
    // Reads every listed file once, then sends them, then the empty "done"; ends with
    // updateCompleted. Sends nothing at all when no file is listed, or when one cannot be sent
    // whole or does not match the folder's SHA256SUMS.
    Q_INVOKABLE void startUpdate();
    // The same with images read before, such as a fleet's, shared by all its transmitters.
    void startUpdateWith(const Firmware::ImageSet &images);
    // The accepted ERRORs of the current or last run, in the order they came.
    [[nodiscard]] QList<AcceptedError> acceptedErrors() const { return m_acceptedErrors; }
    // Firmware bytes the device acknowledged in the current or last run, its files together
    // ("done" has none). Exact once the run has ended, a recent sample while it runs.
    [[nodiscard]] qint64 acknowledgedBytes() const;
    // Asks the running update to stop: the current upload ends after its next reply (so within
    // one reply wait) and no further file is sent. Safe from any thread; startUpdate clears it.
    void cancelUpdate() { cancelRequested.store(true); }
    // The window's Stop: cancels the running update and says on the run's line that it stops.
    Q_INVOKABLE void stopUpdate();
    // Starts the upload of one file (or of the end marker "done") on the thread pool.
    Q_INVOKABLE bool sendFile(const QUrl &fileUrl);
    // networkinterfaces.cpp
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
    // deviceaddress.cpp
    // Why the device text cannot be sent to, or an empty text: it must be an IPv4 address in
    // four decimal parts without leading zeros, or a text that can be a host name.
    Q_INVOKABLE static QString addressProblem(const QString &typed);
    // The address the current or last upload's write request went to; empty before any.
    [[nodiscard]] QString deviceAddress() const { return m_deviceAddress; }
    // The folder accepted in the dialog, without a trailing separator: remembered and listed.
    Q_INVOKABLE QUrl chooseFolder(const QUrl &folder);
    // At start: lists the remembered folder and returns it; empty when none was remembered or
    // it has gone, which the status line then says.
    Q_INVOKABLE QUrl restoreFolder();
    // Reads the machine's interfaces again, for an adapter plugged in since the list was read.
    Q_INVOKABLE void refreshInterfaces();
    // The entry to select when no remembered interface is found: the first of an interface that
    // is up with an address other than loopback, as that is what reaches a transmitter.
    Q_INVOKABLE int preferredInterfaceIndex();

    // upload.cpp: the object's side of one upload.
    // Uploads one file to the device by TFTP; blocks until the device took it or the transfer
    // failed; the status text says how it ended. Reads the object's members on the calling
    // thread: call it where nothing changes them meanwhile (a run starts each upload itself).
    bool uploadFile(QString fileName, QByteArray fileData);
    // The write request for a file of the size of fileData.
    [[nodiscard]] static QByteArray buildWriteRequest(QString fileName, QByteArray fileData);
    // The status of an update ended by cancelUpdate.
    [[nodiscard]] static QString cancelledStatus();

    // The position of the current upload in the file list; n stands for "done".
    [[nodiscard]] int currentFileIndex() const { return fileIndex; }
    // The firmware entries of the last listing, in sending order.
    [[nodiscard]] QStringList firmwareList() const { return fileList; }
    // Shortens the wait for each reply, for the tests; the program always waits 10 s.
    void setReplyTimeoutForTesting(int milliseconds) { replyTimeoutMs = milliseconds; }
    // Sends and receives through QUdpSocket alone, as platforms without a native path do. For the
    // tests and the benchmark, so that the path those platforms run is checked and timed here too.
    void setPlainSocketPathForTesting(bool plain) { plainSocketPath = plain; }
    // tstx-update --resend: the last packet goes again when the device is silent for longer
    // than its round trips lead one to expect. The window keeps to the plain lock-step.
    void setResendOnSilence(bool resend) { resendOnSilence = resend; }

    // fileselection.cpp: the ten firmware name patterns, the primary ones first.
    static const QList<QRegularExpression> primaryPatterns;
    static const QList<QRegularExpression> secondaryPatterns;
    // Lower-case names matched by a primary pattern: for these an ERROR reply counts as success.
    static QStringList errorTolerantFiles;

public slots: // qtftp.cpp
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
    // Fires once at the end of every update run, whether it succeeded or failed.
    void updateCompleted();

private slots: // sequencing.cpp
    void futureFinishHandler();

private:
    // qtftp.cpp
    // Logs text whole when the window shows it cut.
    static void logWholeIfCut(const char *what, const QString &text);
    // sequencing.cpp
    void sendNextFile();
    void logUpload(const QUrl &fileUrl);
    // Starts the upload of bytes as the file of fileUrl, on the thread pool.
    void startUpload(const QUrl &fileUrl, std::shared_ptr<const QByteArray> bytes);
    // Refuses the file at the current index before any of it went out.
    bool refuseFile(const QString &status);
    void endRun();
    void setRunText(const QString &text);
    void setRunState(RunState state);
    // upload.cpp
    class UploadReports;
    // What one upload of fileName needs, from the object's members as they are now.
    [[nodiscard]] Tftp::Upload::Request uploadRequest(const QString &fileName,
                                                      const QByteArray &fileData) const;
    // Runs one upload on this thread, its reports handed to the object's thread.
    bool runUpload(const Tftp::Upload::Request &request);
    // The run's line for the current upload, with how long the device has been silent.
    void showWaiting(qint64 silentMs);
    // For a run that ended unable to send: which interface it sent from.
    [[nodiscard]] QString interfaceHint() const;
    // qtftp.cpp
    // Status updates written here, on the object's thread.
    void setStatus(const QString &status);
    // The transfer's reports: applied at once on the object's thread, queued to it otherwise.
    void reportStatus(const QString &status);
    void reportFileSize(int size);
    void reportFileProgress(int progress);
    void publishTransferProgress();
    void reportLocalPort(quint16 port);
    void reportAcceptedError(const AcceptedError &accepted);
    void reportDeviceAddress(const QString &address);
    template<typename Apply> void deliverToObjectThread(Apply &&apply);

    QFutureWatcher<bool> futureWatcher;
    QString m_localAddress;
    QString m_remoteAddress;
    QString m_deviceAddress; // where the last write request went, as the look-up found it
    quint16 m_localPort = 0;
    quint16 m_remotePort = 69;
    // Read when first asked for: the updaters of a fleet never show it.
    mutable QStringList m_ifsList;
    mutable bool m_ifsListRead = false;
    QStringList fileList;
    QUrl listedFolder; // the folder fileList was made from, named in the run's status texts
    QStringList m_listedNames; // the file names of fileList
    QHash<QString, QString> m_listedDigests; // SHA-256 by name, as the listing read the files
    Firmware::ImageSet m_runImages; // what the current or last run sends, read at its start
    int fileIndex = 0;
    QString m_errorString = QStringLiteral("Open a folder to begin");
    int m_fileSize = 1;
    int m_fileProgress = 0;
    // Written by the upload task for every block, read by the object's thread on progressTimer.
    std::atomic<int> transferProgress = 0;
    QTimer progressTimer;
    int replyTimeoutMs = 10000;
    bool plainSocketPath = false;
    bool resendOnSilence = false;
    // What the run has shown the window, and what the device took in it.
    RunState m_runState = Idle;
    QString m_runText;
    QString m_runFileText; // the run's line for the current upload, without the waiting note
    // Since the current upload last moved on; the progress samples read it.
    QElapsedTimer sinceProgress;
    QStringList m_unmatchedImages;
    QList<AcceptedError> m_acceptedErrors;
    bool m_runSentAnything = false;
    qint64 m_runAcknowledged = 0; // by the run's ended uploads
    // Written by the upload task for every acknowledged block, read by the object's thread.
    std::atomic<qint64> transferAcknowledged = 0;
    // Set by cancelUpdate from any thread, read by the upload task and the object's thread.
    std::atomic<bool> cancelRequested = false;
};
