// The detection worker: finds faces in the reduced frames the frame step
// hands over and tells the face list where they are, on a thread of its own.
#pragma once

#include <opencv2/core.hpp>
#include <opencv2/objdetect.hpp>

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace quell {

class CFaceList;
class IWarningSink;

class CDetectWorker {
public:
    // Wait for a frame per idle round, and rest after each pass.
    static constexpr uint32_t kIdleSleepMs = 100;
    static constexpr uint32_t kRestSleepMs = 300;
    // When the frame step follows the stream's clock it sets the rhythm in
    // stream time: a pass reports this long after its frame was handed over
    // (the frame step waits for it there if need be), and the next frame is
    // handed over kRestSleepMs after that. Long enough for a pass on a busy
    // machine, so that a stream played in real time seldom waits.
    static constexpr uint32_t kStreamPassMs = 100;
    // The cascade files, in the order they are tried.
    static constexpr std::array<const char*, 3> kCascadeFiles = {"special1.dat", "special2.dat", "dsdetect.dat"};
    using CascadePaths = std::array<std::string, 3>;

    // `warnings` (may be null) hears of cascades that cannot be used.
    CDetectWorker(CFaceList& faces, IWarningSink* warnings);
    ~CDetectWorker();

    CDetectWorker(const CDetectWorker&) = delete;
    CDetectWorker& operator=(const CDetectWorker&) = delete;

    // Loads the cascades at `paths` (in the order tried) on the caller's
    // thread. Each file that is missing, empty or not a cascade is reported
    // once and skipped; with none usable, detection is reported off.
    void LoadCascades(const CascadePaths& paths);
    // Has the worker load these cascades before its next pass (callable from
    // any thread: the data folder changed while it runs).
    void ReloadCascades(const CascadePaths& paths);

    // The thread procedure: passes until the face list asks the worker to
    // stop. A stop request is noticed at once, or after the pass running.
    void Run();

    enum class Pass { Done, NoFrame, Stop };
    // One pass: waits up to `waitMs` for a frame, detects, reports a found
    // face to the face list, then rests `restMs` and asks for the next frame.
    Pass RunPass(uint32_t waitMs, uint32_t restMs);

    // Which cascade found the face of the last pass (0..2), or -1.
    int LastCascade() const { return m_lastCascade; }
    // Whether cascade `i` (in the order they are tried) is loaded.
    bool CascadeLoaded(int i) const { return !m_cascades[i].classifier.empty(); }

private:
    struct Cascade {
        cv::Size smallest;
        cv::CascadeClassifier classifier;
    };

    void Detect(const cv::Mat& grey, cv::Rect& found);

    CFaceList& m_faces;
    IWarningSink* m_warnings;
    std::array<Cascade, 3> m_cascades;
    cv::Mat m_reducedColour;
    cv::Mat m_reducedGrey;
    int m_lastCascade = -1;

    std::mutex m_reloadLock;  // guards m_reload; a leaf lock
    std::optional<CascadePaths> m_reload;
};

}  // namespace quell
