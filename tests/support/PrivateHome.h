// A HOME and XDG_CONFIG_HOME of the test run, set before anything reads
// them, so that no test reaches the user's own configuration or profile;
// removed with everything in it at the end.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>

namespace quell::test {

class CPrivateHome {
public:
    // `pattern` is a mkdtemp pattern ending in XXXXXX.
    explicit CPrivateHome(std::string pattern) : m_path(std::move(pattern))
    {
        if (::mkdtemp(m_path.data()) == nullptr) {
            std::perror("mkdtemp");
            m_path.clear();
            return;
        }
        ::chmod(m_path.c_str(), 0755);
        const std::string config = m_path + "/.config";
        ::setenv("HOME", m_path.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    ~CPrivateHome()
    {
        std::error_code error;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, error);
    }
    CPrivateHome(const CPrivateHome&) = delete;
    CPrivateHome& operator=(const CPrivateHome&) = delete;

    bool Ok() const { return !m_path.empty(); }

private:
    std::string m_path;
};

}  // namespace quell::test
