// Temporary folders, file helpers and an unprivileged runner for the tests
// of the settings, caption and recording file code.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quell::test {

// A fresh folder under /tmp, removed with everything in it.
class CTempDir {
public:
    CTempDir()
    {
        char name[] = "/tmp/quell-app-base-XXXXXX";
        if (::mkdtemp(name) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        // Open to the unprivileged child that some tests run.
        ::chmod(name, 0755);
        m_path = name;
    }
    ~CTempDir()
    {
        std::error_code error;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(m_path, error)) {
            if (entry.is_directory(error))
                ::chmod(entry.path().c_str(), 0755);
        }
        std::filesystem::remove_all(m_path, error);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

inline void WriteFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs `work` without the privilege to ignore file permissions: directly for
// an ordinary user, in a child process as "nobody" when the tests run as
// root. Nothing when the child could not run it.
inline std::optional<std::string> RunUnprivileged(const std::function<std::string()>& work)
{
    if (::geteuid() != 0)
        return work();
    int fds[2];
    if (::pipe(fds) != 0)
        return std::nullopt;
    const pid_t child = ::fork();
    if (child < 0)
        return std::nullopt;
    if (child == 0) {
        ::close(fds[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        const std::string result = work();
        const bool written = ::write(fds[1], result.data(), result.size()) == static_cast<ssize_t>(result.size());
        ::_exit(written ? 0 : 3);
    }
    ::close(fds[1]);
    std::string result;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        result.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    return result;
}

}  // namespace quell::test
