// Fuzz target: the frame step over frames of any size from 1 x 1 to
// 4096 x 4096, with padded and odd row lengths, any contents, and in some
// inputs the test photograph pasted in at a chosen place and scale, moving
// from frame to frame while detection passes run between the steps.
//
// Each frame lies in a buffer of exactly the bytes its rows need, so that
// AddressSanitizer sees a step reading or writing past the last pixel; the
// row padding is filled with a marker that the step must leave alone. The
// pixels of one input are bounded (kPixelBudget), so that the fuzzer keeps
// going.
#include "FuzzSupport.h"

#include "faces/DetectWorker.h"
#include "filter/TransEffectFilter.h"
#include "platform/Clock.h"
#include "platform/ISoundPlayer.h"
#include "platform/Warnings.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace quell {
namespace {

constexpr int kMaxSideBits = 12;  // sides up to 4096
// The largest frame of most inputs, and the pixels stepped per input over
// all its frames; a full-size frame is the one frame of its input.
constexpr double kFramePixels = 1 << 20;
constexpr std::size_t kPixelBudget = std::size_t{1} << 21;
constexpr int kMaxFrames = 8;
constexpr int kMaxPasses = 2;
constexpr int kMaxPadding = 67;
constexpr std::uint8_t kPaddingMarker = 0xA5;

class CNullSound final : public ISoundPlayer {
public:
    void Play(const std::string&, bool) override {}
    void Stop() override {}
};

// The data files are the build's own; one that cannot be used would leave
// detection, and with it most of the step, untried.
class CFailOnWarning final : public IWarningSink {
public:
    void Warn(Warning, const std::string& file, const std::string& detail) override
    {
        FUZZ_CHECK(false, file + ": " + detail);
    }
};

// One filter for the whole run, its detection passes run by hand: loading
// the cascades for every input would cost more than most steps.
struct Rig {
    Rig()
    {
        cv::setNumThreads(1);
        FilterPlatform platform;
        platform.clock = &clock;
        platform.sound = &sound;
        platform.startWorker = false;
        platform.calendarSeconds = [] { return 42u; };
        platform.warnings = &warnings;
        platform.installedDataDir = QUELL_DATA_DIR;
        filter = std::make_unique<CTransEffectFilter>(platform);
        filter->SetDataDir(QUELL_DATA_DIR);
        filter->Start();
        worker = filter->Worker();
        FUZZ_CHECK(worker && worker->CascadeLoaded(0) && worker->CascadeLoaded(1) && worker->CascadeLoaded(2),
                   "cascades missing in " QUELL_DATA_DIR);
        const cv::Mat bgr = cv::imread(QUELL_TESTDATA_DIR "/astronaut.png", cv::IMREAD_COLOR);
        FUZZ_CHECK(!bgr.empty(), "cannot read " QUELL_TESTDATA_DIR "/astronaut.png");
        cv::cvtColor(bgr, picture, cv::COLOR_BGR2BGRA);
    }

    // What one input leaves behind that the next must not see: followed
    // faces, a frame waiting in the hand-off slot, a detection to place, the
    // previous frame's grey picture (a one-pixel step rebuilds the work
    // images) and the score shown.
    void Reset()
    {
        filter->ResetFaces();
        std::uint8_t pixel[4] = {};
        filter->Transform(pixel, 1, 1, sizeof pixel);
        filter->Faces().Clear();
        filter->SetHighScore(0);
        filter->SetWholeFramePyramids(false);
        filter->SetSeed(0);
    }

    // QUELL_FUZZ_VERBOSE=1 prints what each input asks for.
    const bool verbose = std::getenv("QUELL_FUZZ_VERBOSE") != nullptr;
    ManualClock clock{1000};
    CNullSound sound;
    CFailOnWarning warnings;
    std::unique_ptr<CTransEffectFilter> filter;
    CDetectWorker* worker = nullptr;
    cv::Mat picture;  // the test photograph, BGRA
};

Rig& TheRig()
{
    static Rig rig;
    return rig;
}

// A frame buffer of exactly the bytes its rows need: the last row ends at
// its last pixel. Left uninitialised: every byte is painted or marked.
struct Frame {
    Frame(int width, int height, std::size_t stride)
        : width(width), height(height), stride(stride),
          size(stride * static_cast<std::size_t>(height - 1) + std::size_t{4} * static_cast<std::size_t>(width)),
          bytes(new std::uint8_t[size])
    {
    }

    cv::Mat Pixels() { return cv::Mat(height, width, CV_8UC4, bytes.get(), stride); }

    void MarkPadding()
    {
        const std::size_t row = std::size_t{4} * static_cast<std::size_t>(width);
        for (int y = 0; y + 1 < height; ++y)
            std::memset(bytes.get() + static_cast<std::size_t>(y) * stride + row, kPaddingMarker, stride - row);
    }

