// A seeded random driver for the fuzz target where libFuzzer is not available.
//
//   subvoro-fuzz FILE...                          replays each file once
//   subvoro-fuzz -runs=N -seed=S [-max_total_time=T] [FILE|DIR]...
//                                                 mutates the given seeds N times (0: until T)
//
// A failing input is written to crash-<seed>-<run> in the working folder before the process ends.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));

namespace {

std::string g_current; // the input being run, kept for the crash file
std::string g_crashName;

void SaveCurrent()
{
    if (FILE* f = std::fopen(g_crashName.c_str(), "wb")) {
        std::fwrite(g_current.data(), 1, g_current.size(), f);
        std::fclose(f);
        std::fprintf(stderr, "subvoro-fuzz: failing input written to %s\n", g_crashName.c_str());
    }
}

const char* const kTokens[] = { "<SYNC Start=", "<P Class=KRCC>", "<P>", "<br>", "&nbsp;", "-->",
    "<!--", "<TITLE>", "</STYLE>", ".KRCC {Name:Korean; lang:ko-KR; SAMIType:CC;}", " --> ", "{",
    "}", "|", "[", "]", "\r\n", "\n", "Style: ", "Dialogue: ", "[Events]", "[V4+ Styles]",
    "[Fonts]", "fontname: a.ttf", "PlayResX: ", "\xEF\xBB\xBF", "\xFF\xFE", "\xFE\xFF",
    "00:00:01,500", "{100}{}", "{c:$ff}", "2147483647", "99999999999999999999", "[br]",
    "[COLF]&HFF,[STYLE]bd" };

void Mutate(std::string& s, std::mt19937_64& rng, const std::vector<std::string>& corpus)
{
    const int steps = 1 + int(rng() % 8);
    for (int i = 0; i < steps; ++i) {
        const size_t pos = s.empty() ? 0 : rng() % (s.size() + 1);
        switch (rng() % 6) {
        case 0:
            if (!s.empty())
                s[pos % s.size()] = char(rng());
            break;
        case 1:
            s.insert(pos, kTokens[rng() % std::size(kTokens)]);
            break;
        case 2:
            s.erase(pos, rng() % 16);
            break;
        case 3: {
            const std::string& other = corpus[rng() % corpus.size()];
            const size_t from = other.empty() ? 0 : rng() % other.size();
            s.insert(pos, other.substr(from, rng() % 256));
            break;
        }
        case 4:
            s.resize(pos);
            break;
        default:
            s.insert(pos, std::string(1 + rng() % 64, char(rng())));
            break;
        }
    }
    if (s.size() > 65536)
        s.resize(65536);
}

std::string ReadWhole(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
}

} // namespace

int main(int argc, char** argv)
{
    long long runs = -1;
    unsigned long long seed = 1;
    double maxTime = 0;
    std::vector<std::string> corpus;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-runs=", 6) == 0) {
            runs = std::atoll(argv[i] + 6);
        } else if (std::strncmp(argv[i], "-seed=", 6) == 0) {
            seed = std::strtoull(argv[i] + 6, nullptr, 10);
        } else if (std::strncmp(argv[i], "-max_total_time=", 16) == 0) {
            maxTime = std::atof(argv[i] + 16);
        } else if (std::filesystem::is_directory(argv[i])) {
            for (const auto& entry : std::filesystem::directory_iterator(argv[i]))
                corpus.push_back(ReadWhole(entry.path()));
        } else {
            corpus.push_back(ReadWhole(argv[i]));
        }
    }
    if (__sanitizer_set_death_callback)
        __sanitizer_set_death_callback(SaveCurrent);

    if (runs < 0) { // replay
        for (const std::string& input : corpus)
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(input.data()), input.size());
        std::printf("subvoro-fuzz: replayed %zu inputs\n", corpus.size());
        return 0;
    }
    if (corpus.empty())
        corpus.push_back("\x01<SAMI><BODY>\n<SYNC Start=1000><P Class=KRCC>Hello\n");
    std::mt19937_64 rng(seed);
    const auto begin = std::chrono::steady_clock::now();
    long long done = 0;
    for (; runs == 0 || done < runs; ++done) {
        if (maxTime > 0
            && std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count()
                > maxTime)
            break;
        g_current = corpus[rng() % corpus.size()];
        Mutate(g_current, rng, corpus);
        g_crashName = "crash-" + std::to_string(seed) + "-" + std::to_string(done);
        LLVMFuzzerTestOneInput(
            reinterpret_cast<const uint8_t*>(g_current.data()), g_current.size());
    }
    std::printf("subvoro-fuzz: %lld runs, seed %llu, no failure\n", done, seed);
    return 0;
}
