// The daemon's options for serving on the open internet: the HTTPS port and its
// files, HSTS, the base path behind a reverse proxy, the power button, and the shares
// file of the system service.

#include "config/settings.h"
#include "config/settings_store.h"
#include "http/base_path.h"
#include "http/https_port.h"
#include "options.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace {

// Two years, the longest max-age that browsers' preload lists ask for.
constexpr long kMaxHstsSeconds = 63072000;

bool ParseNumber(const std::string& text, long limit, long& number)
{
    if (text.empty() || text.size() > 10 || !std::all_of(text.begin(), text.end(), [](char c) {
            return std::isdigit(static_cast<unsigned char>(c));
        }))
        return false;
    number = std::stol(text);
    return number <= limit;
}

bool ParseFile(const std::string& name, const std::string& text, std::optional<std::string>& file,
    std::string& error)
{
    bool control = std::any_of(text.begin(), text.end(),
        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
    if (text.empty() || control) {
        error = name + " wants a file name";
        return false;
    }
    std::error_code failed;
    std::filesystem::path absolute = std::filesystem::absolute(text, failed);
    file = failed ? text : absolute.lexically_normal().string();
    return true;
}

bool ParseValue(
    const std::string& name, const std::string& value, DaemonOptions& options, std::string& error)
{
    long number = 0;
    if (name == "--tls-cert")
        return ParseFile(name, value, options.tlsCert, error);
    if (name == "--tls-key")
        return ParseFile(name, value, options.tlsKey, error);
    if (name == "--tls-port") {
        if (!ParseNumber(value, 65535, number)) {
            error = "--tls-port wants a number from 1 to 65535 (0 switches HTTPS off), not '"
                + value + "'";
            return false;
        }
        options.tlsPort = static_cast<int>(number);
        return true;
    }
    if (name == "--hsts") {
        if (!ParseNumber(value, kMaxHstsSeconds, number)) {
            error = "--hsts wants the seconds browsers keep to HTTPS, 0 to 63072000";
            return false;
        }
        options.hstsMaxAge = static_cast<int>(number);
        return true;
    }
    if (name == "--base-path") {
        options.basePath = ParseBasePath(value);
        if (!options.basePath)
            error = "--base-path wants a path such as /media (letters, digits, - . _ ~)";
        return options.basePath.has_value();
    }
    if (name == "--server-off")
        return ParseSwitch(name, value, options.allowServerOff, error);
    // --shares-file
    std::optional<std::string> file;
    if (!ParseFile(name, value, file, error))
        return false;
    options.sharesFile = *file;
    return true;
}

} // namespace

bool ParseWebOption(
    int argc, char** argv, int& i, DaemonOptions& options, bool& known, std::string& error)
{
    static const char* const kNames[] = { "--tls-cert", "--tls-key", "--tls-port", "--hsts",
        "--base-path", "--server-off", "--shares-file" };
    std::string argument = argv[i];
    for (const char* name : kNames) {
        if (!IsOption(argument, name))
            continue;
        known = true;
        std::string value;
        return TakeOptionValue(argc, argv, i, name, value, error)
            && ParseValue(name, value, options, error);
    }
    known = false;
    return true;
}

void WriteWebOptions(SettingsStore& settings, const DaemonOptions& options)
{
    std::vector<std::pair<std::string, std::string>> values;
    if (options.tlsPort)
        values.emplace_back(kKeyTlsPort, std::to_string(*options.tlsPort));
    if (options.tlsCert)
        values.emplace_back(kKeyTlsCert, *options.tlsCert);
    if (options.tlsKey)
        values.emplace_back(kKeyTlsKey, *options.tlsKey);
    if (options.hstsMaxAge)
        values.emplace_back(kKeyHstsMaxAge, std::to_string(*options.hstsMaxAge));
    if (options.basePath)
        values.emplace_back(kKeyBasePath, *options.basePath);
    if (options.allowServerOff)
        values.emplace_back(kKeyAllowServerOff, *options.allowServerOff ? "1" : "0");
    if (!values.empty())
        settings.WriteTexts(values);
}
