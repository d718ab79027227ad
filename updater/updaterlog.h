#pragma once

#include <QLoggingCategory>

// The updater's debugging lines: each listing, each upload and how it ended. Support compares
// technicians' logs against them, so their texts stay as they are. The window shows them without
// the category's name (setUpApplication); tstx-update only with --verbose.
Q_DECLARE_LOGGING_CATEGORY(updaterLog)
