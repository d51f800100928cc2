// Helpers shared by the fuzz targets: a failed check that stops the run with
// a message, and a scratch folder that lives as long as the fuzzing process.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

// A broken property is a finding like a crash: libFuzzer saves the input.
#define FUZZ_CHECK(condition, what)                                                              \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: check failed: %s (%s)\n", __FILE__, __LINE__, #condition, \
                         std::string(what).c_str());                                             \
            std::abort();                                                                        \
        }                                                                                        \
    } while (false)

namespace quell::fuzz {

// A private folder in $TMPDIR (else /dev/shm, else /tmp), removed at exit.
// A run that stops at a finding leaves it behind, so scripts/fuzz points
// TMPDIR into the build folder.
class CScratchDir {
public:
    CScratchDir()
    {
        std::error_code ec;
        const char* tmpdir = std::getenv("TMPDIR");
        const std::filesystem::path base = tmpdir && *tmpdir ? std::filesystem::path(tmpdir)
                                           : std::filesystem::is_directory("/dev/shm", ec)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::path("/tmp");
        std::string pattern = (base / "quell-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::perror("mkdtemp");
            std::abort();
        }
        m_path = pattern;
    }
    ~CScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    CScratchDir(const CScratchDir&) = delete;
    CScratchDir& operator=(const CScratchDir&) = delete;

    std::string File(const char* name) const { return (m_path / name).string(); }

    // The process's one scratch folder, made on first use.
    static const CScratchDir& Get()
    {
        static const CScratchDir dir;
        return dir;
    }

private:
    std::filesystem::path m_path;
};

}  // namespace quell::fuzz
