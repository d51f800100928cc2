// Waiting in Qt tests: run the event loop until a condition holds or a
// time has passed, and read a whole file.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace quell::test {

// Runs the event loop until `done` holds; false when `timeoutMs` passed first.
inline bool WaitFor(const std::function<bool()>& done, int timeoutMs = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Runs the event loop for `ms` milliseconds.
inline void Pump(int ms)
{
    WaitFor([] { return false; }, ms);
}

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The paths of the entries of `folder`, sorted; none when it is missing.
inline std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec))
        files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace quell::test
