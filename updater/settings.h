#pragma once

#include <QLatin1StringView>
#include <QString>

// What the window remembers from one session to the next, in the platform's settings store of
// the organisation and application set at start-up. Nothing of a run is kept here.
namespace Settings {

// The keys, as existing settings files hold them.
inline constexpr QLatin1StringView interfaceKey("savedInterface"); // the system name
inline constexpr QLatin1StringView addressKey("savedAddress"); // the device, as typed
inline constexpr QLatin1StringView folderKey("savedFolder"); // a local path

[[nodiscard]] QString savedInterface();
void saveInterface(const QString &systemName);
[[nodiscard]] QString savedAddress();
// Without the spaces around it: " 10.0.0.7" would come back as typed.
void saveAddress(const QString &address);
[[nodiscard]] QString savedFolder();
void saveFolder(const QString &path);

} // namespace Settings
