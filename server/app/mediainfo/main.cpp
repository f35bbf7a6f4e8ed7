// vembacast-mediainfo: the reader helper the server starts for media reads. It binds
// MediaInfo by the module name the server passes and answers one file path at a
// time with the values of a media read (library/media_read_query.h).
//
// Usage (by the server only): vembacast-mediainfo <server pid> <MediaInfo module name>

#include "library/media_info_binding.h"
#include "library/media_read_query.h"
#include "library/media_reader_process.h"

#include <cstdio>
#include <string_view>

int main(int argc, char** argv)
{
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("vembacast-mediainfo (VembaCast) %s\n", VEMBACAST_VERSION_TEXT);
        return 0;
    }
    if (argc < 3)
        return 2;
    mediainfo::SetLibraryName(argv[2]);
    return RunMediaReaderHelper(
        argc, argv, [](const std::string& path, std::vector<std::string>& values) {
            // Binding again after a failure lets a module installed later be found.
            return mediainfo::EnsureBound()
                && mediainfo::ServeMediaRead(mediainfo::GetApi(), path, values);
        });
}
