// The frame step's own grey conversion gives OpenCV's result to the bit.
#include "filter/GreyPicture.h"
#include "platform/VectorUnits.h"

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include <cstdint>
#include <vector>

namespace quell {
namespace {

TEST(GreyPicture, EqualsOpenCvForAnySizeStrideAndContent)
{
    cv::RNG rng(7);
    for (const cv::Size size : {cv::Size(1, 1), cv::Size(3, 2), cv::Size(17, 5), cv::Size(640, 480),
                                cv::Size(1921, 3)}) {
        // A region of a wider picture: rows longer than 4 * width.
        cv::Mat wide(size.height, size.width + 5, CV_8UC4);
        rng.fill(wide, cv::RNG::UNIFORM, 0, 256);
        cv::Mat frame = wide(cv::Rect(3, 0, size.width, size.height));
        // Corner values, where rounding shows.
        frame.at<cv::Vec4b>(0, 0) = {255, 255, 255, 0};
        cv::Mat expected, got;
        cv::cvtColor(frame, expected, cv::COLOR_BGRA2GRAY);
        ToGrey(frame, got);
        ASSERT_EQ(got.size(), size);
        EXPECT_EQ(cv::norm(got, expected, cv::NORM_INF), 0.0) << size;
    }
    // Every grey level and every pure channel.
    cv::Mat levels(4, 256, CV_8UC4, cv::Scalar::all(0));
    for (int v = 0; v < 256; ++v) {
        levels.at<cv::Vec4b>(0, v) = {uchar(v), uchar(v), uchar(v), 0};
        levels.at<cv::Vec4b>(1, v) = {uchar(v), 0, 0, 255};
        levels.at<cv::Vec4b>(2, v) = {0, uchar(v), 0, 0};
        levels.at<cv::Vec4b>(3, v) = {0, 0, uchar(v), 0};
    }
    cv::Mat expected, got;
    cv::cvtColor(levels, expected, cv::COLOR_BGRA2GRAY);
    ToGrey(levels, got);
    EXPECT_EQ(cv::norm(got, expected, cv::NORM_INF), 0.0);
}

// The AVX2 and AVX-512 paths run where the processor has them; each must
// give the bytes of the SSE2 / plain path for every width (its blocks, the
// tail it finishes another way) and every value, and write nothing past the
// row.
TEST(GreyPicture, WidePathsEqualThePortablePathToTheBit)
{
    using Path = void (*)(const uint8_t*, uint8_t*, int);
    const struct {
        const char* name;
        bool present;
        Path path;
    } paths[] = {{"AVX2", HasAvx2(), &grey_paths::Avx2}, {"AVX-512", HasAvx512(), &grey_paths::Avx512}};
    if (!paths[0].present && !paths[1].present)
        GTEST_SKIP() << "no AVX2 or AVX-512 on this processor";
    cv::RNG rng(11);
    for (const auto& path : paths) {
        if (!path.present)
            continue;
        for (const int width : {1, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100, 1920, 3840}) {
            // One pixel past the start, so that loads are unaligned.
            std::vector<uint8_t> bgrx(4 * static_cast<size_t>(width) + 1);
            for (uint8_t& v : bgrx)
                v = static_cast<uint8_t>(rng.uniform(0, 256));
            for (size_t i = 1; i + 4 <= bgrx.size() && i < 65; i += 4)
                bgrx[i] = bgrx[i + 1] = bgrx[i + 2] = 255;  // white pixels: the largest sums
            std::vector<uint8_t> portable(static_cast<size_t>(width) + 1, 7), wide(portable);
            grey_paths::Portable(bgrx.data() + 1, portable.data(), width);
            path.path(bgrx.data() + 1, wide.data(), width);
            EXPECT_EQ(portable, wide) << path.name << " at width " << width;
            EXPECT_EQ(wide.back(), 7) << path.name << " wrote past the row at width " << width;
        }
    }
}

}  // namespace
}  // namespace quell
