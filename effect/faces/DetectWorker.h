// The detection worker: finds faces in frames the frame step hands over and
// places the followed face on them, on a thread of its own.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include <array>
#include <cstdint>
#include <string>

namespace quell {

class CTransEffectFilter;

class CDetectWorker {
public:
    // Idle poll while nothing is pending, and rest after each pass.
    static constexpr uint32_t kIdleSleepMs = 100;
    static constexpr uint32_t kRestSleepMs = 300;
    // Width of the reduced copy detection runs on.
    static constexpr float kReducedWidth = 320.0f;

    explicit CDetectWorker(CTransEffectFilter& filter);
    ~CDetectWorker();

    CDetectWorker(const CDetectWorker&) = delete;
    CDetectWorker& operator=(const CDetectWorker&) = delete;

    // The thread procedure: passes until the filter asks the worker to stop.
    void Run();

    // One pass over a pending frame. Returns false, without taking the face
    // lock, when no frame is pending. Clears the pending flag when done,
    // whatever happened.
    bool RunPass();

    // The scale from the reduced copy back to the frame and the reduced
    // size, for a frame of the given size.
    static float ReducedScale(int frameWidth);
    static cv::Size ReducedSize(int frameWidth, int frameHeight);
    // A rectangle found on the reduced copy, in frame pixels (each value
    // scaled and truncated).
    static cv::Rect ScaleBack(const cv::Rect& reduced, float scale);

    // Which cascade found the face of the last pass (0..2), or -1.
    int LastCascade() const { return m_lastCascade; }
    // Whether cascade `i` (in the order they are tried) is loaded.
    bool CascadeLoaded(int i) const { return !m_cascades[i].classifier.empty(); }

private:
    struct Cascade {
        const char* file;
        cv::Size smallest;
        cv::CascadeClassifier classifier;
        std::string loadedPath;  // the path last tried, loaded or not
    };

    void LoadCascades();
    void Detect(const cv::Mat& grey, cv::Rect& found);
    void Place(const cv::Rect& frameRect);

    CTransEffectFilter& m_filter;
    std::array<Cascade, 3> m_cascades;
    cv::Mat m_reducedColour;
    cv::Mat m_reducedGrey;
    int m_lastCascade = -1;
};

}  // namespace quell
