#pragma once

// The settings of the television device. "DlnaServer" switches it: absent means on
// unless "RequirePassword" is on (UPnP has no passwords, so a server that asks for
// one does not open a door without it by default), 1 on, 0 off. The device's UDN is
// made once and kept in "DlnaUdn", so televisions know the server again after a
// restart; its name is the server's name ("PCName").

#include <string>

class SettingsStore;

inline constexpr const char* kKeyDlnaServer = "DlnaServer";
inline constexpr const char* kKeyDlnaUdn = "DlnaUdn";

bool IsDlnaServerOn(SettingsStore& settings);

// "uuid:" and a random UUID, stored on first use; a stored value that is not of
// that form is replaced. Empty only when no UUID could be made.
std::string DlnaDeviceUdn(SettingsStore& settings);

// True for "uuid:" followed by 36 characters of hexadecimal digits and hyphens in the
// 8-4-4-4-12 form.
bool IsDeviceUdn(const std::string& text);

// The name televisions list: the server's name, else "Vemba Cast".
std::string DlnaFriendlyName(SettingsStore& settings);
