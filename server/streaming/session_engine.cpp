#include "streaming/session_engine.h"

#include "config/trace.h"
#include "skin/frame_msg.h"
#include "streaming/running_engines.h"

#include <cerrno>

namespace {

std::atomic<uint64_t> g_nextNoticeKey { 1 };

void PostToMainWindow(uint32_t message, uintptr_t wParam, uintptr_t lParam)
{
    veneta::CPXFrameMSG::Post(
        veneta::kFrameMainWindow, message, wParam, static_cast<veneta::LParam>(lParam));
}

bool IsSettled(EngineState state)
{
    return state == EngineState::Idle || state == EngineState::Running;
}

} // namespace

SessionEngine::SessionEngine(
    std::string clientId, std::shared_ptr<ProcessSpawner> spawner, std::atomic<int>& publishedPid)
    : m_clientId(std::move(clientId))
    , m_publishedPid(publishedPid)
    , m_encoder(std::move(spawner))
{
    SetEngineTargets();
}

SessionEngine::~SessionEngine()
{
    Stop();
    m_encoder.QuitEncoding();
}

void SessionEngine::SetEngineTargets()
{
    m_noticeKey = g_nextNoticeKey++;
    m_encoder.SetNotifyTarget(PostToMainWindow, static_cast<uintptr_t>(m_noticeKey.load()));
    m_encoder.SetStatusTarget(&m_status);
}

EngineState SessionEngine::State() const
{
    std::lock_guard lock(m_lock);
    return m_state;
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
    int pid = 0;
    {
        std::lock_guard lock(m_lock);
        pid = m_pid;
        m_pid = 0;
    }
    if (m_encoder.IsENCRunning() || pid != 0) {
        // QuitEncoding asks the engine to end, waits for it and kills it when it
        // does not, so the engine is gone when it returns.
        if (!m_encoder.QuitEncoding()) {
            m_encoder.TerminateEngine();
            TraceMessage(kTraceEngineLifetime, " - TeminateEngine");
        }
    }
    m_publishedPid = 0;
    if (pid != 0)
        RemoveEncSession(pid);
    --m_startCount;
    TraceMessage(kTraceEngineLifetime, " - TeminatePorcess (ID:'%s', PID:%d, countENC%zu)",
        m_clientId.c_str(), pid, CountEncSessions());
}

void SessionEngine::ForgetEndedRun()
{
    int pid = 0;
    {
        std::lock_guard lock(m_lock);
        pid = m_pid;
        m_pid = 0;
    }
    m_publishedPid = 0;
    if (pid != 0 && RemoveEncSession(pid))
        TraceMessage(
            kTraceEngineLifetime, " - ended engine off the ENC session list (PID:%d)", pid);
}

bool SessionEngine::StartClaimed(const std::vector<std::string>& arguments, int& pid)
{
    pid = 0;
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
    pid = m_encoder.GetEngineProcessId();
    if (pid == 0 || !m_encoder.StartEncoding()) {
        int error = errno;
        m_encoder.QuitEncoding();
        TraceMessage(kTraceStreamFailure,
            "QZ_StartFFMpeg : m_Encoder.StartEncoding() Fail: (%u)!!!",
            static_cast<unsigned>(error));
        pid = 0;
        return false;
    }
    TraceMessage(kTraceEngineLifetime, "ClientInfo::StartENC (%d)", ++m_startCount);
    TraceMessage(kTraceEngineLifetime, " - engine is Start( segPID:%d)", pid);
    {
        std::lock_guard lock(m_lock);
        m_pid = pid;
    }
    m_publishedPid = pid;
    AddEncSession(pid);
    TraceMessage(kTraceEngineLifetime, " - Add ENC session (ID:'%s', PID:%d, countENC:%zu)",
        m_clientId.c_str(), pid, CountEncSessions());
    return true;
}

LiveStart SessionEngine::Restart(
    const LineBuilder& build, std::vector<std::string>& arguments, int& pid)
{
    pid = 0;
    arguments.clear();
    Claim(EngineState::Stopping);
    StopClaimed();
    {
        std::lock_guard lock(m_lock);
        m_state = EngineState::Starting;
    }
    RunHook(Step::Starting);
    SetEngineTargets();
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
    bool started = StartClaimed(arguments, pid);
    Settle(started ? EngineState::Running : EngineState::Idle);
    return started ? LiveStart::Started : LiveStart::StartFailed;
}

int SessionEngine::Start(const std::vector<std::string>& arguments, int& pid)
{
    pid = 0;
    if (m_encoder.IsENCRunning()) {
        TraceMessage(
            kTraceEngineLifetime, " - engine is RUNNING already (%d)", m_publishedPid.load());
        return 1;
    }
    EngineState found = Claim(EngineState::Starting);
    // Asked again now that this caller has the engine to itself: another start may
    // have finished meanwhile.
    if (found == EngineState::Running && m_encoder.IsENCRunning()) {
        TraceMessage(
            kTraceEngineLifetime, " - engine is RUNNING already (%d)", m_publishedPid.load());
        Settle(EngineState::Running);
        return 1;
    }
    // An engine that ended on its own leaves the ENC session list before the next
    // one joins it; the watcher, finding a newer engine, would leave it there. Its
    // channel is not closed: the caller has made the new run's pipes already.
    if (found == EngineState::Running)
        ForgetEndedRun();
    bool started = StartClaimed(arguments, pid);
    Settle(started ? EngineState::Running : EngineState::Idle);
    return started ? 1 : 0;
}

void SessionEngine::Stop()
{
    Claim(EngineState::Stopping);
    StopClaimed();
    Settle(EngineState::Idle);
}

bool SessionEngine::EndRun(uint64_t noticeKey)
{
    if (m_noticeKey != noticeKey)
        return false;
    EngineState found = Claim(EngineState::Stopping);
    // A restart may have begun a new run while this notice waited for its turn.
    bool current = m_noticeKey == noticeKey;
    int pid = 0;
    {
        std::lock_guard lock(m_lock);
        pid = m_pid;
    }
    if (current && (m_encoder.IsENCRunning() || pid != 0)) {
        StopClaimed();
        Settle(EngineState::Idle);
    } else {
        Settle(found);
    }
    return current;
}

void SessionEngine::ForgetEnded(int pid)
{
    if (pid == 0)
        return;
    {
        // Most often a stop or restart has already taken this engine off.
        std::lock_guard lock(m_lock);
        if (m_pid != pid && IsSettled(m_state))
            return;
    }
    EngineState found = Claim(EngineState::Stopping);
    bool same = false;
    {
        std::lock_guard lock(m_lock);
        same = m_pid == pid;
    }
    if (same && !m_encoder.IsENCRunning()) {
        StopClaimed();
        Settle(EngineState::Idle);
    } else {
        Settle(found);
    }
}
