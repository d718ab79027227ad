#include "fleetrun.h"

#include "deviceaddress.h"
#include "output.h"

#include <QHash>

#include <algorithm>
#include <limits>

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
    case DeviceOutcome::AlreadyUpdated:
        return u"already updated"_s;
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
    if (outcome.result == DeviceOutcome::AlreadyUpdated)
        return coloured(stream, text, Colour::Green);
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
    for (const UpdateEngine::AcceptedError &error : outcome.acceptedErrors)
        text += u"; ERROR taken as received for %1: %2 %3, after %4 bytes acknowledged"_s.arg(
            printable(error.fileName), QString::number(error.code), printable(error.message),
            QString::number(error.bytesAcknowledged));
    return text;
}

FleetRun::FleetRun(const UpdateEngine::Options &options, bool strict)
    : m_options(options)
    , m_strict(strict)
{ }

QString FleetRun::prepare(const QString &folder)
{
    m_listing = listFirmware(folder);
    // It would send only "done", which a transmitter takes for a finished update.
    if (m_listing.names.isEmpty() && m_listing.folderProblem.isEmpty())
        return u"%1 holds no firmware images; see what a run would send with: tstx-update %1 --list"_s
            .arg(printable(folder));
    // Found now, not at the file's turn with the files before it already in every transmitter;
    // and read now, once: a change to the folder during the run changes nothing that is sent.
    m_images = std::make_shared<const Firmware::ImageSet>(Firmware::readImages(folder, m_listing));
    if (m_images->refused())
        return u"%1; nothing was sent: mend the folder, then check it with tstx-update %2 --list"_s
            .arg(printable(m_images->refusal), printable(folder));
    if (const QStringList found = warnings(std::numeric_limits<qsizetype>::max());
        m_strict && !found.isEmpty())
        return u"--strict refuses the folder, sending nothing: %1"_s.arg(
            printable(found.join(u"; "_s)));
    for (const Firmware::Image &image : std::as_const(m_images->images))
        m_files.append({image.name, image.size(), image.sha256});
    return {};
}

QStringList FleetRun::warnings(qsizetype namesShown) const
{
    return m_listing.warnings(namesShown) + (m_images ? m_images->warnings : QStringList());
}

QString FleetRun::setDevices(const QStringList &devices, const InterfaceList &interfaces,
                             const HostLookup &lookup)
{
    m_devices.resize(size_t(devices.size()));
    // Two updates of one transmitter at once would run into each other, whatever it was called.
    QHash<QHostAddress, int> byAddress;
    for (qsizetype i = 0; i < devices.size(); ++i) {
        Device &device = m_devices[size_t(i)];
        device.outcome.device = devices.at(i);
        const DeviceAddress read = readDeviceAddress(devices.at(i));
        device.target = resolveDevice(read, interfaces, lookup);
        // An address typed that cannot be one transmitter is a slip in the list; a name that
        // leads nowhere fails that transmitter alone.
        if (!device.target.usable() && !read.isHostName())
            return u"the device "_s + printable(device.target.problem);
        if (!device.target.usable())
            continue;
        if (const auto seen = byAddress.constFind(device.target.address); seen != byAddress.cend())
            return u"the devices %1 and %2 both lead to %3; list each transmitter once"_s.arg(
                printable(devices.at(*seen)), printable(devices.at(i)),
                device.target.address.toString());
        byAddress.insert(device.target.address, int(i));
    }
    return {};
}

void FleetRun::skip(const QSet<QString> &devices)
{
    for (Device &device : m_devices) {
        if (devices.contains(device.outcome.device.trimmed())) {
            device.outcome.result = DeviceOutcome::AlreadyUpdated;
            device.outcome.status = u"Already updated with these images"_s;
        }
    }
}

void FleetRun::start(int parallel)
{
    m_parallel = parallel;
    m_startedAt = QDateTime::currentDateTime();
    startMore();
}

void FleetRun::startMore()
{
    while (!m_interrupted && m_stopReason.isEmpty() && m_running < m_parallel
           && m_next < deviceCount()) {
        // The canaries first, on their own: the others wait until all of them are updated.
        if (m_next == m_canary && m_running > 0)
            break;
        if (m_next == m_canary && m_next > 0 && m_failures > 0) {
            m_stopReason = u"a canary was not updated"_s;
            break;
        }
        const int index = m_next++;
        Device &device = m_devices[size_t(index)];
        if (device.outcome.result == DeviceOutcome::AlreadyUpdated) {
            emit deviceEnded(index);
            continue;
        }
        // Nothing to send to: it fails alone, before anything went to it.
        if (!device.target.usable()) {
            device.outcome.result = DeviceOutcome::Failed;
            device.outcome.status = device.target.problem;
            noteFailure();
            emit deviceEnded(index);
            continue;
        }
        device.outcome.result = DeviceOutcome::Running;
        device.outcome.address = device.target.address.toString();
        ++m_running;
        device.clock.start();
        device.outcome.started = QDateTime::currentDateTime();
        device.engine = std::make_unique<UpdateEngine>(m_images, device.target.address, m_options);
        UpdateEngine *engine = device.engine.get();
        // The size of each upload is reported once its write request went out.
        connect(engine, &UpdateEngine::fileSizeKnown, this, [this, index] { noteUpload(index); });
        connect(engine, &UpdateEngine::ended, this, [this, index] { complete(index); });
        engine->start();
    }
    if (m_running == 0 && !m_finished
        && (m_interrupted || !m_stopReason.isEmpty() || m_next == deviceCount())) {
        m_finished = true;
        m_endedAt = QDateTime::currentDateTime();
        emit finished();
    }
}

