#include "settings.h"

#include <QSettings>

namespace Settings {

namespace {
QString value(QLatin1StringView key)
{
    return QSettings().value(key).toString();
}
void setValue(QLatin1StringView key, const QString &value)
{
    QSettings().setValue(key, value);
}
} // namespace

QString savedInterface()
{
    return value(interfaceKey);
}

void saveInterface(const QString &systemName)
{
    setValue(interfaceKey, systemName);
}

QString savedAddress()
{
    return value(addressKey);
}

void saveAddress(const QString &address)
{
    setValue(addressKey, address.trimmed());
}

QString savedFolder()
{
    return value(folderKey);
}

void saveFolder(const QString &path)
{
    setValue(folderKey, path);
}

} // namespace Settings
