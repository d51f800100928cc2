// The followed faces and the hand-off of frames to the detection worker: the
// state that the frame step, the worker and the control interface share,
// behind one lock and a few named operations.
#pragma once

#include "faces/FaceData.h"
#include "platform/Clock.h"

#include <opencv2/core.hpp>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace quell {

class CFaceList {
public:
    // Detection runs on a copy about this wide, with the frame's aspect.
    static constexpr float kReducedWidth = 320.0f;
    // The copy is never taller than this: a tall, narrow frame is shrunk
    // further, so that a pass's memory and time stay bounded whatever the
    // frame's shape. Portrait frames up to 1:2 keep the 320-wide copy.
    static constexpr int kMaxReducedHeight = 640;

    // `clock` drives the faces' timers; `calendarSeconds` seeds each new
    // face's profile roll. Both must outlive the list.
    CFaceList(const IClock& clock, uint32_t (*calendarSeconds)());
    ~CFaceList();

    CFaceList(const CFaceList&) = delete;
    CFaceList& operator=(const CFaceList&) = delete;

    // The scale from the reduced copy back to frame pixels (single
    // precision), the reduced size, and a rectangle of the reduced copy in
    // frame pixels (each value scaled and truncated).
    static float ReducedScale(int frameWidth, int frameHeight);
    static cv::Size ReducedSize(int frameWidth, int frameHeight);
    static cv::Rect ScaleBack(const cv::Rect& reduced, float scale);

    // --- Frame step side of the hand-off ---
    // Whether the worker waits for a frame.
    bool WantsFrame() const { return m_handOff.load(std::memory_order_acquire) == kWaiting; }
    // When the worker waits for a frame, shrinks `frame` (BGRx) into the
    // hand-off slot and wakes the worker. Returns whether it did.
    bool OfferFrame(const cv::Mat& frame);
    // Waits until the worker has finished the pass it was handed, its face
    // (if any) posted, and waits for a frame again; returns at once when no
    // frame is handed over, or when the worker is asked to stop. Only for a
    // worker that runs on a thread of its own.
    void AwaitPass();
    // Paced: the frame step sets the rhythm of the passes (it hands frames
    // over when its stream clock says so), and the worker does not rest
    // after a pass. Set before the worker starts.
    void SetStepPaced(bool paced);
    bool StepPaced() const;

    // --- Worker side of the hand-off ---
    enum class Take { Frame, Nothing, Stop };
    // Waits up to `waitMs` for an offered frame. With Frame, `reduced` holds
    // it (the buffer passed in is recycled) and `scale` maps it back to frame
    // pixels. Nothing: no frame came in time. Stop: the worker is to end.
    Take TakePendingFrame(cv::Mat& reduced, float& scale, uint32_t waitMs);
    // A face was found at `frameRect` (frame pixels) in the frame taken last;
    // the frame step places it on its next frame.
    void PostDetection(const cv::Rect& frameRect);
    // Ends a pass: rests `restMs` (cut short by a stop request; none when the
    // frame step sets the pace), then waits for a frame again. Returns false
    // when the worker is to end.
    bool FinishPass(uint32_t restMs);
    // Asks the worker to end and wakes it; ClearStop() readies the list for
    // a new worker.
    void RequestStop();
    void ClearStop();
    bool StopRequested() const { return m_stop.load(std::memory_order_acquire); }

    // --- Frame step ---
    // Frees the faces dropped since the last step and copies the followed
    // faces into `faces`, which the frame step works on without the lock:
    // face records are changed by the frame step only, and a face dropped
    // meanwhile stays alive until the next step.
    void Snapshot(std::vector<CFaceData*>& faces);
    // Takes the detection the worker posted, if any: the frame step then
    // keeps the frame's colour picture until it has placed it.
    bool TakeDetection(cv::Rect& frameRect);
    // Places a detection on `frame` (BGRx, as it arrived): the followed face
    // it lies on is placed again or, when nothing is followed, a new face is
    // taken up; `faces` is then refreshed. A running `team` shares the
    // refinement of the new points.
    void PlaceDetection(const cv::Mat& frame, const cv::Rect& frameRect, std::vector<CFaceData*>& faces,
                        CRowTeam* team = nullptr);
    // Drops a face that lost its points. False when it was dropped already.
    bool Drop(const CFaceData* face);

    // --- Control ---
    // Drops every followed face; returns how many there were. `dropped`, when
    // given, receives them (for identity only: they are freed at the next
    // step).
    size_t DropAll(std::vector<const CFaceData*>* dropped = nullptr);
    // Whether `face` is still followed.
    bool Contains(const CFaceData* face) const;
    // A nonzero seed replaces the calendar time as the seed of the profile
    // rolls from the next face taken up; 0 returns to the calendar time.
    void SetSeed(uint32_t seed) { m_seed.store(seed, std::memory_order_relaxed); }
    uint32_t Seed() const { return m_seed.load(std::memory_order_relaxed); }
    size_t Count() const;
    // Forgets faces, a waiting placement and the hand-off, when streaming
    // has stopped and no worker runs.
    void Clear();

    // Runs `fn` on the face list while holding the lock (tests).
    template <typename Fn>
    void WithFaces(Fn&& fn)
    {
        std::lock_guard lock(m_faceLock);
        fn(m_faces);
    }

private:
    enum HandOff : int { kWaiting = 0, kOffered = 1, kBusy = 2 };

    void Place(const cv::Mat& frame, const cv::Rect& rect, CRowTeam* team);

    const IClock& m_clock;
    uint32_t (*m_calendarSeconds)();
    std::atomic<uint32_t> m_seed{0};

    // Lock order: m_faceLock is taken alone; no other lock of the effect is
    // taken while holding it, and nothing is called out of it.
    mutable std::mutex m_faceLock;
    std::condition_variable m_wake;  // the worker and AwaitPass() wait on it, with m_faceLock
    bool m_stepPaced = false;
    std::vector<std::unique_ptr<CFaceData>> m_faces;
    std::vector<std::unique_ptr<CFaceData>> m_dropped;  // freed at the next step
    std::optional<cv::Rect> m_placement;                // detection to place
    cv::Mat m_slot;       // the reduced frame handed over
    float m_slotScale = 1.0f;
    std::atomic<int> m_handOff{kWaiting};
    std::atomic<bool> m_stop{false};

    cv::Mat m_staging;  // the frame step's reduced copy, swapped into the slot
};

}  // namespace quell
