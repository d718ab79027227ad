// The firmware entry of an arbitrary file name must parse back to exactly that file: the URL's
// local path is the folder's path plus "/" plus the name, and its file name is the name.
#include "fileselection.h"

#include <QString>
#include <QUrl>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1 || size > 1024)
        return 0;
    // Folders whose own names need encoding in a URL, too.
    static const std::array<QString, 4> folders = {
        u"/tmp/firmware"_s,
        u"/home/user/My Firmware #2"_s,
        u"/media/usb/100% [new]?"_s,
        u"/srv/ünïcødé/ファーム"_s,
    };
    const QString &folderPath = folders[data[0] % folders.size()];
    const QString name
        = QString::fromUtf8(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    // Names a directory cannot hold.
    if (name.isEmpty() || name.contains(u'/') || name.contains(QChar(0)) || name == u"."_s
        || name == u".."_s)
        return 0;

    const QString entry = firmwareEntry(QUrl::fromLocalFile(folderPath), name);
    const QUrl parsed(entry, QUrl::TolerantMode);
    const QString expectedPath = folderPath + u'/' + name;
    if (!parsed.isValid() || parsed.toLocalFile() != expectedPath
        || parsed.fileName(QUrl::FullyDecoded) != name) {
        std::fprintf(stderr,
                     "entry does not parse back to its file\n  name:  %s\n  entry: %s\n"
                     "  path:  %s\n  file:  %s\n  valid: %d\n",
                     qPrintable(name), qPrintable(entry), qPrintable(parsed.toLocalFile()),
                     qPrintable(parsed.fileName(QUrl::FullyDecoded)), int(parsed.isValid()));
        std::abort();
    }
    return 0;
}
