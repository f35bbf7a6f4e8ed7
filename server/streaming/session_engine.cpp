#include "streaming/session_engine.h"

#include "config/trace.h"
#include "streaming/running_engines.h"

#include <cerrno>

namespace {

bool IsSettled(EngineState state)
{
    return state == EngineState::Idle || state == EngineState::Running;
}

} // namespace

SessionEngine::SessionEngine(
    std::string clientId, EngineLaunch launch, EncSessionList& running, NoticeSink notices)
    : m_clientId(std::move(clientId))
    , m_running(running)
    , m_notices(std::move(notices))
    , m_encoder(std::move(launch))
{
    m_encoder.SetStatusTarget(&m_status);
}

SessionEngine::~SessionEngine()
{
    Stop();
    m_encoder.QuitEncoding();
}

uint64_t SessionEngine::BeginRun()
{
    uint64_t run = 0;
    {
        std::lock_guard lock(m_lock);
        run = ++m_lastRun;
        m_run = run;
    }
    if (m_notices) {
        m_encoder.SetNotifyTarget([sink = m_notices, run](EngineNotice notice, uint32_t value) {
            sink(notice, run, value);
        });
    }
    return run;
}

EngineState SessionEngine::State() const
{
    std::lock_guard lock(m_lock);
    return m_state;
}

bool SessionEngine::IsOnList() const
{
    std::lock_guard lock(m_lock);
    return m_onList;
}

bool SessionEngine::RunsAs(uint64_t run)
{
    {
        std::lock_guard lock(m_lock);
        if (run == 0 || m_run != run)
            return false;
    }
    return m_encoder.IsENCRunning() != 0;
}

void SessionEngine::SetStepHook(std::function<void(Step)> hook)
{
    std::lock_guard lock(m_lock);
    m_hook = std::move(hook);
}

void SessionEngine::RunHook(Step step)
{
    std::function<void(Step)> hook;
    {
        std::lock_guard lock(m_lock);
        hook = m_hook;
    }
    if (hook)
        hook(step);
}

EngineState SessionEngine::Claim(EngineState next)
{
    std::unique_lock lock(m_lock);
    if (!IsSettled(m_state)) {
        lock.unlock();
        RunHook(Step::Waiting);
        lock.lock();
        m_settled.wait(lock, [&] { return IsSettled(m_state); });
    }
    EngineState found = m_state;
    m_state = next;
    lock.unlock();
    RunHook(next == EngineState::Starting ? Step::Starting : Step::Stopping);
    return found;
}

void SessionEngine::Settle(EngineState state)
{
    {
        std::lock_guard lock(m_lock);
        m_state = state;
    }
    m_settled.notify_all();
}

void SessionEngine::StopClaimed()
{
    TraceMessage(kTraceEngineLifetime, "ClientInfo::StopENC (%d)", m_startCount.load());
    bool onList = false;
    {
        std::lock_guard lock(m_lock);
        onList = m_onList;
        m_onList = false;
    }
    const int pid = m_encoder.GetEngineProcessId();
    if (m_encoder.IsENCRunning() || onList) {
        // QuitEncoding asks the engine to end, waits for it and kills it when it
        // does not, so the engine is gone when it returns.
        if (!m_encoder.QuitEncoding()) {
            m_encoder.TerminateEngine();
            TraceMessage(kTraceEngineLifetime, " - TeminateEngine");
        }
    }
    if (onList)
        m_running.RemoveEncSession(this);
    --m_startCount;
    TraceMessage(kTraceEngineLifetime, " - TeminatePorcess (ID:'%s', PID:%d, countENC%zu)",
        m_clientId.c_str(), pid, m_running.CountEncSessions());
}

void SessionEngine::ForgetEndedRun()
{
    bool onList = false;
    {
        std::lock_guard lock(m_lock);
        onList = m_onList;
        m_onList = false;
    }
    if (onList && m_running.RemoveEncSession(this))
        TraceMessage(kTraceEngineLifetime, " - ended engine off the ENC session list (ID:'%s')",
            m_clientId.c_str());
}

