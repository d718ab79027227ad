#pragma once

#include <QByteArray>
#include <QFutureWatcher>
#include <QObject>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <atomic>
#include <memory>

class QUdpSocket;

// The one object behind the window: the remembered choices, the firmware list of the chosen
// folder, the update run and the TFTP upload of each file.
//
// Threads: the object lives in the GUI thread. Each upload (uploadFile) runs on a thread of the
// global thread pool; what it reports for the window (status text, size, bound port) is handed
// to the object's thread through one function, deliverToObjectThread, and its per-block progress
// through an atomic that the object's thread samples. So every property is written, and every
// notify signal emitted, in the GUI thread only.
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

public:
    // qtftp.cpp: construction, the property getters and setters, the hand-over from the upload.
    explicit QTftp(QObject *parent = nullptr);
    ~QTftp() override;

    [[nodiscard]] QString errorString() const { return m_errorString; }
    [[nodiscard]] QString remoteAddress() const { return m_remoteAddress; }
    [[nodiscard]] quint16 remotePort() const { return m_remotePort; }
    [[nodiscard]] QString localAddress() const { return m_localAddress; }
    [[nodiscard]] quint16 localPort() const { return m_localPort; }
    [[nodiscard]] QStringList ifsList() const { return m_ifsList; }
    [[nodiscard]] int fileSize() const { return m_fileSize; }
    [[nodiscard]] int fileProgress() const { return m_fileProgress; }
    [[nodiscard]] static QString updaterVersion() { return QStringLiteral("1.1.0.9.0.5"); }

    // fileselection.cpp
    // Lists the firmware files of a folder, in sending order, as the next run's file list, and
    // says on the status line what a run will send.
    Q_INVOKABLE void buildFileList(const QUrl &filesFolder);
    // sequencing.cpp
    // Sends every listed file, then the empty "done"; ends with updateCompleted. With no file
    // listed it sends nothing at all.
    Q_INVOKABLE void startUpdate();
    // Asks the running update to stop: the current upload ends after its next reply (so within
    // one reply wait) and no further file is sent. Safe from any thread; startUpdate clears it.
    void cancelUpdate() { cancelRequested.store(true); }
    // The status of an update ended by cancelUpdate.
    [[nodiscard]] static QString cancelledStatus() { return QStringLiteral("Update cancelled"); }
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

    // tftp/transfer.cpp
    // Uploads one file to the device by TFTP; blocks until the device took it or the transfer
    // failed. Runs on a pool thread during a run; the status text says how it ended.
    bool uploadFile(QString fileName, QByteArray fileData);
    // The write request for a file of the size of fileData.
    [[nodiscard]] static QByteArray buildWriteRequest(QString fileName, QByteArray fileData);

    // The position of the current upload in the file list; n stands for "done".
    [[nodiscard]] int currentFileIndex() const { return fileIndex; }
    // The firmware entries of the last listing, in sending order.
    [[nodiscard]] QStringList firmwareList() const { return fileList; }
    // Shortens the wait for each reply. Only tests call this; the program always waits 10 s.
    void setReplyTimeoutForTesting(int milliseconds) { replyTimeoutMs = milliseconds; }

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
    // Fires once at the end of every update run, whether it succeeded or failed.
    void updateCompleted();

private slots: // sequencing.cpp
    void futureFinishHandler();

private:
    // fileselection.cpp
    void appendMatches(const QList<QRegularExpression> &patterns, const QStringList &listing,
                       const QUrl &folder, bool recordErrorTolerant, QStringList &names);
    [[nodiscard]] QString listedFolderText() const;
    // sequencing.cpp
    void sendNextFile();
    // tftp/transfer.cpp
    bool openSocket();
    bool failTransfer(const QString &status);
    bool finishTransfer();

    // qtftp.cpp
    // Status updates written here, on the object's thread.
    void setStatus(const QString &status);
    // The transfer's reports: applied at once on the object's thread, queued to it otherwise.
    void reportStatus(const QString &status);
    void reportFileSize(int size);
    void reportFileProgress(int progress);
    void publishTransferProgress();
    void reportLocalPort(quint16 port);
    template<typename Apply> void deliverToObjectThread(Apply &&apply);

    QFutureWatcher<bool> futureWatcher;
    QString m_localAddress;
    QString m_remoteAddress;
    quint16 m_localPort = 0;
    quint16 m_remotePort = 69;
    QStringList m_ifsList;
    QStringList fileList;
    QUrl listedFolder; // the folder fileList was made from, named in the run's status texts
    int fileIndex = 0;
    QString m_errorString = QStringLiteral("Open a folder to begin");
    // Belongs to the upload task while one runs; the destructor touches it only after the task.
    std::unique_ptr<QUdpSocket> udpSocket;
    int m_fileSize = 1;
    int m_fileProgress = 0;
    // Written by the upload task for every block, read by the object's thread on progressTimer.
    std::atomic<int> transferProgress = 0;
    QTimer progressTimer;
    int replyTimeoutMs = 10000;
    // Set by cancelUpdate from any thread, read by the upload task and the object's thread.
    std::atomic<bool> cancelRequested = false;
};
