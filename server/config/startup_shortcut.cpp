#include "config/settings.h"
#include "platform/file_io.h"
#include "platform/places.h"

#include <cstdio>
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
    std::string entry = "[Desktop Entry]\nType=Application\nName=Vemba Cast\nComment=\n";
    entry += "Exec=" + ExecValue(executable) + "\n";
    entry += "Path=" + programFolder + "\n";
    entry += "Terminal=false\nX-GNOME-Autostart-enabled=true\n";
    ReplaceFileWhole(shortcut, entry);
}
