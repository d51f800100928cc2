// Face events, silence and the fixed seed of the effect: what the frame step
// and the control interface report, in which order, and what they play.
#include "filter/HudTestAccess.h"

#include "faces/FaceList.h"
#include "profiles/ProfileRoll.h"

#include <tuple>

#include <functional>

namespace quell {
namespace {

class RecordingEvents final : public IFaceEventSink {
public:
    void OnFaceEvent(const FaceEvent& event) override { events.push_back(event); }
    std::vector<FaceEvent::Kind> Kinds() const
    {
        std::vector<FaceEvent::Kind> kinds;
        for (const FaceEvent& e : events)
            kinds.push_back(e.kind);
        return kinds;
    }
    std::vector<FaceEvent> events;
};

using Kind = FaceEvent::Kind;

class FaceEventsTest : public test::HudFixture {
protected:
    std::unique_ptr<CTransEffectFilter> MakeWithEvents()
    {
        FilterPlatform platform;
        platform.clock = &m_clock;
        platform.sound = &m_sound;
        platform.startWorker = false;
        platform.events = &m_events;
        auto filter = std::make_unique<CTransEffectFilter>(platform);
        StepScene(*filter);
        return filter;
    }
    RecordingEvents m_events;
};

TEST_F(FaceEventsTest, FoundThenReachedThenLostWhicheverWayTheFaceGoes)
{
    struct Case {
        const char* what;
        std::function<void(CTransEffectFilter&, CFaceData&)> drop;
    };
    const Case cases[] = {
        {"points lost", [](CTransEffectFilter&, CFaceData& f) { f.m_pPoints.resize(2); f.m_pointCount = 2; }},
        {"reset-faces", [](CTransEffectFilter& filter, CFaceData&) { filter.ResetFaces(); }},
        {"stop", [](CTransEffectFilter& filter, CFaceData&) { filter.Stop(); }},
    };
    for (const Case& c : cases) {
        m_events.events.clear();
        auto filter = MakeWithEvents();
        CFaceData& face = AddFace(*filter);
        face.m_targetPower = 123456;
        face.m_powerClass = 4;
        StepScene(*filter);
        ASSERT_EQ(m_events.Kinds(), std::vector<Kind>{Kind::Found}) << c.what;
        const FaceEvent& found = m_events.events[0];
        EXPECT_EQ(found.rect, cv::Rect(290, 150, 60, 60));
        EXPECT_EQ(found.power, 123456u);
        EXPECT_EQ(found.powerClass, 4);
        EXPECT_EQ(found.name, "Ada Lovelace");
        EXPECT_EQ(found.origin, "London");
        EXPECT_EQ(std::tuple(found.age, found.height, found.weight), std::tuple(int64_t{36}, 165, 52));

        StepScene(*filter);
        EXPECT_EQ(m_events.events.size(), 1u) << "nothing new while counting";
        face.m_shownPower = face.m_targetPower;
        face.m_reachedTime = 33;
        StepScene(*filter);
        StepScene(*filter);
        ASSERT_EQ(m_events.Kinds(), (std::vector<Kind>{Kind::Found, Kind::PowerReached})) << c.what;
        EXPECT_EQ(m_events.events[1].power, 123456u);
        EXPECT_EQ(m_events.events[1].powerClass, 4);

        c.drop(*filter, face);
        if (filter->Started() || std::string(c.what) == "points lost")
            StepScene(*filter);
        EXPECT_EQ(m_events.Kinds(), (std::vector<Kind>{Kind::Found, Kind::PowerReached, Kind::Lost})) << c.what;
        StepScene(*filter);
        filter->ResetFaces();
        EXPECT_EQ(m_events.events.size(), 3u) << c.what << ": a face is lost once";
    }
}

TEST_F(FaceEventsTest, FaceLostInItsFirstStepIsFoundAndLostAndUnreportedFacesAreNotLost)
{
    auto filter = MakeWithEvents();
    AddFace(*filter, 3);
    StepScene(*filter);
    EXPECT_EQ(m_events.Kinds(), (std::vector<Kind>{Kind::Found, Kind::Lost}));

    // A face dropped before any step saw it was never reported found.
    m_events.events.clear();
    AddFace(*filter);
    filter->ResetFaces();
    StepScene(*filter);
    EXPECT_TRUE(m_events.events.empty());
}

TEST_F(FaceEventsTest, SilentPlaysNothingAndStopsWhatPlays)
{
    struct Case {
        bool silent;
        std::vector<std::string> sounds;
    };
    const Case cases[] = {
        {false, {"count.wav loop", "lost.wav"}},
        {true, {""}},  // the Stop() of turning it on, then nothing
    };
    for (const Case& c : cases) {
        m_sound.Clear();
        auto filter = MakePrimed();
        filter->SetSilent(c.silent);
        EXPECT_EQ(filter->Silent(), c.silent);
        AddFace(*filter);
        StepScene(*filter);
        filter->ResetFaces();
        StepScene(*filter);
        EXPECT_EQ(SoundNames(), c.sounds) << "silent " << c.silent;
    }
    // Turning it off again lets the next sound play.
    m_sound.Clear();
    auto filter = MakePrimed();
    filter->SetSilent(true);
    filter->SetSilent(false);
    AddFace(*filter);
    StepScene(*filter);
    EXPECT_EQ(SoundNames(), (std::vector<std::string>{"", "count.wav loop"}));
}

// Takes up a face on the scene with `list` and returns its roll.
Profile RollOn(CFaceList& list)
{
    const cv::Mat frame = test::FaceFrame(640, 480, 300);
    std::vector<CFaceData*> faces;
    list.PlaceDetection(frame, cv::Rect(250, 110, 140, 140), faces);
    EXPECT_EQ(faces.size(), 1u);
    Profile p;
    if (faces.empty())
        return p;
    p.targetPower = faces[0]->m_targetPower;
    p.powerClass = faces[0]->m_powerClass;
    p.age = faces[0]->m_age;
    p.height = faces[0]->m_height;
    p.weight = faces[0]->m_weight;
    p.name = faces[0]->m_name;
    p.origin = faces[0]->m_origin;
    list.DropAll();
    return p;
}

bool SameRoll(const Profile& a, const Profile& b)
{
    return std::tie(a.targetPower, a.powerClass, a.age, a.height, a.weight, a.name, a.origin) ==
           std::tie(b.targetPower, b.powerClass, b.age, b.height, b.weight, b.name, b.origin);
}

TEST(FaceSeed, SameNonzeroSeedRollsTheSameFaceWhateverTheCalendar)
{
    ManualClock clock(0);
    CFaceList early(clock, [] { return 1000u; });
    CFaceList late(clock, [] { return 2000000u; });
    for (const uint32_t seed : {1u, 42u, 1765000000u, 0xFFFFFFFFu}) {
        early.SetSeed(seed);
        late.SetSeed(seed);
        EXPECT_EQ(early.Seed(), seed);
        const Profile a = RollOn(early);
        const Profile b = RollOn(late);
        EXPECT_TRUE(SameRoll(a, b)) << seed << ": " << a.targetPower << " vs " << b.targetPower;
        EXPECT_FALSE(a.name.empty());
    }
    // Seed 0 goes back to the calendar: the two lists roll as their
    // calendars say, the same as a fixed seed of that time.
    early.SetSeed(0);
    const Profile byCalendar = RollOn(early);
    early.SetSeed(1000);
    EXPECT_TRUE(SameRoll(byCalendar, RollOn(early)));
    late.SetSeed(0);
    EXPECT_FALSE(SameRoll(byCalendar, RollOn(late)));
}

}  // namespace
}  // namespace quell
