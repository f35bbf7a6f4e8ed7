#include "core/web_server_hooks.h"

#include "core/request_table.h"
#include "library/one_time_list_files.h"
#include "remote/external_ip.h"
#include "streaming/work_folders.h"

WebServerHooks DefaultWebServerHooks()
{
    WebServerHooks hooks;
    hooks.refreshExternalIp = [] { return RefreshExternalIp(); };
    hooks.forgetWorkFolders = [] { ForgetAllWorkFolders(); };
    hooks.clearWorkFolders = [] { ClearRememberedWorkFolders(); };
    hooks.removeListFiles = [] { RemoveLeftoverListFiles(); };
    hooks.sweepLeftovers = [] {
        SweepSessionWorkFolders();
        RemoveLeftoverListFiles();
    };
    return hooks;
}

WebServerConfig DefaultWebServerConfig()
{
    WebServerConfig config;
    config.routes = DefaultRoutes();
    return config;
}
