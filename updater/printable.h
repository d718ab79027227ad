#pragma once

#include <QString>
#include <QStringView>

// Text from outside (a device's ERROR message, file and device names) made safe to show: C0
// controls, DEL and C1 controls are shown as escapes (\n, \x1b, \x9b) instead of acting, so that
// a newline cannot start a line of its own and an escape sequence cannot drive a terminal.
QString printable(QStringView text);

// The most of a text the window shows: enough for any message of the tool's own with a device's
// sentence in it, few enough lines that the window stays on the screen.
inline constexpr qsizetype shownTextLimit = 400;

// Text as the window shows it: printable, and cut after shownTextLimit characters, with "…".
QString shownText(QStringView text);
