#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QtGlobal>

#include <atomic>
#include <memory>

class QUdpSocket;
class DatagramChannel;

namespace Tftp {

// The client side of one TFTP write: the socket, the look-up of the device, the write request
// with "tsize", the lock-step exchange of DATA blocks and acknowledgements, and the status that
// says how it ended. Blocks its thread until then; knows nothing of who called it.
class Upload
{
public:
    // Everything one upload needs, by value.
    struct Request
    {
        QString localAddress; // the socket is bound here, at a port the system chooses
        QHostAddress deviceAddress; // the device, where its address is known
        QString deviceName; // otherwise its host name, looked up first
        quint16 remotePort = 69; // where the write request goes
        QString fileName; // the bare name, in the write request and the status
        QByteArray fileData; // the whole file; empty for "done"
        bool errorCountsAsTaken = false; // a primary image: an ERROR reply means received
        // Checked before the write request and before each further block; may be null.
        const std::atomic<bool> *cancelRequested = nullptr;
        int replyTimeoutMs = 10000; // tests shorten it; the program always waits 10 s
        bool plainSocketPath = false; // QUdpSocket alone, as platforms without a native path
        // Sends the last packet again when the device stays silent for longer than its round
        // trips lead one to expect. Off by default: some devices write a repeated block twice.
        bool resendOnSilence = false;
    };

    // What the upload tells as it goes, on the upload's own thread; a report not overridden is
    // ignored.
    class Observer
    {
    public:
        virtual ~Observer() = default;
        // The socket got this port (also when binding failed: then it is 0).
        virtual void localPortBound(quint16 /*port*/) { }
        // "Sending file NAME" once bound, then the status that ends the upload.
        virtual void statusChanged(const QString & /*status*/) { }
        // The address the write request goes to, once the look-up found it.
        virtual void deviceAddressResolved(const QHostAddress & /*address*/) { }
        // The write request went out for a file of size bytes; progress starts at 0.
        virtual void fileSizeKnown(qint64 /*size*/) { }
        // The bytes of DATA packets sent so far, headers included: 0, then after every block.
        virtual void progressed(qint64 /*bytesOnTheWire*/) { }
        // The file's bytes the device has acknowledged so far.
        virtual void acknowledged(qint64 /*bytes*/) { }
        // The device answered a primary image with an ERROR, taken as received.
        virtual void errorAccepted(quint16 /*code*/, const QString & /*message*/,
                                   qint64 /*bytesAcknowledged*/)
        { }
    };

    // How an upload that returned false failed, for callers that act on it (the status says it
    // in words).
    enum class Failure {
        None,
        Cancelled, // the cancel flag was set
        TooLarge, // more than one transfer carries
        BindFailed, // the socket could not take the local address
        LookupFailed, // the device's host name led nowhere
        SendFailed, // the system refused to send: mostly no route from the local address
        NoReply, // the device stayed silent, or nothing listens at its port
        DeviceError, // the device answered with an ERROR
        ProtocolError, // the device answered out of turn or with a malformed packet
    };

    Upload(Request request, Observer &observer);
    ~Upload();
    Upload(const Upload &) = delete;
    Upload &operator=(const Upload &) = delete;

    // Sends the file; true when the device took it ("No Error"), false with the reason told.
    bool run();
    [[nodiscard]] Failure failure() const { return m_failure; }

    // The status of an upload stopped by its cancel flag.
    [[nodiscard]] static QString cancelledStatus();
    // The text of the ERROR that tells the device an upload was stopped, so that it drops the
    // part it has.
    [[nodiscard]] static QByteArray stoppedErrorText();
    // The sentence for something of size bytes, more than one upload carries: what is
    // "File a.bin", "a.bin" or a path, as the caller names it.
    [[nodiscard]] static QString tooLargeText(const QString &what, qint64 size);

private:
    bool exchange(DatagramChannel &channel, const QHostAddress &device,
                  const QByteArray &requestPacket);
    // Every way out: the status told, the socket closed, the result returned.
    bool fail(Failure failure, const QString &status);
    bool finish();

    Request m_request;
    Observer &m_observer;
    std::unique_ptr<QUdpSocket> m_socket;
    Failure m_failure = Failure::None;
};

} // namespace Tftp
