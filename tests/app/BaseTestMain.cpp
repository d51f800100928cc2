// Test program start: HOME and XDG_CONFIG_HOME point at a folder of the
// test run before anything reads them, so no test reaches the user's own
// configuration or profile.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>

int main(int argc, char** argv)
{
    char home[] = "/tmp/quell-app-base-home-XXXXXX";
    if (::mkdtemp(home) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    ::chmod(home, 0755);
    const std::string config = std::string(home) + "/.config";
    ::setenv("HOME", home, 1);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);

    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();

    std::error_code error;
    std::filesystem::remove_all(home, error);
    return result;
}
