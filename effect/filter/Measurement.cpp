// The measuring sequence of the frame step: per-face update, dropping of
// lost faces, score and high score, and the sound and blink stage of the
// face whose measurement is shown.
#include "filter/TransEffectFilter.h"

#include <algorithm>
#include <atomic>

namespace quell {

namespace {
// A face with fewer followed points than this is lost.
constexpr int kMinFacePoints = 5;
// The result sound blinks the power text for this long after the count-up
// has arrived, in windows of kBlinkMs.
constexpr uint32_t kBlinkPeriodMs = 2000;
constexpr uint32_t kBlinkMs = 200;

// Sound stages of a face.
constexpr int kStagePlaced = 1;
constexpr int kStageCounting = 2;
constexpr int kStageResult = 3;

// The result sound rises with the size of the rolled power.
Sound ResultSound(uint64_t targetPower)
{
    if (targetPower < 10)
        return Sound::Point1;
    if (targetPower < 100)
        return Sound::Point2;
    if (targetPower < 1000)
        return Sound::Point3;
    if (targetPower < 100000)
        return Sound::Point4;
    if (targetPower < 1000000)
        return Sound::Point5;
    return Sound::Point6;
}

// Raises `value` to `candidate` when that is larger; other threads only read.
void RaiseTo(std::atomic<uint64_t>& value, uint64_t candidate)
{
    uint64_t seen = value.load(std::memory_order_relaxed);
    while (candidate > seen && !value.compare_exchange_weak(seen, candidate, std::memory_order_relaxed)) {
    }
}
}  // namespace

CFaceData* CTransEffectFilter::UpdateFaces()
{
    CFaceData* current = nullptr;
    int kept = 0;
    m_markerArea = cv::Rect();
    for (CFaceData* face : m_stepFaces) {
        face->Advance();
        // Every face is drawn, also one that is dropped just below.
        m_markerArea |= face->DrawMarker(m_pFrame);

        NoteFace(*face);

        const uint64_t shown = face->m_shownPower;
        const bool lost = face->m_pointCount < kMinFacePoints;
        if (lost) {
            // A face the control interface dropped meanwhile had its sound
            // and its event.
            if (m_faceList.Drop(face)) {
                PlaySound(Sound::Lost, false);
                NoteLost({face});
            }
        } else {
            current = face;
            ++kept;
        }
        RaiseTo(m_score, shown);
        RaiseTo(m_highScore, shown);
    }
    m_faceCountNow = kept;
    return current;
}

void CTransEffectFilter::NoteFace(const CFaceData& face)
{
    if (!m_events || !face.m_profileReady)
        return;
    std::lock_guard lock(m_eventLock);
    auto it = std::find_if(m_announced.begin(), m_announced.end(), [&](const Announced& a) { return a.face == &face; });
    if (it == m_announced.end()) {
        // A face the control interface dropped since this step began is
        // neither found nor lost; checked under m_eventLock, so that a drop
        // after this check reports the face lost after it was found.
        if (!m_faceList.Contains(&face))
            return;
        FaceEvent found;
        found.kind = FaceEvent::Kind::Found;
        found.rect = face.m_rect;
        found.power = face.m_targetPower;
        found.powerClass = face.m_powerClass;
        found.name = face.m_name;
        found.age = face.m_age;
        found.origin = face.m_origin;
        found.height = face.m_height;
        found.weight = face.m_weight;
        m_pending.push_back(std::move(found));
        m_announced.push_back({&face, false});
        it = m_announced.end() - 1;
    }
    if (!it->reached && face.m_reachedTime > 0) {
        it->reached = true;
        FaceEvent reached;
        reached.kind = FaceEvent::Kind::PowerReached;
        reached.power = face.m_targetPower;
        reached.powerClass = face.m_powerClass;
        m_pending.push_back(std::move(reached));
    }
}

void CTransEffectFilter::NoteLost(const std::vector<const CFaceData*>& faces)
{
    if (!m_events || faces.empty())
        return;
    std::lock_guard lock(m_eventLock);
    for (const CFaceData* face : faces) {
        const auto it =
            std::find_if(m_announced.begin(), m_announced.end(), [&](const Announced& a) { return a.face == face; });
        if (it == m_announced.end())
            continue;
        m_announced.erase(it);
        FaceEvent lost;
        lost.kind = FaceEvent::Kind::Lost;
        m_pending.push_back(std::move(lost));
    }
}

void CTransEffectFilter::DeliverEvents()
{
    if (!m_events)
        return;
    std::vector<FaceEvent> batch;
    {
        std::lock_guard lock(m_eventLock);
        if (m_delivering || m_pending.empty())
            return;
        m_delivering = true;
        batch.swap(m_pending);
    }
    // Events queued meanwhile by other threads (or by the sink itself) are
    // delivered here too, after these, so that the order holds.
    for (;;) {
        for (const FaceEvent& event : batch)
            m_events->OnFaceEvent(event);
        batch.clear();
        std::lock_guard lock(m_eventLock);
        if (m_pending.empty()) {
            m_delivering = false;
            return;
        }
        batch.swap(m_pending);
    }
}

bool CTransEffectFilter::PowerStage(CFaceData* current, uint64_t& shown)
{
    if (!current) {
        shown = 0;
        return true;
    }
    CFaceData& face = *current;
    shown = face.m_shownPower;
    if (face.m_soundStage == kStagePlaced) {
        PlaySound(Sound::Count, true);
        face.m_soundStage = kStageCounting;
    }
    if (face.m_reachedTime > 0 && face.m_reachedTime < kBlinkPeriodMs) {
        if (face.m_soundStage == kStageCounting) {
            // A new sound ends the counting loop.
            PlaySound(ResultSound(face.m_targetPower), false);
            face.m_soundStage = kStageResult;
        }
        return (face.m_reachedTime / kBlinkMs) % 2 == 1;
    }
    return true;
}

}  // namespace quell
