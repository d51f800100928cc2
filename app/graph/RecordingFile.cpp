// Time-stamped names of the recordings and their folder.
#include "graph/RecordingFile.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace quell {

namespace {

std::string Join(const std::string& folder, const std::string& name)
{
    if (folder.empty())
        return name;
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

std::string RecordingFileName(const std::tm& localTime)
{
    static constexpr const char* kWeekdays[] = {"日", "月", "火", "水", "木", "金", "土"};
    const int weekday = ((localTime.tm_wday % 7) + 7) % 7;
    char name[128];
    std::snprintf(name, sizeof name, "%d年%02d月%02d日(%s)%02d時%02d分.avi", localTime.tm_year + 1900,
                  localTime.tm_mon + 1, localTime.tm_mday, kWeekdays[weekday], localTime.tm_hour, localTime.tm_min);
    return name;
}

std::string NewRecordingPath(const std::string& folder, const std::tm& localTime)
{
    const std::string name = RecordingFileName(localTime);
    const std::string stem = name.substr(0, name.size() - 4);  // without ".avi"
    const std::string first = Join(folder, name);
    // The chosen name is taken by creating the empty file, so that nothing
    // else picks it before the file sink opens it.
    for (int number = 1; number < 10000; ++number) {
        const std::string path =
            number == 1 ? first : Join(folder, stem + " (" + std::to_string(number) + ").avi");
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return path;
        }
        // Any other failure (no folder, no permission) shows when the file
        // sink opens the file; the first name is as good as any then.
        if (errno != EEXIST)
            return first;
    }
    return first;
}

bool EnsureFolder(const std::string& folder, const std::string& name)
{
    // Missing parents are made too: the per-user videos folder need not
    // exist yet.
    const std::filesystem::path path = Join(folder, name);
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        return true;
    std::filesystem::create_directories(path, error);
    return std::filesystem::is_directory(path, error);
}

}  // namespace quell
