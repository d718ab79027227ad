// QTftp's side of one upload: the request made of its members, and the upload's reports handed
// to the object's thread. The protocol itself is Tftp::Upload's.
#include "deviceaddress.h"
#include "packets.h"
#include "qtftp.h"

// Runs on the upload's thread: it only hands each report to the object's thread.
class QTftp::UploadReports final : public Tftp::Upload::Observer
{
public:
    UploadReports(QTftp &tftp, QString fileName)
        : m_tftp(tftp)
        , m_fileName(std::move(fileName))
    { }

    void localPortBound(quint16 port) override { m_tftp.reportLocalPort(port); }
    void statusChanged(const QString &status) override { m_tftp.reportStatus(status); }
    void deviceAddressResolved(const QHostAddress &address) override
    {
        m_tftp.reportDeviceAddress(address.toString());
    }
    void fileSizeKnown(qint64 size) override { m_tftp.reportFileSize(int(size)); }
    void progressed(qint64 bytesOnTheWire) override
    {
        m_tftp.reportFileProgress(int(bytesOnTheWire));
    }
    void acknowledged(qint64 bytes) override { m_tftp.transferAcknowledged.store(bytes); }
    void errorAccepted(quint16 code, const QString &message, qint64 bytesAcknowledged) override
    {
        m_tftp.reportAcceptedError({m_fileName, code, message, bytesAcknowledged});
    }

private:
    QTftp &m_tftp;
    QString m_fileName;
};

bool QTftp::uploadFile(QString fileName, QByteArray fileData)
{
    // Refused here as a run refuses it before its first file: nothing goes out.
    if (const QString problem = addressProblem(m_remoteAddress); !problem.isEmpty()) {
        reportStatus(problem);
        return false;
    }
    return runUpload(uploadRequest(fileName, fileData));
}

Tftp::Upload::Request QTftp::uploadRequest(const QString &fileName,
                                           const QByteArray &fileData) const
{
    // Read as typed: 192.168.001.010 is refused, never taken for 192.168.1.8.
    const DeviceAddress device = readDeviceAddress(m_remoteAddress);
    return {.localAddress = m_localAddress,
            .deviceAddress = device.address,
            .deviceName = device.isHostName() ? device.text : QString(),
            .remotePort = m_remotePort,
            .fileName = fileName,
            .fileData = fileData,
            .errorCountsAsTaken = errorTolerantFiles.contains(fileName.toLower()),
            .cancelRequested = &cancelRequested,
            .replyTimeoutMs = replyTimeoutMs,
            .plainSocketPath = plainSocketPath,
            .resendOnSilence = resendOnSilence};
}

bool QTftp::runUpload(const Tftp::Upload::Request &request)
{
    UploadReports reports(*this, request.fileName);
    return Tftp::Upload(request, reports).run();
}

QByteArray QTftp::buildWriteRequest(QString fileName, QByteArray fileData)
{
    return Tftp::writeRequest(fileName, fileData.size());
}

QString QTftp::cancelledStatus()
{
    return Tftp::Upload::cancelledStatus();
}