void FleetRun::interrupt()
{
    m_interrupted = true;
    for (Device &device : m_devices) {
        if (device.outcome.result == DeviceOutcome::Running) {
            device.cancelled = true;
            device.engine->cancel();
        }
    }
}

void FleetRun::abandonRunning()
{
    m_interrupted = true;
    m_endedAt = QDateTime::currentDateTime();
    for (Device &device : m_devices) {
        if (device.outcome.result != DeviceOutcome::Running)
            continue;
        record(device);
        device.outcome.result = DeviceOutcome::Cancelled;
        device.outcome.status = u"Quit at once (Ctrl+C twice) during %1"_s.arg(
            fileName(device.engine->currentFileIndex()));
    }
}

void FleetRun::noteUpload(int index)
{
    Device &device = m_devices[size_t(index)];
    if (device.engine->currentFileIndex() == device.shownFile)
        return;
    device.shownFile = device.engine->currentFileIndex();
    emit fileStarted(index);
}

void FleetRun::complete(int index)
{
    Device &device = m_devices[size_t(index)];
    DeviceOutcome &outcome = device.outcome;
    record(device);
    // Updated means the device took "done": each file before it went through first.
    switch (device.engine->outcome()) {
    case UpdateEngine::Outcome::Complete:
        outcome.result = DeviceOutcome::Updated;
        break;
    case UpdateEngine::Outcome::Cancelled:
        outcome.result = DeviceOutcome::Cancelled;
        break;
    default:
        outcome.result = device.cancelled ? DeviceOutcome::Cancelled : DeviceOutcome::Failed;
    }
    if (outcome.result == DeviceOutcome::Failed)
        noteFailure();
    --m_running;
    // Not from inside its own signal: the engine goes once the signal has returned.
    device.engine.release()->deleteLater();
    emit deviceEnded(index);
    // Later, not from inside the engine's signal, and after a loop in startMore has ended.
    QMetaObject::invokeMethod(this, &FleetRun::startMore, Qt::QueuedConnection);
}

void FleetRun::noteFailure()
{
    // A bad image found on the first transmitters is not rolled out to the rest.
    if (++m_failures == m_maxFailures && m_maxFailures > 0)
        m_stopReason = u"%1 failed (--max-failures %2)"_s.arg(counted(m_failures, u"transmitter"_s),
                                                              QString::number(m_maxFailures));
}

void FleetRun::record(Device &device)
{
    DeviceOutcome &outcome = device.outcome;
    outcome.ended = QDateTime::currentDateTime();
    const UpdateEngine &engine = *device.engine;
    outcome.seconds = double(device.clock.elapsed()) / 1000;
    outcome.filesSent = engine.outcome() == UpdateEngine::Outcome::Complete
        ? engine.fileCount()
        : engine.currentFileIndex();
    outcome.status = engine.status();
    outcome.bytes = engine.acknowledgedBytes();
    outcome.acceptedErrors = engine.acceptedErrors();
}

bool FleetRun::allUpdated() const
{
    return std::all_of(m_devices.cbegin(), m_devices.cend(), [this](const Device &device) {
        return device.outcome.result == DeviceOutcome::AlreadyUpdated
            || (device.outcome.result == DeviceOutcome::Updated
                && !(m_strict && !device.outcome.acceptedErrors.isEmpty()));
    });
}

QString FleetRun::fileName(int index) const
{
    return index < m_files.size() ? m_files.at(index).name : UpdateEngine::endMarker;
}

const DeviceOutcome &FleetRun::outcome(int device) const
{
    return m_devices[size_t(device)].outcome;
}

int FleetRun::currentFile(int device) const
{
    const Device &shown = m_devices[size_t(device)];
    return shown.engine ? shown.engine->currentFileIndex() : shown.outcome.filesSent;
}

int FleetRun::percent(int device) const
{
    const UpdateEngine *engine = m_devices[size_t(device)].engine.get();
    if (!engine || engine->fileSize() <= 0)
        return 0;
    return int(qMin<qint64>(100, engine->sampledProgress() * 100 / engine->fileSize()));
}
