// CTransEffectFilter: the frame step of the effect and the state it shares
// with the detection worker and the control interface.
#pragma once

#include "faces/FaceData.h"
#include "platform/Clock.h"
#include "platform/SoundPlayer.h"

#include <opencv2/core.hpp>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quell {

class CDetectWorker;

// The platform services the filter borrows; both must outlive it.
struct FilterPlatform {
    IClock* clock = nullptr;
    ISoundPlayer* sound = nullptr;
    // Start the detection worker thread with the filter. Tests that drive
    // detection passes by hand turn it off.
    bool startWorker = true;
    // Calendar time in seconds, the seed of each new face's profile roll;
    // null reads the system time.
    uint32_t (*calendarSeconds)() = nullptr;
};

class CTransEffectFilter {
public:
    explicit CTransEffectFilter(const FilterPlatform& platform);
    virtual ~CTransEffectFilter();

    CTransEffectFilter(const CTransEffectFilter&) = delete;
    CTransEffectFilter& operator=(const CTransEffectFilter&) = delete;

    // Runs the frame step on a BGRx frame in place. `stride` is the length of
    // one row in bytes, at least 4 * width. The frame that leaves holds the
    // grey picture of the previous frame with the overlay drawn over it.
    void Transform(uint8_t* pixels, int width, int height, size_t stride);

    // Control interface: drops every followed face with the lost sound.
    void ResetFaces();
    uint64_t GetHighScore();
    void SetHighScore(uint64_t value);
    uint64_t GetScore();

    // Folder the data files are read from; relative paths are taken from the
    // current directory. When a file is missing there, the data folder
    // installed beside the plugin is used.
    void SetDataDir(std::string dir);
    std::string GetDataDir() const;
    // Full path of data file `name` as it is to be opened now.
    std::string DataFile(const std::string& name) const;

    // Asks the detection worker to end and waits for it. Safe to call twice.
    void StopWorker();
    // Sleeps up to `ms` milliseconds of real time; returns early, with true,
    // once the worker has been asked to stop.
    bool WaitForStop(uint32_t ms);

    // Test access: the number of followed faces, taken under the lock.
    size_t FaceCount();
    // Test access: runs `fn` on the face list while holding the face lock.
    template <typename Fn>
    void WithFaces(Fn&& fn)
    {
        std::lock_guard lock(m_faceLock);
        fn(m_faces);
    }

private:
    friend class CDetectWorker;
    friend struct FilterTestAccess;  // tests read the private state

    void BuildWorkImages(int width, int height);
    void TrackFaces(const cv::Mat& curGrey);
    // Measurement (Measurement.cpp): advances and draws every face, drops
    // lost faces, keeps the scores; returns the face whose measurement is
    // shown, or null.
    CFaceData* UpdateFaces();
    // Overlay (Hud.cpp).
    void BuildHudMask();
    void TintPass();
    void ShadePass();
    void DrawOverlay(CFaceData* current);

    IClock& m_clock;
    ISoundPlayer& m_sound;
    uint32_t (*m_calendarSeconds)();

    // Lock order: m_faceLock before m_settingsLock. The sound player's own
    // lock is a leaf: requests may be posted while holding either.
    // m_faceLock guards m_faces, every face record, m_pDetectImage, the
    // building of the work images and the scores.
    std::recursive_mutex m_faceLock;
    mutable std::mutex m_settingsLock;  // guards m_dataDir
    std::string m_dataDir = "data";

    cv::Mat m_pFrame;          // header over the current frame's pixels
    cv::Mat m_pDetectImage;    // colour copy handed to the detection worker
    cv::Mat m_pHudMask;        // panel mask: first byte 255 inside the panel
    cv::Mat m_pPrevGrey;       // grey picture of the previous frame
    cv::Mat m_curGrey;         // grey picture of this frame (reused buffer)
    std::vector<cv::Mat> m_pPyramid;      // flow pyramid of this frame
    std::vector<cv::Mat> m_pPrevPyramid;  // flow pyramid of the previous frame
    bool m_pyramidReady = false;          // m_pPrevPyramid holds m_pPrevGrey's pyramid
    uint32_t m_lastTick;
    std::vector<std::unique_ptr<CFaceData>> m_faces;
    std::atomic<int> m_stopDetect{0};
    uint64_t m_score = 0;
    uint64_t m_highScore = 0;
    std::atomic<int> m_detectPending{0};
    int m_channels = 4;
    uint32_t m_textClock = 0;
    int m_panelHeight = 0;
    int m_gaugeBase = 0;
    int m_prevFaceCount = 0;

    std::mutex m_stopMutex;  // pairs with m_stopWake for interruptible sleeps
    std::condition_variable m_stopWake;
    std::thread m_detectThread;  // last: started once everything else exists

    // Overlay and measurement helpers (Hud.cpp, HudText.cpp, Measurement.cpp).
    friend struct HudTestAccess;  // overlay tests pin the clock of the score line
    // A stretch [begin, end) of one row that lies inside the panel mask.
    struct PanelRun {
        int begin;
        int end;
    };
    // Deletes the overlay's text state where its type is complete.
    struct HudTextDeleter {
        void operator()(class CHudText* hud) const;
    };
    // Runs the sound and blink stage of the current face (null: none) and
    // returns whether the power text is visible; `shown` receives its value.
    bool PowerStage(CFaceData* current, uint64_t& shown);
    // The overlay's fonts and layouts, made on first use.
    CHudText& Hud();
    std::unique_ptr<CHudText, HudTextDeleter> m_hud;
    // The panel mask as runs per row, so that the pixel passes need not read
    // the mask: row y's runs are m_panelRuns[m_panelRowFirst[y] ..
    // m_panelRowFirst[y + 1]). Rebuilt with the mask.
    std::vector<PanelRun> m_panelRuns;
    std::vector<int> m_panelRowFirst;
};

}  // namespace quell
