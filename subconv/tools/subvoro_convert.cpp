// subvoro-convert: converts one subtitle file the way the server does, for people and scripts.
//
//   subvoro-convert [--lang CODE] [--screen WxH] [--server-style] INPUT OUTPUT [FORMAT]
//
// Exit status: 0 written, 1 input cannot be opened, 2 no reader accepts it, 3 --server-style
// finds no entries, 4 output cannot be written, 64 bad usage.
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <strings.h>
#include <subvoro/subvoro.h>
#include <vector>

namespace {

constexpr int kExitUsage = 64;

struct Options {
    std::string language;
    bool hasScreen = false;
    long width = 0;
    long height = 0;
    bool serverStyle = false;
    std::string input;
    std::string output;
    exttype type = EXTASS;
};

void PrintUsage(FILE* to)
{
    std::fprintf(to,
        "usage: subvoro-convert [--lang CODE] [--screen WxH] [--server-style] INPUT OUTPUT "
        "[FORMAT]\n"
        "  --lang CODE     SAMI language: KR, EN, CN or JP (default: every paragraph)\n"
        "  --screen WxH    script resolution, e.g. 640x480\n"
        "  --server-style  the server's font size, shadow, outline and margin\n"
        "  FORMAT          srt sub smi psb ssa ass idx usf xss txt ssf rt (default: ass)\n"
        "exit status: 0 written, 1 cannot open INPUT, 2 not a subtitle INPUT,\n"
        "             3 no entries for --server-style, 4 cannot write OUTPUT, 64 bad usage\n");
}

bool ParseScreen(const char* text, long& width, long& height)
{
    char* end = nullptr;
    width = std::strtol(text, &end, 10);
    if (end == text || (*end != 'x' && *end != 'X'))
        return false;
    const char* rest = end + 1;
    height = std::strtol(rest, &end, 10);
    return end != rest && *end == '\0' && width >= 0 && height >= 0;
}

bool ParseType(const std::string& text, exttype& type)
{
    for (int i = 0; i < EXTTYPE_COUNT; ++i) {
        if (strcasecmp(text.c_str(), CSubvoroter::GetExtension(exttype(i))) == 0) {
            type = exttype(i);
            return true;
        }
    }
    return false;
}

// Returns 0 to go on, or an exit status.
int ParseArguments(int argc, char** argv, Options& options)
{
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return -1;
        }
        if (arg == "--version") {
            std::printf("subvoro-convert (VembaCast) %s\n", VEMBACAST_VERSION_TEXT);
            return -1;
        }
        if (arg == "--lang" && i + 1 < argc) {
            options.language = argv[++i];
        } else if (arg == "--screen" && i + 1 < argc) {
            if (!ParseScreen(argv[++i], options.width, options.height)) {
                std::fprintf(
                    stderr, "subvoro-convert: bad screen size '%s' (expected WxH)\n", argv[i]);
                return kExitUsage;
            }
            options.hasScreen = true;
        } else if (arg == "--server-style") {
            options.serverStyle = true;
        } else if (arg.size() > 1 && arg[0] == '-') {
            std::fprintf(
                stderr, "subvoro-convert: unknown or incomplete option '%s'\n", arg.c_str());
            return kExitUsage;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.size() < 2 || positional.size() > 3) {
        PrintUsage(stderr);
        return kExitUsage;
    }
    options.input = positional[0];
    options.output = positional[1];
    if (positional.size() == 3 && !ParseType(positional[2], options.type)) {
        std::fprintf(stderr, "subvoro-convert: unknown format '%s'\n", positional[2].c_str());
        return kExitUsage;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_CTYPE, "C.UTF-8");
    Options options;
    if (int status = ParseArguments(argc, argv, options))
        return status < 0 ? 0 : status;

    CSubvoroter converter;
    std::string syntaxError;
    converter.SetSyntaxErrorHandler(
        [&](int, const std::string& message) { syntaxError = message; });
    converter.SetUnknownStyleHandler([](const std::string&, const std::string& message) {
        std::string line = message.substr(0, message.find('\n'));
        std::fprintf(stderr, "subvoro-convert: warning: %s\n", line.c_str());
        return true;
    });
    if (!options.language.empty())
        converter.SetSamiLang(options.language);

    switch (converter.SubFileOpen(options.input)) {
    case QZSUB_OK:
        break;
    case QZSUB_CANNOT_OPEN:
        std::fprintf(stderr, "subvoro-convert: cannot open %s\n", options.input.c_str());
        return 1;
    default:
        while (!syntaxError.empty() && (syntaxError.back() == '\t' || syntaxError.back() == '!'))
            syntaxError.pop_back();
        std::fprintf(stderr,
            "subvoro-convert: %s is not a subtitle file this converter reads%s%s\n",
            options.input.c_str(), syntaxError.empty() ? "" : ": ", syntaxError.c_str());
        return 2;
    }
    if (options.hasScreen)
        converter.SetDstScreenSize(options.width, options.height);
    if (options.serverStyle && !converter.SetFontProperty(4.0f, 0x808080, 1, 0)) {
        std::fprintf(
            stderr, "subvoro-convert: %s has no subtitle entries\n", options.input.c_str());
        return 3;
    }
    if (!converter.SubFileSaveAs(options.output, options.type)) {
        std::fprintf(stderr, "subvoro-convert: cannot write %s\n", options.output.c_str());
        return 4;
    }
    return 0;
}
