#include "library_server.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <turbojpeg.h>
#include <unistd.h>

std::string ListingEntry(const std::string& document, const std::string& escapedName)
{
    const size_t name = document.find("<dict><key>name</key><string>" + escapedName + "</string>");
    if (name == std::string::npos)
        return {};
    const size_t end = document.find("</dict>", name);
    return document.substr(name, end + 7 - name);
}

bool MakeVideo(const std::string& path, int seconds, int width, int height,
    const std::string& audioCodec, const std::string& videoCodec)
{
    std::string quoted = "'";
    for (char c : path)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    quoted += "'";
    const std::string duration = std::to_string(seconds);
    std::string command = "ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc=duration="
        + duration + ":size=" + std::to_string(width) + "x" + std::to_string(height) + ":rate=10";
    if (!audioCodec.empty())
        command += " -f lavfi -i sine=duration=" + duration + ":sample_rate=22050";
    command += " -c:v " + videoCodec + " -pix_fmt yuv420p";
    if (!audioCodec.empty())
        command += " -c:a " + audioCodec;
    command += " " + quoted + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool JpegSize(const std::string& bytes, int& width, int& height)
{
    tjhandle tj = tjInitDecompress();
    int subsampling = 0, colourspace = 0;
    const bool ok = tjDecompressHeader3(tj, reinterpret_cast<const unsigned char*>(bytes.data()),
                        bytes.size(), &width, &height, &subsampling, &colourspace)
        == 0;
    tjDestroy(tj);
    return ok;
}
