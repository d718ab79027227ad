#pragma once

#include "printable.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <cstdio>

// Text for a terminal, a pipe or a log: made safe, written, timed and coloured.

// Writes text to stream at once, in the local encoding. Once a write to a stream failed (its
// reader went away, the disk is full) nothing more goes to it: the run goes on without it.
void writeTo(std::FILE *stream, const QString &text);
// The local time now in ISO 8601 with its offset from UTC, as a log line starts.
QString timestamp();
// Bytes written to stream as they are, as writeTo writes text.
void writeBytesTo(std::FILE *stream, const QByteArray &bytes);

enum class Colour { Red, Green, Yellow };
// Text in colour when stream (stdout or stderr) is a terminal that shows colours and NO_COLOR is
// not set; otherwise text as it is.
QString coloured(std::FILE *stream, const QString &text, Colour colour);
