#include "library/media_info_binding.h"

#include "config/trace.h"

#include <dlfcn.h>
#include <mutex>

namespace mediainfo {

namespace {

    constexpr const char* kEntryPoints[] = {
        "MediaInfo_New",
        "MediaInfoList_New",
        "MediaInfo_Delete",
        "MediaInfoList_Delete",
        "MediaInfo_Open",
        "MediaInfoList_Open",
        "MediaInfo_Open_Buffer_Init",
        "MediaInfo_Open_Buffer_Continue",
        "MediaInfo_Open_Buffer_Continue_GoTo_Get",
        "MediaInfo_Open_Buffer_Finalize",
        "MediaInfo_Open_NextPacket",
        "MediaInfo_Close",
        "MediaInfoList_Close",
        "MediaInfo_Inform",
        "MediaInfoList_Inform",
        "MediaInfo_GetI",
        "MediaInfoList_GetI",
        "MediaInfo_Get",
        "MediaInfoList_Get",
        "MediaInfo_Output_Buffer_Get",
        "MediaInfo_Output_Buffer_GetI",
        "MediaInfo_Option",
        "MediaInfoList_Option",
        "MediaInfo_State_Get",
        "MediaInfoList_State_Get",
        "MediaInfo_Count_Get",
        "MediaInfoList_Count_Get",
        "MediaInfoList_Count_Get_Files",
    };

    struct Binding {
        std::mutex lock;
        std::string libraryName = kDefaultLibraryName; // guarded by lock
        void* module = nullptr; // guarded by lock; never closed once set
        Api api; // guarded by lock
    };

    Binding& TheBinding()
    {
        static Binding binding;
        return binding;
    }

    template <typename Fn> Fn Resolve(void* module, const char* name)
    {
        return reinterpret_cast<Fn>(dlsym(module, name));
    }

    // Loads the module and resolves the whole set; on any gap nothing stays bound.
    bool BindLocked(Binding& binding)
    {
        // Resolved at once, so no lazy symbol binding ever runs inside a reader.
        void* module = dlopen(binding.libraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            TraceMessage(
                kTraceStreamFailure, "MediaInfo : cannot load '%s'", binding.libraryName.c_str());
            return false;
        }
        for (const char* name : kEntryPoints) {
            if (!dlsym(module, name)) {
                TraceMessage(kTraceStreamFailure, "MediaInfo : entry point '%s' missing", name);
                dlclose(module);
                return false;
            }
        }
        binding.api.newHandle = Resolve<NewFn>(module, "MediaInfo_New");
        binding.api.deleteHandle = Resolve<DeleteFn>(module, "MediaInfo_Delete");
        binding.api.open = Resolve<OpenFn>(module, "MediaInfo_Open");
        binding.api.close = Resolve<CloseFn>(module, "MediaInfo_Close");
        binding.api.get = Resolve<GetFn>(module, "MediaInfo_Get");
        binding.module = module;
        return true;
    }

} // namespace

bool CanBind(const std::string& libraryName)
{
    void* module = dlopen(libraryName.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module)
        return false;
    for (const char* name : kEntryPoints) {
        if (!dlsym(module, name)) {
            dlclose(module);
            return false;
        }
    }
    return true;
}

bool EnsureBound()
{
    Binding& binding = TheBinding();
    std::lock_guard guard(binding.lock);
    return binding.module != nullptr || BindLocked(binding);
}

Api GetApi()
{
    Binding& binding = TheBinding();
    std::lock_guard guard(binding.lock);
    return binding.api;
}

const char* const* EntryPointNames(size_t& count)
{
    count = std::size(kEntryPoints);
    return kEntryPoints;
}

std::string LibraryName()
{
    Binding& binding = TheBinding();
    std::lock_guard guard(binding.lock);
    return binding.libraryName;
}

void SetLibraryName(const std::string& name)
{
    Binding& binding = TheBinding();
    std::lock_guard guard(binding.lock);
    binding.libraryName = name;
    binding.module = nullptr;
    binding.api = Api();
}

Handle::Handle(const Api& api)
    : m_api(api)
{
    if (m_api.newHandle)
        m_handle = m_api.newHandle();
}

Handle::~Handle()
{
    if (!m_handle)
        return;
    if (m_opened)
        m_api.close(m_handle);
    m_api.deleteHandle(m_handle);
}

bool Handle::Open(const std::wstring& path)
{
    if (!m_handle || m_opened)
        return m_opened;
    m_opened = m_api.open(m_handle, path.c_str()) != 0;
    return m_opened;
}

std::wstring Handle::Get(StreamKind kind, const wchar_t* parameter) const
{
    if (!m_handle)
        return kUnboundText;
    const wchar_t* value = m_api.get(m_handle, kind, 0, parameter, kInfoText, kInfoName);
    return value ? std::wstring(value) : std::wstring();
}

} // namespace mediainfo
