#include "options.h"

#include "config/utf8_text.h"
#include "http/allowed_hosts.h"
#include "http/trusted_proxy.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <sys/stat.h>

namespace {

constexpr const char* kForbiddenNameCharacters = "\\/:*?\"<>|";

bool HasControlCharacter(const std::string& text)
{
    return std::any_of(text.begin(), text.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

bool IsFolder(const std::string& path)
{
    struct stat info { };
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string AbsolutePath(const std::string& path)
{
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        return path;
    std::string text = absolute.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/')
        text.pop_back();
    return text;
}

// The folder's last part up to its last dot, as the folder dialog names a share.
std::string NameFromPath(const std::string& path)
{
    std::string last = path.substr(path.find_last_of('/') + 1);
    size_t dot = last.find_last_of('.');
    return std::string(
        TrimBlanks(dot == std::string::npos || dot == 0 ? last : last.substr(0, dot)));
}

bool ParsePort(const std::string& text, int& port, std::string& error)
{
    bool digits = !text.empty() && text.size() <= 5
        && std::all_of(text.begin(), text.end(),
            [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
    int value = digits ? std::stoi(text) : 0;
    if (value < 1 || value > 65535) {
        error = "--port wants a number from 1 to 65535, not '" + text + "'";
        return false;
    }
    port = value;
    return true;
}

bool ParsePassword(const std::string& text, std::string& error)
{
    bool digits = !text.empty() && text.size() <= 4
        && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digits)
        error = "--password wants 1 to 4 decimal digits";
    return digits;
}

} // namespace

bool ParseShareEntry(const std::string& text, const std::vector<FolderListEntry>& earlier,
    FolderListEntry& share, FolderCheck check, std::string& error)
{
    size_t equals = text.find('=');
    if (equals == std::string::npos) {
        error = "--share wants NAME=PATH, not '" + text + "'";
        return false;
    }
    std::string path = std::string(TrimBlanks(text.substr(equals + 1)));
    bool usable = check == FolderCheck::Exists ? IsFolder(path) : path.starts_with("/");
    if (path.empty() || HasControlCharacter(path) || !usable) {
        error = "--share " + text.substr(0, equals) + ": '" + path
            + (check == FolderCheck::Exists ? "' is no folder" : "' is no absolute path");
        return false;
    }
    path = AbsolutePath(path);
    std::string name = std::string(TrimBlanks(text.substr(0, equals)));
    if (name.empty())
        name = NameFromPath(path);
    if (name.empty() || HasControlCharacter(name)
        || name.find_first_of(kForbiddenNameCharacters) != std::string::npos) {
        error = "--share name '" + name + "' is empty or holds one of \\ / : * ? \" < > |";
        return false;
    }
    for (const FolderListEntry& other : earlier) {
        if (other.displayName == name || other.path == path) {
            error = "--share '" + name + "' names the same share or folder twice";
            return false;
        }
    }
    share = FolderListEntry { name, path };
    return true;
}

bool TakeOptionValue(int argc, char** argv, int& index, const std::string& name, std::string& value,
    std::string& error)
{
    std::string argument = argv[index];
    if (argument.size() > name.size() && argument[name.size()] == '=') {
        value = argument.substr(name.size() + 1);
        return true;
    }
    if (index + 1 >= argc) {
        error = name + " wants a value";
        return false;
    }
    value = argv[++index];
    return true;
}

bool IsOption(const std::string& argument, const std::string& name)
{
    return argument == name || argument.starts_with(name + "=");
}

bool ParseSwitch(const std::string& name, const std::string& text, std::optional<bool>& value,
    std::string& error)
{
    if (text != "on" && text != "off") {
        error = name + " wants on or off, not '" + text + "'";
        return false;
    }
    value = text == "on";
    return true;
}

namespace {

bool TakeValue(int argc, char** argv, int& index, const std::string& name, std::string& value,
    std::string& error)
{
    return TakeOptionValue(argc, argv, index, name, value, error);
}

bool Is(const std::string& argument, const std::string& name)
{
    return IsOption(argument, name);
}


bool ParseConsole(const std::string& text, std::string& error)
{
    bool http = text.empty() || (text.starts_with("http://") && text.size() > 7);
    if (!http || HasControlCharacter(text) || text.find(' ') != std::string::npos) {
        error = "--console wants an http:// address, or nothing for the embedded console";
        return false;
    }
    return true;
}

// The network options; false with error set when argument is one of them but malformed.
bool ParseNetworkOption(
    int argc, char** argv, int& i, DaemonOptions& options, bool& known, std::string& error)
{
    std::string argument = argv[i];
    std::string value;
    known = true;
    if (Is(argument, "--port-mapping"))
        return TakeValue(argc, argv, i, "--port-mapping", value, error)
            && ParseSwitch("--port-mapping", value, options.portMapping, error);
    if (Is(argument, "--pin"))
        return TakeValue(argc, argv, i, "--pin", value, error)
            && ParseSwitch("--pin", value, options.pinMode, error);
    if (Is(argument, "--dlna"))
        return TakeValue(argc, argv, i, "--dlna", value, error)
            && ParseSwitch("--dlna", value, options.dlnaServer, error);
    if (Is(argument, "--adapter")) {
        if (!TakeValue(argc, argv, i, "--adapter", value, error))
            return false;
        if (value.empty() || HasControlCharacter(value)) {
            error = "--adapter wants an interface name or address";
            return false;
        }
        options.adapter = value;
        return true;
    }
    if (Is(argument, "--allow-host")) {
        std::optional<std::string> name;
        if (!TakeValue(argc, argv, i, "--allow-host", value, error))
            return false;
        name = HostValueName(value);
        if (!name || value.find(':') != std::string::npos || IsIpAddress(*name)) {
            error = "--allow-host wants a host name without port, not '" + value + "'";
            return false;
        }
        options.allowedHosts.push_back(*name);
        return true;
    }
    if (Is(argument, "--trust-proxy")) {
        std::vector<std::string> rejected;
        if (!TakeValue(argc, argv, i, "--trust-proxy", value, error))
            return false;
        if (TrustedProxies::Parse(value, &rejected).Empty() || !rejected.empty()) {
            error = "--trust-proxy wants an address or network (10.0.0.0/8), not '" + value + "'";
            return false;
        }
        options.trustedProxies.push_back(value);
        return true;
    }
    if (Is(argument, "--console")) {
        if (!TakeValue(argc, argv, i, "--console", value, error) || !ParseConsole(value, error))
            return false;
        options.console = value;
        return true;
    }
    known = false;
    return true;
}

} // namespace

bool ParseDaemonOptions(int argc, char** argv, DaemonOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        std::string value;
        if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (Is(argument, "--data-dir")) {
            if (!TakeValue(argc, argv, i, "--data-dir", value, error))
                return false;
            struct stat info { };
            if (value.empty() || HasControlCharacter(value)
                || (stat(value.c_str(), &info) == 0 && !S_ISDIR(info.st_mode))) {
                error = "--data-dir '" + value + "' is no folder";
                return false;
            }
            options.dataDir = AbsolutePath(value);
        } else if (Is(argument, "--port")) {
            int port = 0;
            if (!TakeValue(argc, argv, i, "--port", value, error) || !ParsePort(value, port, error))
                return false;
            options.port = port;
        } else if (Is(argument, "--share")) {
            FolderListEntry share;
            if (!TakeValue(argc, argv, i, "--share", value, error)
                || !ParseShareEntry(value, options.shares, share, FolderCheck::Exists, error))
                return false;
            options.shares.push_back(share);
        } else if (argument == "--require-password") {
            options.requirePassword = true;
        } else if (Is(argument, "--password")) {
            if (!TakeValue(argc, argv, i, "--password", value, error)
                || !ParsePassword(value, error))
                return false;
            options.password = value;
        } else {
            bool known = false;
            if (!ParseNetworkOption(argc, argv, i, options, known, error))
                return false;
            if (!known && !ParseWebOption(argc, argv, i, options, known, error))
                return false;
            if (!known) {
                error = "unknown argument '" + argument + "' (see --help)";
                return false;
            }
        }
    }
    return true;
}

const char* DaemonUsage()
{
    return "Usage: vembacastd [OPTION]...\n"
           "Runs the VembaCast media server without a window until SIGINT or SIGTERM.\n"
           "\n"
           "  --data-dir DIR     keep settings, folder list and work files in DIR\n"
           "                     (default: $VEMBACAST_DATA_DIR, else\n"
           "                     $XDG_DATA_HOME/Vemba Family/Vemba Cast)\n"
           "  --port N           listen on port N (1-65535; a taken port is replaced by\n"
           "                     the first free one from 47002)\n"
           "  --share NAME=PATH  share the folder PATH under NAME; repeat for more shares.\n"
           "                     Given shares replace the stored folder list.\n"
           "  --password DIGITS  clients must give this password (1 to 4 digits)\n"
           "  --require-password the server checks the password itself: browsers must give\n"
           "                     it, phone apps cannot connect (needs a stored --password)\n"
           "  --port-mapping on|off\n"
           "                     map the port on the router by UPnP (it stays mapped until\n"
           "                     switched off), or remove that mapping\n"
           "  --pin on|off       keep a PIN code at the console, under which phones outside\n"
           "                     the home network find this server\n"
           "  --dlna on|off      let televisions and players find the server on the home\n"
           "                     network (UPnP AV / DLNA; on by default unless\n"
           "                     --require-password)\n"
           "  --adapter NAME     serve on the network interface NAME (or with that address)\n"
           "  --console URL      the console's http:// root address; an empty URL uses the\n"
           "                     embedded console (the default)\n"
           "  --allow-host NAME  answer requests for the host name NAME too (besides\n"
           "                     addresses, localhost and this machine's names); repeat\n"
           "                     for more\n"
           "  --trust-proxy ADDR believe the X-Forwarded-For, -Proto and -Host headers of\n"
           "                     the reverse proxy at ADDR (an address or a network);\n"
           "                     repeat for more\n"
           "  --tls-port N       serve HTTPS on port N as well (0 switches it off); needs\n"
           "  --tls-cert FILE    the certificate (PEM, with its intermediates) and\n"
           "  --tls-key FILE     its unencrypted private key (PEM); SIGHUP reads both again\n"
           "  --hsts SECONDS     send Strict-Transport-Security for that long (0: never,\n"
           "                     the default)\n"
           "  --base-path PATH   the prefix a reverse proxy serves the server under\n"
           "                     (/media); the proxy strips it, the browser client's\n"
           "                     paths carry it\n"
           "  --server-off on|off\n"
           "                     allow phones of the home network to power the computer off\n"
           "  --shares-file FILE the shares, one NAME=PATH a line ('#' starts a comment);\n"
           "                     read at every start, it replaces the stored list\n"
           "  --version          show the version\n"
           "  --help             show this text\n"
           "\n"
           "With --port, --share or --password the settings are written (the server counts\n"
           "as set up); missing network settings are filled with defaults either way. The\n"
           "network options are kept for later starts. Every start checks the network\n"
           "settings and prints one line with the result; when the network has changed the\n"
           "settings are refilled and the mapping and PIN code the user switched on redone.\n"
           "A malformed option prints one line and exits with status 2, writing nothing;\n"
           "a server that cannot start exits with status 1. Under systemd the daemon\n"
           "reports readiness and feeds the watchdog while it answers on the loopback\n"
           "address, and its lines go to standard error with syslog priorities.\n";
}
