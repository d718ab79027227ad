#pragma once

#include "firmwarefile.h"
#include "updateengine.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonValue>
#include <QList>
#include <QString>

// A time in ISO 8601 with its offset from UTC: 2026-03-14T09:26:53+01:00 (Z for UTC).
QString isoTime(const QDateTime &at);
// The same in a JSON report or record; null for a time that never came.
QJsonValue jsonTime(const QDateTime &at);
// The ERRORs taken as received, as tstx-update's report and the window's records give them.
QJsonArray acceptedErrorsJson(const QList<UpdateEngine::AcceptedError> &errors);

// What one run of the window did, for the technician to hand to support: the fields of
// tstx-update's report, for its one transmitter. Nothing of the settings but what the run used.
struct RunRecord
{
    QDateTime started, ended;
    QString folder; // as the system writes its path
    QString interfaceName; // as the window lists it; empty when the system chose
    QString localAddress;
    quint16 port = 69;
    bool checksumsChecked = false;
    QList<Firmware::Image> images; // names, sizes and SHA-256 of what the run read
    QString device; // as typed
    QString address; // where its files went; empty when nothing was sent
    QString result; // "updated", "failed", "cancelled" or "not started"
    int filesSent = 0; // "done" counting as the last
    int filesTotal = 0;
    qint64 bytes = 0; // firmware bytes the device acknowledged
    QString status; // the status text that ended the run
    QString runText; // the window's line for the run
    QList<UpdateEngine::AcceptedError> acceptedErrors;
};

// Where the records go: a folder of the user's data, made when the first record is written.
QString runRecordsFolder();
// Writes record as a file of its own in runRecordsFolder(); its path, or an empty text with
// error set.
QString writeRunRecord(const RunRecord &record, QString &error);
