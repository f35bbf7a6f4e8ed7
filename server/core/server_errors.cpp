#include "core/server_errors.h"

const char* ServerErrorTextKey(int code)
{
    switch (code) {
    case 1:
        return "IDS_WORD_NOT_SETTING";
    case 2:
        return "IDS_WORD_NEED_RESETTING";
    case 3:
        return "IDS_WORD_INVAILD_SETTING";
    case 4:
        return "IDS_WORD_ALREADY_RUN";
    case 5:
    case 6:
        return "IDS_ERROR_FAILED_SERVER_START";
    case kServerErrorNoUpnpDevice:
        return "IDS_WORD_NO_UPNPDEVICE";
    case 9:
        return "IDS_ERROR_HTTPS_START";
    case kServerErrorDiskFull:
        return "IDS_ERROR_DISK_FULL";
    default:
        return nullptr;
    }
}
