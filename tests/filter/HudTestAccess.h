// Shared fixture of the overlay and measurement tests: a filter on a
// hand-moved clock with a recording sound player, a pinned score-line clock,
// and faces that the frame step keeps following.
#pragma once

#include "filter/HudText.h"
#include "filter/TransEffectFilter.h"

#include "support/Frames.h"
#include "support/RecordingSoundPlayer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace quell {

struct HudTestAccess {
    static CHudText& Hud(CTransEffectFilter& f) { return f.Hud(); }
    static cv::Mat Mask(CTransEffectFilter& f) { return f.HudMask(); }
    static int GaugeBase(CTransEffectFilter& f) { return f.GaugeBase(); }
    static uint32_t TextClock(CTransEffectFilter& f) { return f.TextClock(); }
    static uint64_t Score(CTransEffectFilter& f) { return f.GetScore(); }
};

namespace test {

// 2024-02-29 07:05:09.042, a leap day.
inline LocalTime PinnedTime()
{
    return {2024, 2, 29, 7, 5, 9, 42};
}

// A frame with a texture in its upper part, where faces are followed, and
// black below row `blackFrom`, so that the panel's texts stand out. `shift`
// moves the texture that many pixels to the left.
inline cv::Mat FaceFrame(int width, int height, int blackFrom, int shift = 0)
{
    cv::Mat frame = PatternFrame(width + 8, height, 1)(cv::Rect(shift, 0, width, height)).clone();
    frame.rowRange(std::min(blackFrom, height), height).setTo(cv::Scalar::all(0));
    return frame;
}

class HudFixture : public ::testing::Test {
protected:
    HudFixture() : m_clock(1000) {}

    std::unique_ptr<CTransEffectFilter> Make()
    {
        FilterPlatform platform;
        platform.clock = &m_clock;
        platform.sound = &m_sound;
        platform.startWorker = false;
        auto filter = std::make_unique<CTransEffectFilter>(platform);
        HudTestAccess::Hud(*filter).SetLocalTimeSource(&PinnedTime);
        return filter;
    }

    // Runs one frame step on a copy of `in` and returns what leaves.
    static cv::Mat Step(CTransEffectFilter& filter, const cv::Mat& in)
    {
        cv::Mat frame = in.clone();
        filter.Transform(frame.data, frame.cols, frame.rows, frame.step);
        return frame;
    }

    // The next frame of a 640 x 480 scene whose texture sways by one pixel
    // from frame to frame, so that followed points keep moving and survive
    // any time between frames.
    cv::Mat NextFrame()
    {
        return FaceFrame(640, 480, 300, static_cast<int>(m_frameCount++ % 2));
    }
    cv::Mat StepScene(CTransEffectFilter& filter) { return Step(filter, NextFrame()); }

    // A filter that has seen one frame of the scene, so that faces added now
    // are followed from the next frame on.
    std::unique_ptr<CTransEffectFilter> MakePrimed()
    {
        auto filter = Make();
        StepScene(*filter);
        return filter;
    }

    // Appends a face that follows a grid of points on the textured part of
    // the scene, with a profile to show and its marker's animations over
    // (no ring, no scan line). Returns it.
    CFaceData& AddFace(CTransEffectFilter& filter, int points = 64)
    {
        CFaceData* added = nullptr;
        filter.Faces().WithFaces([&](auto& faces) {
            auto face = std::make_unique<CFaceData>(m_clock, 1u);
            face->m_rect = cv::Rect(290, 150, 60, 60);
            face->m_pPoints.clear();
            for (int i = 0; i < points; ++i)
                face->m_pPoints.push_back(cv::Point2f(250.0f + 18.0f * (i % 8), 110.0f + 18.0f * (i / 8 % 8)));
            face->m_pointCount = points;
            face->m_meanX = face->m_markerX = 320.0f;
            face->m_meanY = face->m_markerY = 180.0f;
            face->m_markerRadius = 30;
            face->m_measureTime = 10032;
            face->m_soundStage = 1;
            face->m_profileReady = 1;
            face->m_name = "Ada Lovelace";
            face->m_age = 36;
            face->m_origin = "London";
            face->m_height = 165;
            face->m_weight = 52;
            added = face.get();
            faces.push_back(std::move(face));
        });
        return *added;
    }

    std::vector<std::string> SoundNames()
    {
        std::vector<std::string> names;
        for (const auto& call : m_sound.Calls())
            names.push_back(call.path.substr(call.path.find_last_of('/') + 1) + (call.loop ? " loop" : ""));
        return names;
    }

    ManualClock m_clock;
    RecordingSoundPlayer m_sound;
    uint64_t m_frameCount = 0;
};

}  // namespace test
}  // namespace quell
