#pragma once

// The MediaInfo library, bound by name at run time ("libmediainfo.so.0") through
// its C entry points. The binding is all or nothing: when the module or any entry
// point of the set is missing the binding fails, and the next use tries again. Once
// bound, the module stays loaded until the process ends. Handles are never shared:
// each reader makes its own with New and ends it with Delete.

#include <cstddef>
#include <string>

namespace mediainfo {

// Stream kinds and info kinds of the C interface.
enum StreamKind : int { kStreamGeneral = 0, kStreamVideo = 1, kStreamAudio = 2 };
enum InfoKind : int { kInfoName = 0, kInfoText = 1 };

// What Get answers while the module is not bound.
inline constexpr const wchar_t* kUnboundText = L"Unable to load MediaInfo.dll";

using NewFn = void* (*)();
using DeleteFn = void (*)(void*);
using OpenFn = size_t (*)(void*, const wchar_t*);
using CloseFn = void (*)(void*);
using GetFn = const wchar_t* (*)(void*, int streamKind, size_t streamNumber,
    const wchar_t* parameter, int infoKind, int searchKind);

// The entry points that readers call; the rest of the set is resolved only to
// prove the module whole.
struct Api {
    NewFn newHandle = nullptr;
    DeleteFn deleteHandle = nullptr;
    OpenFn open = nullptr;
    CloseFn close = nullptr;
    GetFn get = nullptr;
};

// The module the server's helpers bind unless told otherwise.
inline constexpr const char* kDefaultLibraryName = "libmediainfo.so.0";

// Binds the module when it is not bound yet; true when it is bound. Thread-safe. The
// binding is the reader helper program's: one module per process, as dlopen gives it.
bool EnsureBound();

// True when the module of that name loads with every entry point of the set. It stays
// loaded (a loaded module is never unloaded); nothing of it is called.
bool CanBind(const std::string& libraryName);

// The bound entry points; every member is null while unbound.
Api GetApi();

// The names of the entry points the binding resolves, in order.
const char* const* EntryPointNames(size_t& count);

// Binds another module name from now on: the current binding is forgotten (its
// module stays loaded) and the next use binds anew. The reader helper takes the
// server's name this way.
void SetLibraryName(const std::string& name);

// The module name the binding uses.
std::string LibraryName();

// Tests bind another module name (a missing one shows the unbound behaviour).
inline void SetLibraryNameForTesting(const std::string& name)
{
    SetLibraryName(name);
}

// RAII handle: New on construction, Close (when opened) and Delete on destruction.
// Without a bound module New yields no handle, Open fails and Get answers
// kUnboundText. It takes the entry points as a value and no lock.
class Handle {
public:
    explicit Handle(const Api& api);
    ~Handle();
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool IsValid() const { return m_handle != nullptr; }
    bool Open(const std::wstring& path);
    std::wstring Get(StreamKind kind, const wchar_t* parameter) const;

private:
    Api m_api;
    void* m_handle = nullptr;
    bool m_opened = false;
};

} // namespace mediainfo
