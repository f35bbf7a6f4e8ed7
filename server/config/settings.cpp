#include "config/settings.h"

std::string GetFileVersionText()
{
#ifdef VEMBACAST_VERSION_TEXT
    std::string text;
    for (char c : std::string(VEMBACAST_VERSION_TEXT)) {
        if (c == ' ')
            continue;
        text += c == ',' ? '.' : c;
    }
    return text;
#else
    return std::string();
#endif
}
