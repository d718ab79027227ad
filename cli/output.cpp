#include "output.h"

#include "console.h"
#include "runrecord.h"

#include <QByteArray>
#include <QDateTime>

using namespace Qt::StringLiterals;

void writeBytesTo(std::FILE *stream, const QByteArray &bytes)
{
    // The error indicator stays set after a failed write.
    if (std::ferror(stream))
        return;
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

void writeTo(std::FILE *stream, const QString &text)
{
    writeBytesTo(stream, text.toLocal8Bit());
}

QString timestamp()
{
    return isoTime(QDateTime::currentDateTime());
}

QString coloured(std::FILE *stream, const QString &text, Colour colour)
{
    // Asked once per stream: the answer does not change during a run.
    static const bool toStdout
        = Console::takesEscapes(stdout) && qEnvironmentVariableIsEmpty("NO_COLOR");
    static const bool toStderr
        = Console::takesEscapes(stderr) && qEnvironmentVariableIsEmpty("NO_COLOR");
    if (!(stream == stdout ? toStdout : toStderr))
        return text;
    const QString start = colour == Colour::Red ? u"\x1b[31m"_s
        : colour == Colour::Green               ? u"\x1b[32m"_s
                                                : u"\x1b[33m"_s;
    return start + text + u"\x1b[0m"_s;
}