bool SessionEngine::StartClaimed(const std::vector<std::string>& arguments, uint64_t& run)
{
    run = 0;
    if (!m_encoder.RunQZEncEngine(arguments)) {
        int error = errno;
        m_encoder.QuitEncoding();
        TraceMessage(kTraceStreamFailure,
            "QZ_StartFFMpeg : m_Encoder.RunQZEncEngine('%s') Fail: (%u)!!!",
            CommandLineText(arguments).c_str(), static_cast<unsigned>(error));
        return false;
    }
    // Read before the engine is told to encode: a short file may be done, and its
    // engine gone, by the time StartEncoding returns. The spawner knows the id at
    // once, so there is nothing to poll for.
    const int pid = m_encoder.GetEngineProcessId();
    if (pid == 0 || !m_encoder.StartEncoding()) {
        int error = errno;
        m_encoder.QuitEncoding();
        TraceMessage(kTraceStreamFailure,
            "QZ_StartFFMpeg : m_Encoder.StartEncoding() Fail: (%u)!!!",
            static_cast<unsigned>(error));
        return false;
    }
    TraceMessage(kTraceEngineLifetime, "ClientInfo::StartENC (%d)", ++m_startCount);
    TraceMessage(kTraceEngineLifetime, " - engine is Start( segPID:%d)", pid);
    {
        std::lock_guard lock(m_lock);
        m_onList = true;
        run = m_run;
    }
    m_running.AddEncSession(this);
    TraceMessage(kTraceEngineLifetime, " - Add ENC session (ID:'%s', PID:%d, countENC:%zu)",
        m_clientId.c_str(), pid, m_running.CountEncSessions());
    return true;
}

LiveStart SessionEngine::Restart(
    const LineBuilder& build, std::vector<std::string>& arguments, uint64_t& run)
{
    run = 0;
    arguments.clear();
    Claim(EngineState::Stopping);
    StopClaimed();
    {
        std::lock_guard lock(m_lock);
        m_state = EngineState::Starting;
    }
    RunHook(Step::Starting);
    BeginRun();
    int pipeNumber = m_encoder.CreateEnginePipe();
    if (pipeNumber == -1) {
        Settle(EngineState::Idle);
        return LiveStart::NoPipe;
    }
    Line line = build(pipeNumber, arguments);
    if (line != Line::Built) {
        // The pipes wait for an engine that will not come; close them now.
        m_encoder.QuitEncoding();
        Settle(EngineState::Idle);
        return line == Line::Overtaken ? LiveStart::Overtaken : LiveStart::NoLine;
    }
    bool started = StartClaimed(arguments, run);
    Settle(started ? EngineState::Running : EngineState::Idle);
    return started ? LiveStart::Started : LiveStart::StartFailed;
}

int SessionEngine::Start(const std::vector<std::string>& arguments, uint64_t& run)
{
    run = 0;
    if (m_encoder.IsENCRunning()) {
        TraceMessage(kTraceEngineLifetime, " - engine is RUNNING already (%d)",
            m_encoder.GetEngineProcessId());
        return 1;
    }
    EngineState found = Claim(EngineState::Starting);
    // Asked again now that this caller has the engine to itself: another start may
    // have finished meanwhile.
    if (found == EngineState::Running && m_encoder.IsENCRunning()) {
        TraceMessage(kTraceEngineLifetime, " - engine is RUNNING already (%d)",
            m_encoder.GetEngineProcessId());
        Settle(EngineState::Running);
        return 1;
    }
    // An engine that ended on its own leaves the ENC session list before the next
    // one joins it; the watcher, finding a newer run, would leave it there. Its
    // channel is not closed: the caller has made the new run's pipes already.
    if (found == EngineState::Running)
        ForgetEndedRun();
    BeginRun();
    bool started = StartClaimed(arguments, run);
    Settle(started ? EngineState::Running : EngineState::Idle);
    return started ? 1 : 0;
}

void SessionEngine::Stop()
{
    Claim(EngineState::Stopping);
    StopClaimed();
    Settle(EngineState::Idle);
}

bool SessionEngine::EndRun(uint64_t run)
{
    {
        std::lock_guard lock(m_lock);
        if (run == 0 || m_run != run)
            return false;
    }
    EngineState found = Claim(EngineState::Stopping);
    bool current = false;
    bool onList = false;
    {
        // A restart may have begun a new run while this notice waited for its turn.
        std::lock_guard lock(m_lock);
        current = m_run == run;
        onList = m_onList;
    }
    if (current && (m_encoder.IsENCRunning() || onList)) {
        StopClaimed();
        Settle(EngineState::Idle);
    } else {
        Settle(found);
    }
    return current;
}

void SessionEngine::ForgetEnded(uint64_t run)
{
    if (run == 0)
        return;
    {
        // Most often a stop or restart has already taken this engine off.
        std::lock_guard lock(m_lock);
        if ((m_run != run || !m_onList) && IsSettled(m_state))
            return;
    }
    EngineState found = Claim(EngineState::Stopping);
    bool same = false;
    {
        std::lock_guard lock(m_lock);
        same = m_run == run && m_onList;
    }
    if (same && !m_encoder.IsENCRunning()) {
        StopClaimed();
        Settle(EngineState::Idle);
    } else {
        Settle(found);
    }
}