    __attribute__((no_sanitize("coverage"))) bool PaddingKept() const
    {
        const std::size_t row = std::size_t{4} * static_cast<std::size_t>(width);
        for (int y = 0; y + 1 < height; ++y) {
            const std::uint8_t* pad = bytes.get() + static_cast<std::size_t>(y) * stride + row;
            if (!std::all_of(pad, pad + (stride - row), [](std::uint8_t b) { return b == kPaddingMarker; }))
                return false;
        }
        return true;
    }

    int width;
    int height;
    std::size_t stride;
    std::size_t size;
    std::unique_ptr<std::uint8_t[]> bytes;
};

enum class Fill { Plain, Pattern, Noise, Gradient };

struct Background {
    Fill fill = Fill::Plain;
    cv::Scalar colour;
    std::vector<std::uint8_t> pattern;
    std::uint32_t seed = 1;
};

// Rows are copied from one source row longer than the frame's, each from
// its own offset: the input's bytes tiled, or noise. The harness's own loops
// are left out of the coverage the fuzzer steers by.
__attribute__((no_sanitize("coverage"))) void Paint(const Background& background, cv::Mat pixels,
                                                    int frameIndex)
{
    const std::size_t rowBytes = std::size_t{4} * static_cast<std::size_t>(pixels.cols);
    constexpr std::size_t kSpread = 4096;
    std::vector<std::uint8_t> source(rowBytes + kSpread);
    std::uint32_t state = background.seed * 2654435761u + static_cast<std::uint32_t>(frameIndex) + 1;
    const auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    };
    switch (background.fill) {
    case Fill::Plain:
        pixels.setTo(background.colour);
        return;
    case Fill::Gradient:
        for (int y = 0; y < pixels.rows; ++y) {
            std::uint8_t* row = pixels.ptr<std::uint8_t>(y);
            for (int x = 0; x < pixels.cols; ++x) {
                row[4 * x + 0] = static_cast<std::uint8_t>(x + frameIndex);
                row[4 * x + 1] = static_cast<std::uint8_t>(y);
                row[4 * x + 2] = static_cast<std::uint8_t>(x ^ y);
                row[4 * x + 3] = 0;
            }
        }
        return;
    case Fill::Pattern:
        for (std::size_t i = 0; i < source.size(); ++i)
            source[i] = background.pattern[i % background.pattern.size()];
        break;
    case Fill::Noise:
        for (std::uint8_t& byte : source)
            byte = static_cast<std::uint8_t>(next() >> 24);
        break;
    }
    for (int y = 0; y < pixels.rows; ++y) {
        const std::size_t offset = background.fill == Fill::Noise
                                       ? next() % kSpread
                                       : static_cast<std::size_t>(y * 7 + frameIndex * 13) % kSpread;
        std::memcpy(pixels.ptr<std::uint8_t>(y), source.data() + offset, rowBytes);
    }
}

// The photograph scaled by `scale` with its top-left corner at (x, y); only
// the part inside the frame is drawn.
void PastePicture(const cv::Mat& picture, cv::Mat pixels, double scale, double x, double y)
{
    const cv::Rect2d placed(x, y, picture.cols * scale, picture.rows * scale);
    const cv::Rect area = cv::Rect(cv::Point(static_cast<int>(std::floor(placed.x)), static_cast<int>(std::floor(placed.y))),
                                   cv::Point(static_cast<int>(std::ceil(placed.br().x)),
                                             static_cast<int>(std::ceil(placed.br().y)))) &
                          cv::Rect(0, 0, pixels.cols, pixels.rows);
    if (area.empty())
        return;
    const cv::Matx23d m(scale, 0.0, x - area.x, 0.0, scale, y - area.y);
    cv::Mat target = pixels(area);
    cv::warpAffine(picture, target, m, area.size(), cv::INTER_LINEAR, cv::BORDER_TRANSPARENT);
}

