#include "remote/embedded_console.h"

#include "config/settings.h"
#include "config/trace.h"
#include "platform/adapters.h"
#include "remote/console_service.h"
#include "remote/relay_server.h"

#include <memory>

namespace {

std::string RootOf(int port)
{
    return "http://127.0.0.1:" + std::to_string(port) + "/";
}

} // namespace

std::string ChosenAdapterAddress()
{
    std::string chosen = ReadSettingText(kKeyInIP);
    if (!chosen.empty())
        return chosen;
    std::vector<Adapter> adapters = ListAdapters();
    return adapters.empty() ? std::string() : adapters.front().address;
}

CEmbeddedConsole::~CEmbeddedConsole()
{
    Stop();
}

bool CEmbeddedConsole::Start()
{
    if (m_service.IsRunning())
        return true;
    auto console = std::make_shared<CConsoleService>(
        [](const FormRequest&) { return ChosenAdapterAddress(); });
    bool started = m_service.Start(
        "127.0.0.1", 0, [console](const FormRequest& request) { return console->Answer(request); });
    if (!started)
        return false;
    SetBuiltInConsoleRoot(RootOf(m_service.Port()));
    TraceMessage(kTraceProgress, "Embedded console - listening on port %d", m_service.Port());
    return true;
}

void CEmbeddedConsole::Stop()
{
    if (!m_service.IsRunning())
        return;
    if (GetBuiltInConsoleRoot() == RootOf(m_service.Port()))
        SetBuiltInConsoleRoot("");
    m_service.Stop();
}

bool StartEmbeddedConsoleIfNeeded(CEmbeddedConsole& console)
{
    if (!ReadSettingText(kKeyTestServerURL).empty())
        return false;
    return console.Start();
}
