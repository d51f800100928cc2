// The measuring sequence of the frame step: per-face update, dropping of
// lost faces, score and high score, and the sound and blink stage of the
// face whose measurement is shown.
#include "filter/TransEffectFilter.h"

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
const char* ResultSound(uint64_t targetPower)
{
    if (targetPower < 10)
        return "point1.wav";
    if (targetPower < 100)
        return "point2.wav";
    if (targetPower < 1000)
        return "point3.wav";
    if (targetPower < 100000)
        return "point4.wav";
    if (targetPower < 1000000)
        return "point5.wav";
    return "point6.wav";
}
}  // namespace

CFaceData* CTransEffectFilter::UpdateFaces()
{
    CFaceData* current = nullptr;
    for (auto it = m_faces.begin(); it != m_faces.end();) {
        CFaceData& face = **it;
        face.Advance();
        // Every face is drawn, also one that is dropped just below.
        face.DrawMarker(m_pFrame);

        const uint64_t shown = face.m_shownPower;
        const bool lost = face.m_pointCount < kMinFacePoints;
        if (lost) {
            m_sound.Play(DataFile("lost.wav"), false);
            it = m_faces.erase(it);  // the next face moves in and is visited next
        } else {
            current = &face;
            ++it;
        }
        if (shown > m_score)
            m_score = shown;
        if (shown > m_highScore)
            m_highScore = shown;
    }
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
        m_sound.Play(DataFile("count.wav"), true);
        face.m_soundStage = kStageCounting;
    }
    if (face.m_reachedTime > 0 && face.m_reachedTime < kBlinkPeriodMs) {
        if (face.m_soundStage == kStageCounting) {
            // A new sound ends the counting loop.
            m_sound.Play(DataFile(ResultSound(face.m_targetPower)), false);
            face.m_soundStage = kStageResult;
        }
        return (face.m_reachedTime / kBlinkMs) % 2 == 1;
    }
    return true;
}

}  // namespace quell
