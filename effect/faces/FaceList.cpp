// The followed faces, the worker's frame slot and the placement of its
// detections.
#include "faces/FaceList.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <chrono>

namespace quell {

CFaceList::CFaceList(const IClock& clock, uint32_t (*calendarSeconds)())
    : m_clock(clock), m_calendarSeconds(calendarSeconds)
{
    m_faces.reserve(4);
    m_dropped.reserve(4);
}

CFaceList::~CFaceList() = default;

float CFaceList::ReducedScale(int frameWidth, int frameHeight)
{
    const float scale = static_cast<float>(frameWidth) / kReducedWidth;
    // The single-precision scale is widened before dividing, so that 352
    // (scale slightly above 1.1) gives 319 rather than a rounded-up 320.
    if (static_cast<double>(frameHeight) / static_cast<double>(scale) < kMaxReducedHeight + 1.0)
        return scale;
    return static_cast<float>(frameHeight) / static_cast<float>(kMaxReducedHeight);
}

cv::Size CFaceList::ReducedSize(int frameWidth, int frameHeight)
{
    const double scale = ReducedScale(frameWidth, frameHeight);
    const int width = static_cast<int>(frameWidth / scale);
    const int height = static_cast<int>(frameHeight / scale);
    return {std::clamp(width, 1, static_cast<int>(kReducedWidth)), std::clamp(height, 1, kMaxReducedHeight)};
}

cv::Rect CFaceList::ScaleBack(const cv::Rect& r, float scale)
{
    return {static_cast<int>(r.x * scale), static_cast<int>(r.y * scale), static_cast<int>(r.width * scale),
            static_cast<int>(r.height * scale)};
}

bool CFaceList::OfferFrame(const cv::Mat& frame)
{
    if (!WantsFrame() || frame.empty())
        return false;
    // Shrunk outside the lock into a buffer of the frame step's own; only
    // the swap into the slot is locked. The buffers keep their size from
    // one hand-off to the next, so nothing is allocated once they exist.
    const float scale = ReducedScale(frame.cols, frame.rows);
    cv::resize(frame, m_staging, ReducedSize(frame.cols, frame.rows), 0, 0, cv::INTER_LINEAR);
    {
        std::lock_guard lock(m_faceLock);
        std::swap(m_staging, m_slot);
        m_slotScale = scale;
        m_handOff.store(kOffered, std::memory_order_release);
    }
    m_wake.notify_all();
    return true;
}

void CFaceList::AwaitPass()
{
    std::unique_lock lock(m_faceLock);
    m_wake.wait(lock, [this] {
        return m_stop.load(std::memory_order_relaxed) || m_handOff.load(std::memory_order_relaxed) == kWaiting;
    });
}

void CFaceList::SetStepPaced(bool paced)
{
    {
        std::lock_guard lock(m_faceLock);
        m_stepPaced = paced;
    }
    m_wake.notify_all();
}

bool CFaceList::StepPaced() const
{
    std::lock_guard lock(m_faceLock);
    return m_stepPaced;
}

CFaceList::Take CFaceList::TakePendingFrame(cv::Mat& reduced, float& scale, uint32_t waitMs)
{
    std::unique_lock lock(m_faceLock);
    m_wake.wait_for(lock, std::chrono::milliseconds(waitMs), [this] {
        return m_stop.load(std::memory_order_relaxed) || m_handOff.load(std::memory_order_relaxed) == kOffered;
    });
    if (m_stop.load(std::memory_order_relaxed))
        return Take::Stop;
    if (m_handOff.load(std::memory_order_relaxed) != kOffered)
        return Take::Nothing;
    std::swap(reduced, m_slot);
    scale = m_slotScale;
    m_handOff.store(kBusy, std::memory_order_release);
    return Take::Frame;
}

void CFaceList::PostDetection(const cv::Rect& frameRect)
{
    std::lock_guard lock(m_faceLock);
    m_placement = frameRect;
}

bool CFaceList::FinishPass(uint32_t restMs)
{
    bool go = false;
    {
        std::unique_lock lock(m_faceLock);
        // The rest comes before the next frame is asked for, so that the
        // worker always detects on a frame that is at most one frame old.
        m_wake.wait_for(lock, std::chrono::milliseconds(restMs),
                        [this] { return m_stop.load(std::memory_order_relaxed) || m_stepPaced; });
        m_handOff.store(kWaiting, std::memory_order_release);
        go = !m_stop.load(std::memory_order_relaxed);
    }
    // A frame step may wait for this pass (AwaitPass).
    m_wake.notify_all();
    return go;
}

void CFaceList::RequestStop()
{
    {
        std::lock_guard lock(m_faceLock);
        m_stop.store(true, std::memory_order_release);
    }
    m_wake.notify_all();
}

void CFaceList::ClearStop()
{
    std::lock_guard lock(m_faceLock);
    m_stop.store(false, std::memory_order_release);
}

void CFaceList::Place(const cv::Mat& frame, const cv::Rect& rect, CRowTeam* team)
{
    for (auto& face : m_faces) {
        if (face->Covers(rect.x, rect.y, rect.width, rect.height)) {
            face->SetRegion(frame, rect.x, rect.y, rect.width, rect.height);
            face->SeedFeatures(team);
            return;
        }
    }
    // At most one face is followed: a detection elsewhere waits until the
    // followed face is lost.
    if (!m_faces.empty())
        return;
    const uint32_t seed = m_seed.load(std::memory_order_relaxed);
    auto face = std::make_unique<CFaceData>(m_clock, seed != 0 ? seed : m_calendarSeconds());
    face->SetRegion(frame, rect.x, rect.y, rect.width, rect.height);
    if (face->m_pFaceImage.empty())
        return;
    face->SeedFeatures(team);
    m_faces.push_back(std::move(face));
}

void CFaceList::Snapshot(std::vector<CFaceData*>& faces)
{
    std::lock_guard lock(m_faceLock);
    m_dropped.clear();
    faces.clear();
    for (auto& face : m_faces)
        faces.push_back(face.get());
}

bool CFaceList::TakeDetection(cv::Rect& frameRect)
{
    std::lock_guard lock(m_faceLock);
    if (!m_placement)
        return false;
    frameRect = *m_placement;
    m_placement.reset();
    return true;
}

void CFaceList::PlaceDetection(const cv::Mat& frame, const cv::Rect& frameRect, std::vector<CFaceData*>& faces,
                               CRowTeam* team)
{
    std::lock_guard lock(m_faceLock);
    Place(frame, frameRect, team);
    faces.clear();
    for (auto& face : m_faces)
        faces.push_back(face.get());
}

bool CFaceList::Drop(const CFaceData* face)
{
    std::lock_guard lock(m_faceLock);
    const auto it = std::find_if(m_faces.begin(), m_faces.end(), [face](const auto& f) { return f.get() == face; });
    if (it == m_faces.end())
        return false;
    m_dropped.push_back(std::move(*it));
    m_faces.erase(it);
    return true;
}

size_t CFaceList::DropAll(std::vector<const CFaceData*>* dropped)
{
    std::lock_guard lock(m_faceLock);
    const size_t count = m_faces.size();
    for (auto& face : m_faces) {
        if (dropped)
            dropped->push_back(face.get());
        m_dropped.push_back(std::move(face));
    }
    m_faces.clear();
    return count;
}

bool CFaceList::Contains(const CFaceData* face) const
{
    std::lock_guard lock(m_faceLock);
    return std::any_of(m_faces.begin(), m_faces.end(), [face](const auto& f) { return f.get() == face; });
}

size_t CFaceList::Count() const
{
    std::lock_guard lock(m_faceLock);
    return m_faces.size();
}

void CFaceList::Clear()
{
    std::lock_guard lock(m_faceLock);
    m_faces.clear();
    m_dropped.clear();
    m_placement.reset();
    m_slot.release();
    m_staging.release();
    m_handOff.store(kWaiting, std::memory_order_release);
}

}  // namespace quell
