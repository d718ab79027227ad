#include "printable.h"

using namespace Qt::StringLiterals;

QString printable(QStringView text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        const char16_t code = c.unicode();
        if (code >= 0x20 && (code < 0x7f || code > 0x9f))
            shown += c;
        else if (code == u'\n')
            shown += u"\\n"_s;
        else if (code == u'\r')
            shown += u"\\r"_s;
        else if (code == u'\t')
            shown += u"\\t"_s;
        else
            shown += u"\\x"_s + QString::number(code, 16).rightJustified(2, u'0');
    }
    return shown;
}

QString shownText(QStringView text)
{
    // Only as much is escaped as can be shown: a device's text may be as long as a datagram.
    QString shown = printable(text.first(qMin(text.size(), shownTextLimit + 1)));
    if (shown.size() <= shownTextLimit && text.size() <= shownTextLimit)
        return shown;
    shown.truncate(shownTextLimit);
    // Not between the two halves of a surrogate pair.
    if (shown.back().isHighSurrogate())
        shown.chop(1);
    return shown + u'…';
}
