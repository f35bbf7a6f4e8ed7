#include "enginectl/encoder.h"

#include "config/trace.h"
#include "enginectl/engine_census.h"
#include "platform/file_io.h"
#include "platform/places.h"
#include "platform/temp_names.h"

#include <cstring>
#include <sys/stat.h>
#include <thread>

namespace {

constexpr auto kRequestTimeout = std::chrono::milliseconds(20000);
constexpr auto kQuitWait = std::chrono::milliseconds(1500);
constexpr auto kConnectPoll = std::chrono::milliseconds(100);
constexpr uint32_t kErrorWithoutCode = 0xFFFE;

std::atomic<int> g_pipeCounter { 50000 };

uint32_t ReadWord(const uint8_t* bytes)
{
    return bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

} // namespace

int NextEnginePipeNumber()
{
    return ++g_pipeCounter;
}

CEncoder::CEncoder(std::shared_ptr<ProcessSpawner> spawner)
    : m_spawner(std::move(spawner))
{
}

CEncoder::~CEncoder()
{
    CloseChannel();
    // The engine ends by itself when its pipes close; what is left is killed.
    if (std::shared_ptr<ChildProcess> process = Process())
        process->WaitForExit(std::chrono::milliseconds(200));
    ForgetProcess();
}

void CEncoder::SetNotifyTarget(
    EngineNotify notify, uintptr_t notifyValue, uint32_t errorMessage, uint32_t completeMessage)
{
    std::lock_guard lock(m_recordLock);
    m_notify = std::move(notify);
    m_notifyValue = notifyValue;
    m_errorMessage = errorMessage;
    m_completeMessage = completeMessage;
}

void CEncoder::SetStatusTarget(EngineStatus* status)
{
    std::lock_guard lock(m_recordLock);
    m_status = status;
}

void CEncoder::SetEnginePath(const std::string& path)
{
    std::lock_guard lock(m_lock);
    m_enginePath = path;
}

void CEncoder::SetConnectBound(std::chrono::milliseconds bound)
{
    std::lock_guard lock(m_lock);
    m_connectBound = bound;
}

std::shared_ptr<ChildProcess> CEncoder::Process() const
{
    std::lock_guard lock(m_lock);
    return m_process;
}

void CEncoder::ForgetProcess()
{
    std::shared_ptr<ChildProcess> process;
    {
        std::lock_guard lock(m_lock);
        process = std::move(m_process);
    }
    // Dropped outside the lock: a process that still runs is killed and reaped.
}

void CEncoder::CloseChannel()
{
    std::shared_ptr<CEnginePipe> pipe;
    {
        std::lock_guard lock(m_lock);
        pipe = std::move(m_pipe);
        m_response.reset();
    }
    if (pipe)
        pipe->Close(); // joins the reader thread, so no message arrives after this
    std::lock_guard lock(m_recordLock);
    m_image.reset();
    m_info.reset();
    m_text.reset();
    m_runResponse.reset();
}

bool CEncoder::SendMessage(uint8_t type, const void* payload, uint32_t length)
{
    std::shared_ptr<CEnginePipe> pipe;
    {
        std::lock_guard lock(m_lock);
        pipe = m_pipe;
    }
    return pipe && pipe->Send(type, payload, length);
}

int CEncoder::CreateEnginePipe()
{
    CloseChannel();
    std::string folder = GetEnginePipeFolder();
    if (folder.empty())
        return -1;
    auto response = std::make_shared<ManualResetEvent>(EventState::Reset);
    auto pipe = std::make_shared<CEnginePipe>();
    int number = NextEnginePipeNumber();
    std::chrono::milliseconds bound;
    {
        std::lock_guard lock(m_lock);
        bound = m_connectBound;
    }
    {
        std::lock_guard lock(m_recordLock);
        m_runResponse = response;
    }
    bool created = pipe->Create(
        number, folder,
        [this](uint8_t type, const uint8_t* payload, uint32_t length) {
            HandleEngineMessage(type, payload, length);
        },
        bound);
    if (!created) {
        std::lock_guard lock(m_recordLock);
        m_runResponse.reset();
        return -1;
    }
    std::lock_guard lock(m_lock);
    m_pipe = std::move(pipe);
    m_response = std::move(response);
    m_pipeFolder = folder;
    return number;
}

int CEncoder::CreateEngine(const std::vector<std::string>& arguments)
{
    ForgetProcess();
    std::shared_ptr<CEnginePipe> pipe;
    SpawnRequest request;
    {
        std::lock_guard lock(m_lock);
        if (!m_response || !m_pipe) {
            TraceMessage(kTraceEnginePipe, " - CreateEngine :  can not Call CreateEnginePipe()");
            return 0;
        }
        pipe = m_pipe;
        request.program
            = m_enginePath.empty() ? GetProgramFolder() + "/vembacast-engine" : m_enginePath;
        request.environment.emplace_back("VEMBACAST_PIPE_DIR", m_pipeFolder);
    }
    request.environment.emplace_back(
        kEngineCountVariable, ServerEngineCensus().CountForNewEngine());
    request.args = arguments;
    std::shared_ptr<ChildProcess> process = m_spawner->Spawn(request);
    if (!process) {
        TraceMessage(kTraceEnginePipe, " - CreateEngine :  can not CreateProcess()");
        return 0;
    }
    ServerEngineCensus().Note(process);
    {
        std::lock_guard lock(m_lock);
        m_process = process;
    }
    while (true) {
        bool stillWaiting = false;
        if (pipe->WaitConnected(kConnectPoll, stillWaiting)) {
            TraceMessage(kTraceEnginePipe, " - CreateEngine :  Success connected Pipe");
            return 1;
        }
        // An engine that has ended will never connect: no need to wait out the bound.
        if (!stillWaiting || !process->IsRunning()) {
            if (stillWaiting && pipe->WaitConnected(std::chrono::milliseconds(0), stillWaiting)) {
                TraceMessage(kTraceEnginePipe, " - CreateEngine :  Success connected Pipe");
                return 1;
            }
            TraceMessage(kTraceEnginePipe, " - CreateEngine :  PIPE_STATE_EXIT");
            return 0;
        }
    }
}

int CEncoder::RunQZEncEngine(const std::vector<std::string>& arguments)
{
    m_started = false;
    if (!CreateEngine(arguments))
        return 0;
    const uint8_t startParameters[8] = {};
    SendMessage(EngineMessage::StartParameters, startParameters, sizeof startParameters);
    return 1;
}

int CEncoder::RunQZThumbEngine(const std::vector<std::string>& arguments)
{
    m_started = false;
    return CreateEngine(arguments);
}

int CEncoder::StartEncoding()
{
    if (!Process() || m_started.exchange(true))
        return 0;
    SendMessage(EngineMessage::StartEncoding, nullptr, 0);
    return 1;
}

std::shared_ptr<const EngineImage> CEncoder::EngineRequest(const std::string& text)
{
    std::shared_ptr<ManualResetEvent> response;
    {
        std::lock_guard lock(m_lock);
        if (!m_pipe || !m_response)
            return nullptr;
        response = m_response;
    }
    {
        // A request answered without a picture must not return the one before.
        std::lock_guard lock(m_recordLock);
        m_image.reset();
    }
    response->Reset();
    if (!SendMessage(EngineMessage::Request, text.data(), static_cast<uint32_t>(text.size())))
        return nullptr;
    if (!response->Wait(kRequestTimeout))
        return nullptr;
    response->Reset();
    std::lock_guard lock(m_recordLock);
    return m_image;
}

int CEncoder::QuitEncoding()
{
    TraceMessage(kTraceEngineLifetime, "[CEncoder] Start - QuitEncoding");
    if (std::shared_ptr<ChildProcess> process = Process()) {
        if (!SendMessage(EngineMessage::Quit, nullptr, 0) || !process->WaitForExit(kQuitWait))
            process->Kill();
        ForgetProcess();
    }
    CloseChannel();
    m_started = false;
    TraceMessage(kTraceEngineLifetime, "[CEncoder] End - QuitEncoding");
    return 1;
}

int CEncoder::TerminateEngine()
{
    std::shared_ptr<ChildProcess> process = Process();
    if (!process)
        return 0;
    TraceMessage(kTraceEngineLifetime, "[CEncoder] Start - TerminateEngine");
    bool killed = process->Kill();
    if (!killed)
        ForgetProcess();
    TraceMessage(kTraceEngineLifetime, "[CEncoder] End - TerminateEngine");
    return killed ? 1 : 0;
}

int CEncoder::IsENCRunning()
{
    std::shared_ptr<ChildProcess> process = Process();
    if (process && process->IsRunning())
        return 1;
    if (process) {
        std::lock_guard lock(m_lock);
        if (m_process == process)
            m_process.reset();
    }
    return 0;
}

int CEncoder::GetEngineProcessId() const
{
    std::shared_ptr<ChildProcess> process = Process();
    return process ? static_cast<int>(process->Pid()) : 0;
}

int CEncoder::GetPipeNumber() const
{
    std::lock_guard lock(m_lock);
    return m_pipe ? m_pipe->Number() : -1;
}

std::shared_ptr<const EngineImage> CEncoder::LastImage() const
{
    std::lock_guard lock(m_recordLock);
    return m_image;
}

std::optional<std::array<uint8_t, kEngineInfoSize>> CEncoder::LastInfo() const
{
    std::lock_guard lock(m_recordLock);
    return m_info;
}

std::shared_ptr<const EngineText> CEncoder::LastText() const
{
    std::lock_guard lock(m_recordLock);
    return m_text;
}

void CEncoder::HandleEngineMessage(uint8_t type, const uint8_t* payload, uint32_t length)
{
    std::unique_lock lock(m_recordLock);
    switch (type) {
    case EngineMessage::Request: // the engine's information record
        if (length == kEngineInfoSize) {
            m_info.emplace();
            memcpy(m_info->data(), payload, kEngineInfoSize);
        }
        break;
    case EngineMessage::RequestDone:
        if (m_runResponse)
            m_runResponse->Set();
        break;
    case EngineMessage::Image:
        if (length >= EngineImage::kHeaderSize + 1) {
            auto image = std::make_shared<EngineImage>();
            memcpy(image->header.data(), payload, EngineImage::kHeaderSize);
            if (length - EngineImage::kHeaderSize == image->ImageSize())
                image->pixels.assign(payload + EngineImage::kHeaderSize, payload + length);
            m_image = std::move(image);
        }
        break;
    case EngineMessage::Text:
        if (length >= 17) {
            auto text = std::make_shared<EngineText>();
            memcpy(text->header.data(), payload, text->header.size());
            text->text.assign(payload + text->header.size(), payload + length);
            m_text = std::move(text);
        }
        break;
    case EngineMessage::Status:
        if (length == 24 && m_status)
            m_status->Store(payload);
        break;
    case EngineMessage::Complete:
        if (length == 24 && m_notify) {
            EngineNotify notify = m_notify;
            uint32_t message = m_completeMessage;
            uintptr_t value = m_notifyValue;
            lock.unlock();
            notify(message, ReadWord(payload + 16), value);
        }
        break;
    case EngineMessage::Error:
        if (m_notify) {
            uint32_t code = length == 4 ? ReadWord(payload) : kErrorWithoutCode;
            EngineNotify notify = m_notify;
            uint32_t message = m_errorMessage;
            uintptr_t value = m_notifyValue;
            lock.unlock();
            notify(message, code & 0xFFFF, value);
        }
        break;
    default:
        break; // unknown messages are ignored
    }
}

void CEncoder::DeleteTemporaryFiles(const std::string& folder)
{
    std::string path = folder.empty() ? GetServicesFolder() : folder;
    std::vector<std::string> names = ListFolder(path, FolderEntries::Files);
    std::erase_if(names, [](const std::string& name) { return !IsTempListFileName(name); });
    for (const std::string& name : names) {
        std::string file = path + "/" + name;
        struct stat info { };
        if (lstat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        unlink(file.c_str());
    }
}
