#include "config/settings.h"
#include "platform/places.h"

#include <cstdio>
#include <fstream>
#include <limits.h>
#include <unistd.h>

namespace {

constexpr const char* kShortcutName = "Vemba Cast.desktop";

std::string RunningExecutable()
{
    char buffer[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    return length > 0 ? std::string(buffer, static_cast<size_t>(length)) : std::string();
}

// The Exec value: the path in double quotes, with the characters that quoting
// does not protect escaped, "%" doubled for field codes, and "\" doubled for the
// string value the desktop file itself is.
std::string ExecValue(const std::string& executable)
{
    std::string quoted = "\"";
    for (char c : executable) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            quoted += "\\\\";
        if (c == '%')
            quoted += '%';
        quoted += c;
    }
    return quoted + "\"";
}

// A value must stay on its line.
bool IsOneLine(const std::string& text)
{
    return text.find_first_of("\r\n") == std::string::npos;
}

} // namespace

void SetStartupShortcut(StartupShortcut state)
{
    std::string folder = GetStartupFolder();
    if (folder.empty())
        return;
    std::string shortcut = folder + "/" + kShortcutName;
    if (state == StartupShortcut::Off) {
        if (FileExists(shortcut))
            std::remove(shortcut.c_str());
        return;
    }
    std::string executable = RunningExecutable();
    std::string programFolder = GetProgramFolder();
    if (executable.empty() || !IsOneLine(executable) || !IsOneLine(programFolder))
        return;
    CreateFolderPath(folder);
    std::string temporary = shortcut + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out)
            return;
        out << "[Desktop Entry]\n"
            << "Type=Application\n"
            << "Name=Vemba Cast\n"
            << "Comment=\n"
            << "Exec=" << ExecValue(executable) << "\n"
            << "Path=" << programFolder << "\n"
            << "Terminal=false\n"
            << "X-GNOME-Autostart-enabled=true\n";
        if (!out.flush()) {
            out.close();
            std::remove(temporary.c_str());
            return;
        }
    }
    if (std::rename(temporary.c_str(), shortcut.c_str()) != 0)
        std::remove(temporary.c_str());
}