// A frame size: sides spread evenly over their bit lengths, so that most
// inputs are small and quick; a frame beyond kFramePixels keeps its shape
// but is shrunk to that size unless `fullSize`.
cv::Size ConsumeSize(FuzzedDataProvider& input, bool fullSize)
{
    int width = input.ConsumeIntegralInRange(1, 1 << input.ConsumeIntegralInRange(0, kMaxSideBits));
    int height = input.ConsumeIntegralInRange(1, 1 << input.ConsumeIntegralInRange(0, kMaxSideBits));
    if (!fullSize && static_cast<double>(width) * height > kFramePixels) {
        const double shrink = std::sqrt(kFramePixels / (static_cast<double>(width) * height));
        width = std::max(1, static_cast<int>(width * shrink));
        height = std::max(1, static_cast<int>(height * shrink));
    }
    return {width, height};
}

}  // namespace
}  // namespace quell

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    quell::TheRig();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t bytes)
{
    using namespace quell;
    Rig& rig = TheRig();
    rig.Reset();
    FuzzedDataProvider input(data, bytes);

    const bool fullSize = input.ConsumeIntegral<std::uint8_t>() == 0xFF;
    const cv::Size first = ConsumeSize(input, fullSize);
    const std::size_t padding = input.ConsumeIntegralInRange<std::size_t>(0, kMaxPadding);
    const int frames = input.ConsumeIntegralInRange(1, kMaxFrames);

    rig.filter->SetHighScore(input.ConsumeIntegral<std::uint64_t>());
    rig.filter->SetWholeFramePyramids(input.ConsumeBool());
    rig.filter->SetSeed(input.ConsumeIntegral<std::uint32_t>());

    Background background;
    background.fill = static_cast<Fill>(input.ConsumeIntegralInRange(0, 3));
    background.colour = cv::Scalar(input.ConsumeIntegral<std::uint8_t>(), input.ConsumeIntegral<std::uint8_t>(),
                                    input.ConsumeIntegral<std::uint8_t>(), input.ConsumeIntegral<std::uint8_t>());
    background.seed = input.ConsumeIntegral<std::uint32_t>();

    // The photograph: its scale (1/20 to 4 times its 512 pixels) and its
    // place, anywhere from just off the frame's top left to its far edge.
    const bool face = input.ConsumeBool();
    const double scale = 0.05 + input.ConsumeProbability<double>() * 3.95;
    const double side = 512.0 * scale;
    double x = -side + input.ConsumeProbability<double>() * (first.width + side);
    double y = -side + input.ConsumeProbability<double>() * (first.height + side);
    const int dx = input.ConsumeIntegralInRange(-12, 12);
    const int dy = input.ConsumeIntegralInRange(-12, 12);

    // Per frame: the clock's move after it, a detection pass, a reset of
    // the faces, and now and then a new frame size (as when the stream's
    // caps change), which followed faces and a waiting detection outlive.
    struct StepPlan {
        cv::Size size;
        std::uint32_t advanceMs = 0;
        bool detect = false;
        bool reset = false;
    };
    std::vector<StepPlan> plans;
    int passes = 0;
    std::size_t pixels = 0;
    cv::Size size = first;
    for (int i = 0; i < frames; ++i) {
        StepPlan plan;
        plan.advanceMs = input.ConsumeIntegralInRange<std::uint32_t>(0, 3000);
        // Detection passes cost more than most steps: two per input at most.
        plan.detect = input.ConsumeBool() && passes++ < kMaxPasses;
        plan.reset = input.ConsumeIntegralInRange(0, 15) == 0;
        if (i > 0 && input.ConsumeIntegralInRange(0, 7) == 0)
            size = ConsumeSize(input, false);
        plan.size = size;
        pixels += static_cast<std::size_t>(size.area());
        if (i > 0 && pixels > kPixelBudget)
            break;
        plans.push_back(plan);
    }
    background.pattern = input.ConsumeRemainingBytes<std::uint8_t>();
    if (background.pattern.empty())
        background.pattern = {0x10, 0x80, 0xF0, 0x00, 0x55};

    if (rig.verbose) {
        std::fprintf(stderr, "%dx%d padding %zu, %zu frames, fill %d, face %d at %.1f,%.1f scale %.3f moving %d,%d\n",
                     first.width, first.height, padding, plans.size(), static_cast<int>(background.fill), face ? 1 : 0,
                     x, y, scale, dx, dy);
    }

    std::unique_ptr<Frame> frame;
    for (std::size_t i = 0; i < plans.size(); ++i) {
        const StepPlan& plan = plans[i];
        if (!frame || frame->width != plan.size.width || frame->height != plan.size.height) {
            frame = std::make_unique<Frame>(plan.size.width, plan.size.height,
                                            std::size_t{4} * static_cast<std::size_t>(plan.size.width) + padding);
        }
        frame->MarkPadding();
        cv::Mat picture = frame->Pixels();
        Paint(background, picture, static_cast<int>(i));
        if (face) {
            PastePicture(rig.picture, picture, scale, x, y);
            x += dx;
            y += dy;
        }
        rig.filter->Transform(frame->bytes.get(), frame->width, frame->height, frame->stride);
        FUZZ_CHECK(frame->PaddingKept(), "the step wrote into the row padding");
        rig.clock.Advance(plan.advanceMs);
        if (plan.detect)
            rig.worker->RunPass(0, 0);
        if (rig.verbose)
            std::fprintf(stderr, "  frame %zu: %dx%d, %zu faces\n", i, frame->width, frame->height,
                         rig.filter->FaceCount());
        if (plan.reset)
            rig.filter->ResetFaces();
    }
    return 0;
}
