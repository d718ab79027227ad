#pragma once

#include <QString>
#include <QUrl>

// The firmware list entry of a file in a folder: the folder's URL text, "/", and the file name.
// Characters that would end a URL path ("%", "#", "?", ...) are percent-encoded, so the entry
// parses back to exactly this file; an ordinary name stands as it is.
QString firmwareEntry(const QUrl &folder, const QString &fileName);
