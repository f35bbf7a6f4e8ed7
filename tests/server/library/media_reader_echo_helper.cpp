// A reader helper for the pool test: echoes the request and its own pid, or
// crashes, hangs or fails on request. With the argument "new" it answers "new".

#include "library/media_reader_process.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv)
{
    bool answerNew = argc > 2 && std::strcmp(argv[2], "new") == 0;
    return RunMediaReaderHelper(
        argc, argv, [answerNew](const std::string& request, std::vector<std::string>& values) {
            if (request == "crash")
                std::abort();
            if (request == "hang") {
                for (;;)
                    pause();
            }
            if (request == "missing")
                return false;
            values.push_back(answerNew ? "new" : request);
            values.push_back(std::to_string(getpid()));
            return true;
        });
}
