// The measuring sequence through the frame step: dropping of lost faces,
// score and high score, the current face, its sound stages and the blinking
// power text.
#include "filter/HudTestAccess.h"

#include <opencv2/imgproc.hpp>

namespace quell {
namespace {

class MeasurementTest : public test::HudFixture {
protected:
    // One frame step; returns whether the power text was drawn.
    bool StepShowsPower(CTransEffectFilter& filter)
    {
        const cv::Mat out = StepScene(filter);
        const PixelRect box = HudTestAccess::Hud(filter).PowerBox();
        // Black below the scene's texture: any colour there is text.
        cv::Mat colour;
        cv::cvtColor(out(cv::Rect(box.x, box.y, box.width, box.height)), colour, cv::COLOR_BGRA2BGR);
        return cv::countNonZero(colour.reshape(1)) > 0;
    }
};

TEST_F(MeasurementTest, CountingLoopStartsOnTheFirstCurrentFrameOnly)
{
    auto filter = MakePrimed();
    CFaceData& face = AddFace(*filter);
    StepScene(*filter);
    EXPECT_EQ(SoundNames(), std::vector<std::string>{"count.wav loop"});
    EXPECT_EQ(face.m_soundStage, 2);
    StepScene(*filter);
    StepScene(*filter);
    EXPECT_EQ(m_sound.Calls().size(), 1u) << "the loop is started once";
    EXPECT_EQ(face.m_soundStage, 2) << "no result before the count-up has arrived";
}

TEST_F(MeasurementTest, ResultSoundFollowsThePowerThresholds)
{
    const std::pair<uint64_t, const char*> cases[] = {
        {0, "point1.wav"},       {9, "point1.wav"},        {10, "point2.wav"},       {99, "point2.wav"},
        {100, "point3.wav"},     {999, "point3.wav"},      {1000, "point4.wav"},     {99999, "point4.wav"},
        {100000, "point5.wav"},  {999999, "point5.wav"},   {1000000, "point6.wav"},  {~uint64_t{0}, "point6.wav"},
    };
    for (const auto& [power, sound] : cases) {
        m_sound.Clear();
        auto filter = MakePrimed();
        CFaceData& face = AddFace(*filter);
        face.m_targetPower = power;
        face.m_shownPower = power;
        face.m_soundStage = 2;
        face.m_reachedTime = 33;
        StepScene(*filter);
        EXPECT_EQ(SoundNames(), std::vector<std::string>{sound}) << power;
        EXPECT_EQ(face.m_soundStage, 3);
        StepScene(*filter);
        EXPECT_EQ(m_sound.Calls().size(), 1u) << "stage 3 is final";
    }
}

TEST_F(MeasurementTest, CountingAndResultInOneFrameForAFaceThatArrivesAtOnce)
{
    auto filter = MakePrimed();
    CFaceData& face = AddFace(*filter);
    face.m_targetPower = 50;
    face.m_reachedTime = 1;
    StepScene(*filter);
    EXPECT_EQ(SoundNames(), (std::vector<std::string>{"count.wav loop", "point2.wav"}));
    EXPECT_EQ(face.m_soundStage, 3);
}

TEST_F(MeasurementTest, NoResultSoundOutsideTheTwoSecondWindow)
{
    for (const uint32_t reached : {0u, 2000u, 10032u}) {
        m_sound.Clear();
        auto filter = MakePrimed();
        CFaceData& face = AddFace(*filter);
        face.m_soundStage = 2;
        face.m_reachedTime = reached;
        StepScene(*filter);
        EXPECT_TRUE(m_sound.Calls().empty()) << reached;
        EXPECT_EQ(face.m_soundStage, 2) << reached;
    }
}

TEST_F(MeasurementTest, PowerTextBlinksIn200MsWindowsDuringTwoSeconds)
{
    auto filter = MakePrimed();
    CFaceData& face = AddFace(*filter);
    face.m_targetPower = face.m_shownPower = 123456;
    face.m_soundStage = 3;
    const std::pair<uint32_t, bool> cases[] = {
        {0, true},     {1, false},    {199, false},  {200, true},   {399, true},   {400, false},
        {1799, false}, {1800, true},  {1999, true},  {2000, true},  {2001, true},  {10032, true},
    };
    for (const auto& [reached, shown] : cases) {
        face.m_reachedTime = reached;
        EXPECT_EQ(StepShowsPower(*filter), shown) << "reached " << reached;
    }
    EXPECT_EQ(HudTestAccess::Hud(*filter).PowerLayout().Text(), "POWER 000000123456");
}

TEST_F(MeasurementTest, LostFaceInTheMiddleIsDroppedAndTheNextOneStillVisited)
{
    auto filter = MakePrimed();
    CFaceData& first = AddFace(*filter);
    CFaceData& lost = AddFace(*filter, 4);
    lost.m_shownPower = 700;
    CFaceData& last = AddFace(*filter);
    last.m_shownPower = 300;
    first.m_shownPower = 200;
    StepScene(*filter);

    EXPECT_EQ(filter->FaceCount(), 2u);
    filter->Faces().WithFaces([&](auto& faces) {
        EXPECT_EQ(faces[0].get(), &first);
        EXPECT_EQ(faces[1].get(), &last);
    });
    EXPECT_EQ(SoundNames(), (std::vector<std::string>{"lost.wav", "count.wav loop"}))
        << "the last face is visited in the same frame and is the current one";
    EXPECT_EQ(last.m_soundStage, 2);
    EXPECT_EQ(first.m_soundStage, 1) << "only the current face's stages advance";
    EXPECT_EQ(filter->GetScore(), 700u) << "the dropped face's power still counts";
    EXPECT_EQ(filter->GetHighScore(), 700u);
    EXPECT_EQ(HudTestAccess::Hud(*filter).PowerLayout().Text(), "POWER 000000000300");
}

TEST_F(MeasurementTest, TwoFacesBothScoreButOnlyTheLastOneMeasures)
{
    auto filter = MakePrimed();
    CFaceData& first = AddFace(*filter);
    CFaceData& second = AddFace(*filter);
    first.m_shownPower = 900;
    first.m_reachedTime = 50;
    second.m_shownPower = 400;
    second.m_targetPower = 400;
    second.m_reachedTime = 50;
    StepScene(*filter);
    EXPECT_EQ(first.m_soundStage, 1);
    EXPECT_EQ(second.m_soundStage, 3);
    EXPECT_EQ(SoundNames(), (std::vector<std::string>{"count.wav loop", "point3.wav"}));
    EXPECT_EQ(filter->GetScore(), 900u);
    EXPECT_EQ(HudTestAccess::Hud(*filter).PowerLayout().Text(), "POWER 000000000400");

    // The second one is lost: the first is now the only and current face.
    second.m_pointCount = 0;
    first.m_reachedTime = 2500;
    StepScene(*filter);
    EXPECT_EQ(SoundNames().back(), "count.wav loop");
    EXPECT_EQ(first.m_soundStage, 2) << "its result window has passed: it stays in stage 2";
    StepScene(*filter);
    EXPECT_EQ(first.m_soundStage, 2);
}

TEST_F(MeasurementTest, OnlyFaceDroppedShowsZeroAndKeepsTheScore)
{
    auto filter = MakePrimed();
    CFaceData& face = AddFace(*filter);
    face.m_shownPower = 4242;
    StepScene(*filter);
    face.m_pointCount = 3;
    m_sound.Clear();
    EXPECT_TRUE(StepShowsPower(*filter));
    EXPECT_EQ(filter->FaceCount(), 0u);
    EXPECT_EQ(SoundNames(), std::vector<std::string>{"lost.wav"}) << "no counting sound without a face";
    EXPECT_EQ(HudTestAccess::Hud(*filter).PowerLayout().Text(), "POWER 000000000000");
    EXPECT_EQ(filter->GetScore(), 4242u);
    StepScene(*filter);
    EXPECT_EQ(m_sound.Calls().size(), 1u);
}

TEST_F(MeasurementTest, ScoresAreComparedUnsignedAndStrictly)
{
    auto filter = MakePrimed();
    const uint64_t half = uint64_t{1} << 63;
    filter->SetHighScore(half - 1);
    CFaceData& face = AddFace(*filter);
    face.m_shownPower = half;  // negative if it were taken as signed
    StepScene(*filter);
    EXPECT_EQ(filter->GetScore(), half);
    EXPECT_EQ(filter->GetHighScore(), half);

    face.m_shownPower = 5;
    StepScene(*filter);
    EXPECT_EQ(filter->GetScore(), half) << "scores never go down";
    EXPECT_EQ(filter->GetHighScore(), half);

    filter->SetHighScore(~uint64_t{0});
    face.m_shownPower = ~uint64_t{0} - 1;
    StepScene(*filter);
    EXPECT_EQ(filter->GetHighScore(), ~uint64_t{0});
    EXPECT_EQ(filter->GetScore(), ~uint64_t{0} - 1);
    EXPECT_EQ(HudTestAccess::Hud(*filter).ScoreLayout().Text().substr(0, 68),
              "SCORE 18446744073709551614  HIGH-SCORE 18446744073709551615    2024.")
        << "printed unsigned, all digits";
}

TEST_F(MeasurementTest, ResetFacesAfterMeasuringKeepsScoreAndStartsNothing)
{
    auto filter = MakePrimed();
    CFaceData& face = AddFace(*filter);
    face.m_shownPower = 77;
    StepScene(*filter);
    filter->ResetFaces();
    m_sound.Clear();
    StepScene(*filter);
    EXPECT_TRUE(m_sound.Calls().empty());
    EXPECT_EQ(filter->GetScore(), 77u);
}

}  // namespace
}  // namespace quell
