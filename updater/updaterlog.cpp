#include "updaterlog.h"

Q_LOGGING_CATEGORY(updaterLog, "tstx.updater")
