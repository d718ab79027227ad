#include "runrecord.h"

#include "version.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

QString isoTime(const QDateTime &at)
{
    // A local QDateTime would leave the offset out.
    return at.toOffsetFromUtc(at.offsetFromUtc()).toString(Qt::ISODate);
}

QString runRecordsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + u"/runs"_s;
}

QJsonValue jsonTime(const QDateTime &at)
{
    return at.isValid() ? QJsonValue(isoTime(at)) : QJsonValue(QJsonValue::Null);
}

QJsonArray acceptedErrorsJson(const QList<UpdateEngine::AcceptedError> &errors)
{
    QJsonArray array;
    for (const UpdateEngine::AcceptedError &accepted : errors)
        array.append(QJsonObject {{u"file"_s, accepted.fileName},
                                  {u"code"_s, accepted.code},
                                  {u"message"_s, accepted.message},
                                  {u"bytesAcknowledged"_s, accepted.bytesAcknowledged}});
    return array;
}

QString writeRunRecord(const RunRecord &record, QString &error)
{
    QJsonArray files;
    for (const Firmware::Image &image : record.images)
        files.append(QJsonObject {
            {u"name"_s, image.name}, {u"size"_s, image.size()}, {u"sha256"_s, image.sha256}});
    const double seconds = record.started.isValid() && record.ended.isValid()
        ? double(record.started.msecsTo(record.ended)) / 1000
        : 0;
    const QJsonObject device {{u"device"_s, record.device},
                              {u"address"_s, record.address},
                              {u"result"_s, record.result},
                              {u"filesSent"_s, record.filesSent},
                              {u"filesTotal"_s, record.filesTotal},
                              {u"bytes"_s, record.bytes},
                              {u"seconds"_s, seconds},
                              {u"started"_s, jsonTime(record.started)},
                              {u"ended"_s, jsonTime(record.ended)},
                              {u"status"_s, record.status},
                              {u"acceptedErrors"_s, acceptedErrorsJson(record.acceptedErrors)}};
    const QJsonObject document {{u"tool"_s, u"TsTxUpdater"_s},
                                {u"version"_s, toolVersion()},
                                {u"started"_s, jsonTime(record.started)},
                                {u"ended"_s, jsonTime(record.ended)},
                                {u"folder"_s, record.folder},
                                {u"interface"_s, record.interfaceName},
                                {u"localAddress"_s, record.localAddress},
                                {u"port"_s, record.port},
                                {u"sha256sumsChecked"_s, record.checksumsChecked},
                                {u"files"_s, files},
                                {u"devices"_s, QJsonArray {device}},
                                {u"run"_s, record.runText}};
    const QDir folder(runRecordsFolder());
    if (!folder.mkpath(u"."_s)) {
        error = u"cannot make the folder %1"_s.arg(QDir::toNativeSeparators(folder.path()));
        return {};
    }
    // Named by the run's start, so that the files sort as the runs came; never one replaced.
    const QString stem = u"run-"_s + record.started.toString(u"yyyyMMdd-HHmmss-zzz"_s);
    for (int attempt = 0; attempt < 100; ++attempt) {
        QFile file(
            folder.filePath(stem + (attempt ? u"-%1"_s.arg(attempt) : QString()) + u".json"_s));
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (file.exists())
                continue;
            error = file.errorString();
            return {};
        }
        const QByteArray bytes = QJsonDocument(document).toJson();
        if (file.write(bytes) != bytes.size() || !file.flush()) {
            error = file.errorString();
            file.remove();
            return {};
        }
        return file.fileName();
    }
    error = u"too many runs at the same moment"_s;
    return {};
}
