#pragma once

#include <QUrl>

// The program's identity, its QML module, its icon theme and the updater's lines in its output:
// set once before the window loads.
// main() and the window tests both call this, so the tests run the program's own set-up.
void setUpApplication();

// The window document carried in the program's resources.
QUrl windowUrl();
