// The measuring sequence of the frame step: per-face update, dropping of
// lost faces, score and high score, and the sound and blink stage of the
// face whose measurement is shown.
#include "filter/TransEffectFilter.h"

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
    for (CFaceData* face : m_stepFaces) {
        face->Advance();
        // Every face is drawn, also one that is dropped just below.
        face->DrawMarker(m_pFrame);

        const uint64_t shown = face->m_shownPower;
        const bool lost = face->m_pointCount < kMinFacePoints;
        if (lost) {
            // A face the control interface dropped meanwhile had its sound.
            if (m_faceList.Drop(face))
                PlaySound(Sound::Lost, false);
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
