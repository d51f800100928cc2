// main() of the shell dialog tests: HOME and XDG_CONFIG_HOME point at a
// folder of the test run before anything reads them, and Qt runs on the
// offscreen platform unless the caller chose another one.
#include <gtest/gtest.h>

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>

int main(int argc, char** argv)
{
    char home[] = "/tmp/quell-shell-dialogs-home-XXXXXX";
    if (::mkdtemp(home) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    ::chmod(home, 0755);
    const std::string config = std::string(home) + "/.config";
    ::setenv("HOME", home, 1);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    int result = 0;
    {
        QApplication app(argc, argv);
        testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }

    std::error_code error;
    std::filesystem::remove_all(home, error);
    return result;
}
