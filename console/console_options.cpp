#include "console/console_options.h"

#include "config/utf8_text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>

namespace {

bool IsAddress(const std::string& text)
{
    unsigned char buffer[16];
    return inet_pton(AF_INET, text.c_str(), buffer) == 1
        || inet_pton(AF_INET6, text.c_str(), buffer) == 1;
}

bool ParseNumber(const std::string& text, int low, int high, int& value)
{
    if (text.empty() || text.size() > 9
        || !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c); }))
        return false;
    value = std::stoi(text);
    return value >= low && value <= high;
}

// "--name value" or "--name=value".
bool TakeValue(int argc, char** argv, int& index, const std::string& name, std::string& value)
{
    std::string argument = argv[index];
    if (argument.size() > name.size() && argument[name.size()] == '=') {
        value = argument.substr(name.size() + 1);
        return true;
    }
    if (argument != name || index + 1 >= argc)
        return false;
    value = argv[++index];
    return true;
}

bool Is(const std::string& argument, const std::string& name)
{
    return argument == name || argument.starts_with(name + "=");
}

bool ParseOne(int argc, char** argv, int& i, ConsoleOptions& options, std::string& error)
{
    std::string argument = argv[i];
    std::string value;
    auto take = [&](const char* name) {
        if (TakeValue(argc, argv, i, name, value))
            return true;
        error = std::string(name) + " wants a value";
        return false;
    };
    if (argument == "--help" || argument == "-h") {
        options.help = true;
    } else if (Is(argument, "--address")) {
        if (!take("--address"))
            return false;
        if (!IsAddress(value))
            return error = "--address wants an IPv4 or IPv6 address", false;
        options.address = value.find(':') != std::string::npos ? "[" + value + "]" : value;
    } else if (Is(argument, "--port")) {
        if (!take("--port") || !ParseNumber(value, 0, 65535, options.port))
            return error = "--port wants a number from 0 to 65535", false;
    } else if (Is(argument, "--database")) {
        if (!take("--database") || value.empty())
            return error = "--database wants a file name", false;
        options.database = value;
    } else if (Is(argument, "--trust-proxy")) {
        if (!take("--trust-proxy") || !IsAddress(value))
            return error = "--trust-proxy wants the proxy's address", false;
        options.trustedProxies.insert(value);
    } else if (Is(argument, "--max-failed-lookups")) {
        if (!take("--max-failed-lookups")
            || !ParseNumber(value, 1, 1000000, options.maxFailedLookups))
            return error = "--max-failed-lookups wants a number from 1", false;
    } else if (Is(argument, "--lookup-window")) {
        if (!take("--lookup-window")
            || !ParseNumber(value, 1, 100000000, options.lookupWindowSeconds))
            return error = "--lookup-window wants a number of seconds from 1", false;
    } else if (Is(argument, "--latest-version")) {
        if (!take("--latest-version") || value.empty())
            return error = "--latest-version wants a version such as 1.2.0.0", false;
        options.latestVersion = value;
    } else if (Is(argument, "--download-url")) {
        if (!take("--download-url"))
            return false;
        options.downloadUrl = value;
    } else {
        error = "unknown argument '" + argument + "' (see --help)";
        return false;
    }
    return true;
}

} // namespace

bool ParseConsoleOptions(int argc, char** argv, ConsoleOptions& options, std::string& error)
{
    for (int i = 1; i < argc; ++i) {
        if (!ParseOne(argc, argv, i, options, error))
            return false;
    }
    return true;
}

std::string RequesterAddress(const std::string& peer, const std::string& forwardedFor,
    const std::set<std::string>& trustedProxies)
{
    if (forwardedFor.empty() || !trustedProxies.contains(peer))
        return peer;
    size_t comma = forwardedFor.find_last_of(',');
    std::string last = std::string(
        TrimBlanks(comma == std::string::npos ? forwardedFor : forwardedFor.substr(comma + 1)));
    return IsAddress(last) ? last : peer;
}

const char* ConsoleUsage()
{
    return "Usage: vembacast-console [OPTION]...\n"
           "Serves the VembaCast console: tells servers their external address and keeps\n"
           "their PIN codes, so phones outside the home network can find them.\n"
           "\n"
           "  --address ADDR           listen on ADDR (default 0.0.0.0)\n"
           "  --port N                 listen on port N (default 47080; 0 picks a free one)\n"
           "  --database FILE          the SQLite file of the PIN codes\n"
           "                           (default ./vembacast-console.sqlite)\n"
           "  --trust-proxy ADDR       believe X-Forwarded-For from the proxy at ADDR;\n"
           "                           repeat for more proxies\n"
           "  --max-failed-lookups N   look-ups of unknown PIN codes one address may make\n"
           "                           within the window (default 10)\n"
           "  --lookup-window SECONDS  the window of that limit (default 600)\n"
           "  --latest-version V       the version the update check reports\n"
           "  --download-url URL       the download address the update check reports\n"
           "  --help                   show this text\n";
}
