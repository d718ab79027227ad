#pragma once

#include <QString>
#include <QtGlobal>

// What the upload of one file (QTftp::uploadFile, transfer.cpp) shares with the update run.
namespace Tftp {

// The status for a file of size bytes, more than one transfer can carry (maxFileSize). In a run
// file is the path of the firmware file: sendFile refuses it before reading it. uploadFile's own
// guard, for callers that hand it the bytes, names the file as it would send it.
QString tooLargeStatus(const QString &file, qint64 size);

} // namespace Tftp
