// The row team: every row of a pass exactly once, whoever runs it; the helper
// really takes blocks; and the shared grey/write-back pass gives the same
// bytes as the single-threaded one.
#include "filter/PanelMask.h"
#include "platform/RowTeam.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <random>
#include <thread>
#include <vector>

namespace quell {
namespace {

// Runs one pass over `rows` rows and checks that each row was visited once.
void ExpectEachRowOnce(CRowTeam& team, int rows, int block)
{
    std::vector<std::atomic<int>> visits(static_cast<size_t>(std::max(rows, 0)));
    auto body = [&](int begin, int end) {
        ASSERT_LE(0, begin);
        ASSERT_LE(begin, end);
        ASSERT_LE(end, rows);
        ASSERT_LE(end - begin, std::max(block, 1));
        for (int y = begin; y < end; ++y)
            visits[static_cast<size_t>(y)].fetch_add(1);
    };
    team.Run(rows, block, body);
    for (int y = 0; y < rows; ++y)
        ASSERT_EQ(visits[static_cast<size_t>(y)].load(), 1) << "row " << y << " of " << rows << " in blocks of "
                                                            << block;
}

TEST(RowTeamTest, EveryRowExactlyOnceWithAndWithoutTheHelper)
{
    const struct {
        int rows, block;
    } cases[] = {{0, 16}, {1, 16}, {15, 16}, {16, 16}, {17, 16}, {1080, 16}, {4321, 7}, {5, 0}, {3, 1}};
    CRowTeam team;
    for (const bool started : {false, true, false}) {
        if (started)
            team.Start();
        else
            team.Stop();
        for (const auto& c : cases)
            ExpectEachRowOnce(team, c.rows, c.block);
    }
}

TEST(RowTeamTest, TheHelperTakesBlocksWhileTheCallerIsBusy)
{
    CRowTeam team;
    team.Start();
    // The caller holds its first block until some other thread has run one.
    const std::thread::id caller = std::this_thread::get_id();
    std::atomic<bool> helped{false};
    bool timedOut = false;
    auto body = [&](int, int) {
        if (std::this_thread::get_id() != caller) {
            helped = true;
            return;
        }
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!helped && !(timedOut = std::chrono::steady_clock::now() > until))
            std::this_thread::yield();
    };
    team.Run(64, 1, body);
    EXPECT_FALSE(timedOut);
    EXPECT_TRUE(helped);
    EXPECT_GT(team.HelperBlocks(), 0u);
}

TEST(RowTeamTest, ABlockThatThrowsOnEitherThreadEndsThePassWithItsException)
{
    CRowTeam team;
    team.Start();
    const std::thread::id caller = std::this_thread::get_id();
    for (const bool onHelper : {true, false}) {
        // The thread that does not throw holds its first block until the
        // other has entered the pass, so that both get a block.
        std::atomic<bool> in[2] = {false, false};  // caller, helper
        std::atomic<int> after{0};
        auto body = [&](int, int) {
            const bool isHelper = std::this_thread::get_id() != caller;
            in[isHelper] = true;
            if (isHelper == onHelper)
                throw std::runtime_error("block failed");
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (!in[!isHelper] && std::chrono::steady_clock::now() < until)
                std::this_thread::yield();
            after.fetch_add(1);
        };
        EXPECT_THROW(team.Run(4096, 1, body), std::runtime_error) << (onHelper ? "helper" : "caller");
        // The blocks not begun when it threw were skipped.
        EXPECT_LT(after.load(), 4096);
    }
    // The team still works.
    ExpectEachRowOnce(team, 100, 3);
}

TEST(RowTeamTest, ManyShortPassesAndRestartsNeitherHangNorMixJobs)
{
    // Each pass has its own counters on the stack: a helper that took a
    // block of a finished pass would count into the next pass's rows.
    CRowTeam team;
    for (int round = 0; round < 20; ++round) {
        team.Start();
        for (int pass = 0; pass < 250; ++pass)
            ExpectEachRowOnce(team, 3 + pass % 5, 1);
        team.Stop();
    }
}

TEST(RowTeamTest, SharedGreyAndWriteBackGivesTheSameBytes)
{
    // 1080p is above the size from which the pass is shared; the row stride
    // is padded.
    const cv::Size size(1920, 1080);
    cv::Mat source(size.height, size.width + 3, CV_8UC4);
    cv::randu(source, 0, 256);
    cv::Mat prev(size, CV_8UC1);
    cv::randu(prev, 0, 256);
    CPanelMask panel;
    panel.Build(size.width, size.height, size.height / 8);

    cv::Mat alone = source.clone(), shared = source.clone();
    cv::Mat aloneFrame = alone(cv::Rect(1, 0, size.width, size.height));
    cv::Mat sharedFrame = shared(cv::Rect(1, 0, size.width, size.height));
    cv::Mat aloneGrey, sharedGrey;
    panel.GreyAndWriteBack(aloneFrame, aloneGrey, prev);
    CRowTeam team;
    team.Start();
    for (int i = 0; i < 3; ++i) {
        shared = source.clone();
        sharedFrame = shared(cv::Rect(1, 0, size.width, size.height));
        panel.GreyAndWriteBack(sharedFrame, sharedGrey, prev, &team);
        ASSERT_EQ(cv::norm(shared, alone, cv::NORM_INF), 0.0);
        ASSERT_EQ(cv::norm(sharedGrey, aloneGrey, cv::NORM_INF), 0.0);
    }
}

}  // namespace
}  // namespace quell
