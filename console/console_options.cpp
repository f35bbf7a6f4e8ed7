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

struct NumberOption {
    const char* name;
    int low;
    int high;
    int ConsoleOptions::*field;
    const char* what;
};

const NumberOption kNumberOptions[] = {
    { "--max-registrations", 1, 1000000, &ConsoleOptions::maxRegistrations,
        "a number of registrations from 1" },
    { "--registration-window", 1, 100000000, &ConsoleOptions::registrationWindowSeconds,
        "a number of seconds from 1" },
    { "--codes-per-server", 1, 1000, &ConsoleOptions::codesPerServer, "a number from 1 to 1000" },
    { "--registration-lifetime", 1, 100000, &ConsoleOptions::registrationLifetimeDays,
        "a number of days from 1" },
    { "--workers", 1, 1024, &ConsoleOptions::workers, "a number from 1 to 1024" },
    { "--max-connections-per-address", 1, 100000, &ConsoleOptions::maxConnectionsPerAddress,
        "a number from 1" },
    { "--header-timeout", 100, 600000, &ConsoleOptions::headerTimeoutMs,
        "milliseconds from 100 to 600000" },
    { "--body-timeout", 100, 600000, &ConsoleOptions::bodyTimeoutMs,
        "milliseconds from 100 to 600000" },
};

enum class Parsed { NotMine, Taken, Bad };

// The numeric limits of the front and the registry.
template <typename Take>
Parsed ParseNumberOption(const std::string& argument, Take& take, std::string& value,
    ConsoleOptions& options, std::string& error)
{
    for (const NumberOption& option : kNumberOptions) {
        if (!Is(argument, option.name))
            continue;
        if (!take(option.name)
            || !ParseNumber(value, option.low, option.high, options.*option.field))
            return error = std::string(option.name) + " wants " + option.what, Parsed::Bad;
        return Parsed::Taken;
    }
    return Parsed::NotMine;
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
    } else if (argument == "--version") {
        options.version = true;
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
            return error = "--database wants a file name or a PostgreSQL connection string", false;
        options.database = value;
    } else if (Is(argument, "--pool-size")) {
        if (!take("--pool-size") || !ParseNumber(value, 1, 1000, options.poolSize))
            return error = "--pool-size wants a number from 1 to 1000", false;
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
    } else if (Parsed number = ParseNumberOption(argument, take, value, options, error);
               number != Parsed::NotMine) {
        return number == Parsed::Taken;
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

bool IsPostgresTarget(const std::string& database)
{
    if (database.starts_with("postgresql://") || database.starts_with("postgres://"))
        return true;
    // "key=value ..." is a connection string; a path is written as one ("./a=b").
    return database.find('=') != std::string::npos && database.front() != '/'
        && database.front() != '.';
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
           "  --database FILE|PG       the SQLite file of the PIN codes (default\n"
           "                           ./vembacast-console.sqlite), or a PostgreSQL\n"
           "                           address (postgresql://user@host/db) or libpq\n"
           "                           connection string (\"host=... dbname=...\") that\n"
           "                           any number of instances share\n"
           "  --pool-size N            PostgreSQL connections per instance (default: one\n"
           "                           per worker)\n"
           "  --trust-proxy ADDR       believe X-Forwarded-For from the proxy at ADDR;\n"
           "                           repeat for more proxies\n"
           "  --max-failed-lookups N   look-ups of unknown PIN codes one address may make\n"
           "                           within the window (default 10)\n"
           "  --lookup-window SECONDS  the window of that limit (default 600)\n"
           "  --max-registrations N    registrations one address may make within the\n"
           "                           registration window (default 20)\n"
           "  --registration-window SECONDS  (default 3600)\n"
           "  --codes-per-server N     live PIN codes one server may hold; a further\n"
           "                           registration replaces its oldest (default 4)\n"
           "  --registration-lifetime DAYS  codes not renewed for this long are dropped\n"
           "                           (default 30)\n"
           "  --workers N              request workers (default 16)\n"
           "  --max-connections-per-address N  open connections one address may hold\n"
           "                           (default 32; trusted proxies are not bound)\n"
           "  --header-timeout MS      time for a request's head, and for the next one on\n"
           "                           an open connection (default 5000)\n"
           "  --body-timeout MS        time for a request's body and for its answer to be\n"
           "                           taken (default 10000)\n"
           "  --latest-version V       the version the update check reports\n"
           "  --download-url URL       the download address the update check reports\n"
           "  --version                show the version\n"
           "  --help                   show this text\n";
}
