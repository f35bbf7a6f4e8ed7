#include "embedded_font.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <mutex>
#include <set>
#include <unistd.h>
#include <vector>

namespace subvoro {

namespace {

    // The folder and files of the fonts registered so far, removed when the process ends.
    class CFontFolder {
    public:
        ~CFontFolder()
        {
            for (const std::string& file : m_files)
                ::unlink(file.c_str());
            if (!m_folder.empty())
                ::rmdir(m_folder.c_str());
        }

        bool Register(const std::string& data)
        {
            std::lock_guard<std::mutex> lock(m_lock);
            if (m_folder.empty() && !MakeFolder())
                return false;
            char name[32];
            std::snprintf(name, sizeof name, "font%08x.ttf", Hash(data));
            const std::string path = m_folder + "/" + name;
            if (m_files.contains(path))
                return true; // the same font was met before
            if (!WriteFile(path, data))
                return false;
            m_files.insert(path);
            return FcConfigAppFontAddFile(nullptr, reinterpret_cast<const FcChar8*>(path.c_str()))
                == FcTrue;
        }

    private:
        bool MakeFolder()
        {
            const char* tmp = std::getenv("TMPDIR");
            std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/subvoro-XXXXXX";
            std::vector<char> buffer(pattern.begin(), pattern.end());
            buffer.push_back('\0');
            if (!::mkdtemp(buffer.data()))
                return false;
            m_folder = buffer.data();
            return true;
        }

        static uint32_t Hash(const std::string& data)
        {
            uint32_t h = 2166136261u; // FNV-1a
            for (unsigned char c : data)
                h = (h ^ c) * 16777619u;
            return h;
        }

        static bool WriteFile(const std::string& path, const std::string& data)
        {
            int fd
                = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd < 0)
                return false;
            size_t done = 0;
            while (done < data.size()) {
                ssize_t n = ::write(fd, data.data() + done, data.size() - done);
                if (n <= 0)
                    break;
                done += size_t(n);
            }
            ::close(fd);
            if (done != data.size()) {
                ::unlink(path.c_str());
                return false;
            }
            return true;
        }

        std::mutex m_lock;
        std::string m_folder; // guarded by m_lock
        std::set<std::string> m_files; // guarded by m_lock
    };

    CFontFolder& Folder()
    {
        static CFontFolder folder;
        return folder;
    }

} // namespace

void RegisterEmbeddedFont(const std::wstring&, const std::string& data)
{
    if (!data.empty())
        Folder().Register(data);
}

} // namespace subvoro
