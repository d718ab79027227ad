#include "version.h"

QString toolVersion()
{
    return QStringLiteral(TSTX_UPDATER_VERSION);
}
