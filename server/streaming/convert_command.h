#pragma once

// The arguments of a conversion to an .m4v file (the conversion worker builds them
// after CreateEnginePipe).

#include <string>
#include <vector>

// What the line needs from a conversion job; the job keeps what the build learns.
struct ConvertCommandJob {
    std::string sourcePath; // as the client named it: "/Share/rest"
    // A file chosen at this computer: its disk path, taken as it is (no share involved).
    std::string localPath;
    std::string outputPath; // the .m4v to write, on disk
    int bitrate = 0; // video kbit/s
    int durationMs = 0; // out: the source's duration, for the job's progress
    std::string subtitleScript; // out: the script written for it, "" when none; the job deletes it
};

// The whole argument list, or none when the source path names no shared file (and
// no local path is given).
std::vector<std::string> QZ_MakeConvertCmd(ConvertCommandJob& job, int pipeNumber);
