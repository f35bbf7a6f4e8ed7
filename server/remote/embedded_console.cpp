#include "remote/embedded_console.h"

#include "config/settings.h"
#include "config/settings_store.h"
#include "config/trace.h"
#include "platform/adapters.h"
#include "remote/network_identity.h"
#include "remote/relay_server.h"

#include <optional>
#include <system_error>
#include <thread>

namespace {

constexpr int kMaxFailedLookups = 10;
constexpr std::chrono::seconds kLookupWindow { 600 };

std::string RootOf(int port)
{
    return "http://127.0.0.1:" + std::to_string(port) + "/";
}

} // namespace

// The gateway's external address whenever a gateway answers, mapping on or off: that
// is the address the home network has outside. The adapter's own address only when
// no gateway answers (the computer is on the internet itself, or nothing is there).
std::string CEmbeddedConsole::ExternalAddress()
{
    std::string gatewayAddress = AskGateway();
    if (!gatewayAddress.empty())
        return gatewayAddress;
    return ChosenAdapterAddress(m_settings);
}

std::string CEmbeddedConsole::AskGateway()
{
    auto answer = std::make_shared<std::optional<std::string>>(); // guarded by lookups' lock
    try {
        std::thread([gateway = m_gateway, lookups = m_lookups, answer] {
            std::string address = GatewayExternalAddress(*gateway);
            std::lock_guard guard(lookups->lock);
            *answer = std::move(address);
            lookups->changed.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return std::string(); // no thread to spare: the adapter's address will do
    }
    std::unique_lock lock(m_lookups->lock);
    m_lookups->changed.wait(lock, [&] { return answer->has_value() || m_lookups->stopping; });
    return answer->value_or(std::string());
}

std::string ChosenAdapterAddress(SettingsStore& settings)
{
    std::string chosen = settings.ReadText(kKeyInIP);
    if (!chosen.empty())
        return chosen;
    std::vector<Adapter> adapters = ListAdapters();
    return adapters.empty() ? std::string() : adapters.front().address;
}

ConsoleRequest ToConsoleRequest(const FormRequest& request)
{
    return ConsoleRequest { PageOfPath(request.path), ParseFormFields(request.body),
        request.remoteAddress };
}

CEmbeddedConsole::CEmbeddedConsole(
    SettingsStore& settings, std::shared_ptr<IPortMapper> gateway, std::string registryFile)
    : m_settings(settings)
    , m_gateway(std::move(gateway))
    , m_registryFile(std::move(registryFile))
    , m_limiter(kMaxFailedLookups, kLookupWindow)
{
}

std::string CEmbeddedConsole::Root() const
{
    return m_service.IsRunning() ? RootOf(m_service.Port()) : std::string();
}

CEmbeddedConsole::~CEmbeddedConsole()
{
    Stop();
}

bool CEmbeddedConsole::Start()
{
    if (m_service.IsRunning())
        return true;
    {
        std::lock_guard guard(m_lookups->lock);
        m_lookups->stopping = false;
    }
    if (!m_registry) {
        auto registry = std::make_unique<CSqlitePinRegistry>();
        std::string error;
        if (registry->Open(m_registryFile, error))
            m_registry = std::move(registry);
        else
            TraceMessage(kTraceWebFailure, "Embedded console - no PIN registry: %s", error.c_str());
    }
    m_console = std::make_unique<CConsoleService>(
        [this](const ConsoleRequest&) { return ExternalAddress(); }, m_registry.get(), &m_limiter,
        ConsoleRelease { VEMBACAST_VERSION_TEXT, "0", "" });
    CConsoleService* console = m_console.get();
    bool started = m_service.Start("127.0.0.1", 0, [console](const FormRequest& request) {
        return console->Answer(ToConsoleRequest(request));
    });
    if (!started)
        return false;
    TraceMessage(kTraceProgress, "Embedded console - listening on port %d", m_service.Port());
    return true;
}

void CEmbeddedConsole::Stop()
{
    if (!m_service.IsRunning())
        return;
    {
        std::lock_guard guard(m_lookups->lock);
        m_lookups->stopping = true;
    }
    m_lookups->changed.notify_all();
    m_service.Stop();
}

bool StartEmbeddedConsoleIfNeeded(SettingsStore& settings, CEmbeddedConsole& console)
{
    if (!settings.ReadText(kKeyTestServerURL).empty())
        return false;
    return console.Start();
}
