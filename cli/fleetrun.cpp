#include "fleetrun.h"

#include "output.h"

#include <algorithm>

using namespace Qt::StringLiterals;

QString resultText(DeviceOutcome::Result result)
{
    switch (result) {
    case DeviceOutcome::Updated:
        return u"updated"_s;
    case DeviceOutcome::Failed:
        return u"failed"_s;
    case DeviceOutcome::Cancelled:
        return u"cancelled"_s;
    case DeviceOutcome::Running:
        return u"running"_s;
    case DeviceOutcome::NotStarted:
        break;
    }
    return u"not started"_s;
}

QString shownResult(const DeviceOutcome &outcome)
{
    const QString text = resultText(outcome.result);
    return outcome.acceptedErrors.isEmpty() ? text : text + u'*';
}

QString shownDevice(const DeviceOutcome &outcome)
{
    const QString typed = outcome.device.trimmed();
    return outcome.address.isEmpty() || outcome.address == typed
        ? outcome.device
        : u"%1 (%2)"_s.arg(outcome.device, outcome.address);
}

QString inResultColour(std::FILE *stream, const DeviceOutcome &outcome, const QString &text)
{
    if (outcome.result == DeviceOutcome::Updated)
        return coloured(stream, text,
                        outcome.acceptedErrors.isEmpty() ? Colour::Green : Colour::Yellow);
    if (outcome.result == DeviceOutcome::Failed)
        return coloured(stream, text, Colour::Red);
    return text;
}

QString acceptedErrorsText(const DeviceOutcome &outcome)
{
    QString text;
    for (const QTftp::AcceptedError &error : outcome.acceptedErrors)
        text += u"; ERROR taken as received for %1: %2 %3, after %4 bytes acknowledged"_s.arg(
            printable(error.fileName), QString::number(error.code), printable(error.message),
            QString::number(error.bytesAcknowledged));
    return text;
}

FleetRun::FleetRun(const QString &localAddress, quint16 port, bool resend)
    : m_localAddress(localAddress)
    , m_port(port)
    , m_resend(resend)
{ }

QString FleetRun::prepare(const QString &folder)
{
    m_listing = listFirmware(folder);
    // It would send only "done", which a transmitter takes for a finished update.
    if (m_listing.names.isEmpty())
        return u"%1 holds no firmware images; see what a run would send with: tstx-update %1 --list"_s
            .arg(printable(folder));
    // Found now, not at the file's turn with the files before it already in every transmitter;
    // and read now, once: a change to the folder during the run changes nothing that is sent.
    m_images = Firmware::readImages(folder, m_listing.names);
    if (m_images.refused())
        return u"%1; nothing was sent: mend the folder, then check it with tstx-update %2 --list"_s
            .arg(printable(m_images.refusal), printable(folder));
    for (const Firmware::Image &image : std::as_const(m_images.images))
        m_files.append({image.name, image.size(), image.sha256});
    return {};
}

void FleetRun::setDevices(const QStringList &devices)
{
    m_devices.resize(size_t(devices.size()));
    for (qsizetype i = 0; i < devices.size(); ++i)
        m_devices[size_t(i)].outcome.device = devices.at(i);
}

void FleetRun::start(int parallel)
{
    m_parallel = parallel;
    startMore();
}

void FleetRun::startMore()
{
    while (!m_interrupted && m_running < m_parallel && m_next < deviceCount()) {
        const int index = m_next++;
        Device &device = m_devices[size_t(index)];
        device.outcome.result = DeviceOutcome::Running;
        ++m_running;
        device.clock.start();
        device.tftp = std::make_unique<QTftp>();
        QTftp *tftp = device.tftp.get();
        tftp->setLocalAddress(m_localAddress);
        tftp->setRemoteAddress(device.outcome.device);
        tftp->setRemotePort(m_port);
        tftp->setResendOnSilence(m_resend);
        // The size of each upload is reported once its write request went out.
        connect(tftp, &QTftp::fileSizeChanged, this, [this, index] { noteUpload(index); });
        connect(tftp, &QTftp::updateCompleted, this, [this, index] { complete(index); });
        // Can end at once (a cancel, say), calling complete() before it returns.
        tftp->startUpdateWith(m_images);
    }
    if (m_running == 0 && !m_finished) {
        m_finished = true;
        emit finished();
    }
}

void FleetRun::interrupt()
{
    m_interrupted = true;
    for (Device &device : m_devices) {
        if (device.outcome.result == DeviceOutcome::Running) {
            device.cancelled = true;
            device.tftp->cancelUpdate();
        }
    }
}

void FleetRun::abandonRunning()
{
    m_interrupted = true;
    for (Device &device : m_devices) {
        if (device.outcome.result != DeviceOutcome::Running)
            continue;
        record(device);
        device.outcome.result = DeviceOutcome::Cancelled;
        device.outcome.status = u"Quit at once (Ctrl+C twice) during %1"_s.arg(
            fileName(device.tftp->currentFileIndex()));
    }
}

void FleetRun::noteUpload(int index)
{
    Device &device = m_devices[size_t(index)];
    if (device.tftp->currentFileIndex() == device.shownFile)
        return;
    device.shownFile = device.tftp->currentFileIndex();
    emit fileStarted(index);
}

void FleetRun::complete(int index)
{
    Device &device = m_devices[size_t(index)];
    DeviceOutcome &outcome = device.outcome;
    record(device);
    // Updated means the device took "done": each file before it went through first.
    if (outcome.filesSent == fileCount())
        outcome.result = DeviceOutcome::Updated;
    else
        outcome.result = device.cancelled ? DeviceOutcome::Cancelled : DeviceOutcome::Failed;
    --m_running;
    // Not from inside its own signal: the object goes once the signal has returned.
    device.tftp.release()->deleteLater();
    emit deviceEnded(index);
    // Later, not from inside the updater's signal, and after a loop in startMore has ended.
    QMetaObject::invokeMethod(this, &FleetRun::startMore, Qt::QueuedConnection);
}

void FleetRun::record(Device &device)
{
    DeviceOutcome &outcome = device.outcome;
    outcome.seconds = double(device.clock.elapsed()) / 1000;
    outcome.filesSent = device.tftp->currentFileIndex();
    outcome.status = device.tftp->errorString();
    outcome.address = device.tftp->deviceAddress();
    outcome.bytes = device.tftp->acknowledgedBytes();
    outcome.acceptedErrors = device.tftp->acceptedErrors();
}

bool FleetRun::allUpdated() const
{
    return std::all_of(m_devices.cbegin(), m_devices.cend(), [](const Device &device) {
        return device.outcome.result == DeviceOutcome::Updated;
    });
}

QString FleetRun::fileName(int index) const
{
    return index < m_files.size() ? m_files.at(index).name : u"done"_s;
}

const DeviceOutcome &FleetRun::outcome(int device) const
{
    return m_devices[size_t(device)].outcome;
}

int FleetRun::currentFile(int device) const
{
    const Device &shown = m_devices[size_t(device)];
    return shown.tftp ? shown.tftp->currentFileIndex() : shown.outcome.filesSent;
}

int FleetRun::percent(int device) const
{
    const QTftp *tftp = m_devices[size_t(device)].tftp.get();
    if (!tftp || tftp->fileSize() <= 0)
        return 0;
    return int(qMin<qint64>(100, qint64(tftp->fileProgress()) * 100 / tftp->fileSize()));
}
