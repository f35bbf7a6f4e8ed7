#pragma once

// Small helpers shared by the test folders: a temporary folder that cleans up after
// itself, quoting for /bin/sh and running a shell command.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

namespace vembatest {

// A fresh folder under /tmp named prefix-XXXXXX, removed with its contents when the
// object goes. Path() is empty when the folder could not be made.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "vembatest")
    {
        std::string pattern = "/tmp/" + prefix + "-XXXXXX";
        if (char* made = ::mkdtemp(pattern.data()))
            m_path = made;
    }
    ~TempFolder() { Remove(); }

    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    TempFolder(TempFolder&& other) noexcept
        : m_path(std::exchange(other.m_path, std::string()))
    {
    }
    TempFolder& operator=(TempFolder&& other) noexcept
    {
        if (this != &other) {
            Remove();
            m_path = std::exchange(other.m_path, std::string());
        }
        return *this;
    }

    const std::string& Path() const { return m_path; }

private:
    void Remove()
    {
        std::error_code ignored;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ignored);
        m_path.clear();
    }

    std::string m_path;
};

// text as one /bin/sh word, whatever characters it holds.
inline std::string ShellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

// Runs command through /bin/sh with stderr joined to stdout; true when it exits 0.
// output (optional) receives everything it printed.
inline bool RunCommand(const std::string& command, std::string* output = nullptr)
{
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return false;
    std::string text;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        text.append(buffer, got);
    const int status = ::pclose(pipe);
    if (output)
        *output = std::move(text);
    return status == 0;
}

} // namespace vembatest
