// The playbin sound player: once, loop, replacement, and silence on files
// that are missing or not sound at all.
#include "platform/SoundPlayer.h"

#include "support/Wav.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace quell {
namespace {

namespace fs = std::filesystem;

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(5))
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

class SoundPlayerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        gst_init(nullptr, nullptr);
        s_dir = fs::temp_directory_path() / ("quell-sound-" + std::to_string(::getpid()));
        fs::create_directories(s_dir);
        ASSERT_TRUE(test::WriteToneWav((s_dir / "short.wav").string(), 120));
        ASSERT_TRUE(test::WriteToneWav((s_dir / "long.wav").string(), 3000, 660));
        std::ofstream(s_dir / "garbage.wav") << "this is not a sound file";
    }
    static void TearDownTestSuite() { fs::remove_all(s_dir); }
    static std::string File(const char* name) { return (s_dir / name).string(); }

    static fs::path s_dir;
};
fs::path SoundPlayerTest::s_dir;

TEST_F(SoundPlayerTest, PlaysOnceToTheEnd)
{
    PlaybinSoundPlayer player("fakesink sync=true");
    player.Open();
    player.Play(File("short.wav"), false);
    EXPECT_TRUE(WaitFor([&] { return player.SoundsEnded() == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(player.SoundsStarted(), 1u);
    EXPECT_EQ(player.LoopRestarts(), 0u);
}

TEST_F(SoundPlayerTest, LoopsUntilANewSoundReplacesIt)
{
    PlaybinSoundPlayer player("fakesink sync=true");
    player.Open();
    player.Play(File("short.wav"), true);
    ASSERT_TRUE(WaitFor([&] { return player.LoopRestarts() >= 2; })) << "a looping sound starts again at its end";

    player.Play(File("long.wav"), false);
    ASSERT_TRUE(WaitFor([&] { return player.SoundsStarted() == 2; }));
    const uint64_t restarts = player.LoopRestarts();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(player.LoopRestarts(), restarts) << "the new sound stopped the loop";
    EXPECT_EQ(player.SoundsEnded(), restarts) << "the long sound is still playing";
}

TEST_F(SoundPlayerTest, StopEndsALoop)
{
    PlaybinSoundPlayer player("fakesink sync=true");
    player.Open();
    player.Play(File("short.wav"), true);
    ASSERT_TRUE(WaitFor([&] { return player.LoopRestarts() >= 1; }));
    player.Stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const uint64_t restarts = player.LoopRestarts();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(player.LoopRestarts(), restarts);
}

TEST_F(SoundPlayerTest, MissingAndBrokenFilesAreSilent)
{
    PlaybinSoundPlayer player("fakesink sync=true");
    player.Open();
    player.Play(File("absent.wav"), true);
    player.Play("", false);
    player.Play(File("garbage.wav"), true);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(player.LoopRestarts(), 0u) << "a file that cannot be played is not retried";
    // The player still plays after the failures.
    player.Play(File("short.wav"), false);
    EXPECT_TRUE(WaitFor([&] { return player.SoundsEnded() >= 1; }));
}

TEST_F(SoundPlayerTest, CallsReturnAtOnceAndDestructionIsPrompt)
{
    // The machine's own output, which may not exist: nothing may fail or hang.
    auto player = std::make_unique<PlaybinSoundPlayer>();
    player->Open();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 50; ++i)
        player->Play(File(i % 2 ? "short.wav" : "long.wav"), i % 3 == 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto stopStart = std::chrono::steady_clock::now();
    player.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - stopStart, std::chrono::seconds(2));
}

TEST_F(SoundPlayerTest, PlaysOnlyBetweenOpenAndClose)
{
    auto threads = [] {
        size_t n = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/task"))
            ++n;
        return n;
    };
    const size_t before = threads();
    PlaybinSoundPlayer player("fakesink sync=true");
    EXPECT_EQ(threads(), before) << "no thread before Open()";
    player.Play(File("short.wav"), false);
    for (int round = 1; round <= 2; ++round) {
        player.Open();
        player.Open();
        if (round == 1) {  // later, GStreamer's pooled streaming threads may linger
            EXPECT_EQ(threads(), before + 1) << "one thread of its own";
        }
        player.Play(File("short.wav"), false);
        ASSERT_TRUE(WaitFor([&] { return player.SoundsEnded() == static_cast<uint64_t>(round); }));
        player.Close();
        player.Close();
        EXPECT_EQ(player.SoundsStarted(), static_cast<uint64_t>(round)) << "the request before Open() was dropped";
    }
    player.Play(File("short.wav"), true);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(player.SoundsStarted(), 2u) << "nothing plays after Close()";
}

}  // namespace
}  // namespace quell
