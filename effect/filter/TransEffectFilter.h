// CTransEffectFilter: the frame step of the effect, its start and stop, and
// the control interface.
#pragma once

#include "faces/FaceList.h"
#include "faces/FlowPyramid.h"
#include "filter/PanelMask.h"
#include "platform/RowTeam.h"
#include "platform/Clock.h"
#include "platform/ISoundPlayer.h"

#include <opencv2/core.hpp>

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace quell {

class CDetectWorker;
class CHudText;
class IWarningSink;

// What the filter tells about a followed face.
struct FaceEvent {
    enum class Kind { Found, PowerReached, Lost };
    Kind kind = Kind::Found;
    cv::Rect rect;       // Found: the face in frame pixels
    uint64_t power = 0;  // Found, PowerReached: the rolled power
    int powerClass = 0;  // Found, PowerReached: its class, 0..7
    // Found: the profile.
    std::string name;
    int64_t age = 0;
    std::string origin;
    int height = 0;  // cm
    int weight = 0;  // kg
};

// Hears of faces taken up, measured and dropped, in the order they happened,
// on whichever thread caused them, with no lock of the filter held.
class IFaceEventSink {
public:
    virtual ~IFaceEventSink() = default;
    virtual void OnFaceEvent(const FaceEvent& event) = 0;
};

// Which clock the effect follows: the wall clock of the platform, or the
// stream's running time (the same frames then come out of every render).
enum class ClockMode : int { Wall, Stream };

// Where a frame lies in its stream.
struct FrameTime {
    std::optional<uint64_t> runningNs;  // none: no timestamp, or outside its segment
    uint64_t durationNs = 0;            // 0: unknown
};

// The platform services the filter borrows; they must outlive it.
struct FilterPlatform {
    IClock* clock = nullptr;
    ISoundPlayer* sound = nullptr;
    // Run the detection worker on a thread of its own between Start() and
    // Stop(). Tests that drive detection passes by hand turn it off.
    bool startWorker = true;
    // Calendar time in seconds, the seed of each new face's profile roll;
    // null reads the system time.
    uint32_t (*calendarSeconds)() = nullptr;
    // Hears of data files that cannot be used; may be null.
    IWarningSink* warnings = nullptr;
    // Hears of faces found, measured and lost; may be null.
    IFaceEventSink* events = nullptr;
    // The data folder installed with the plugin; unset: found from the
    // module's own path.
    std::optional<std::string> installedDataDir;
};

// The sounds of the effect, in the order of kSoundFiles.
enum class Sound : int { Count, Point1, Point2, Point3, Point4, Point5, Point6, Lost };
inline constexpr std::array<const char*, 8> kSoundFiles = {"count.wav",  "point1.wav", "point2.wav", "point3.wav",
                                                           "point4.wav", "point5.wav", "point6.wav", "lost.wav"};

class CTransEffectFilter {
public:
    explicit CTransEffectFilter(const FilterPlatform& platform);
    ~CTransEffectFilter();

    CTransEffectFilter(const CTransEffectFilter&) = delete;
    CTransEffectFilter& operator=(const CTransEffectFilter&) = delete;

    // Acquires what streaming needs: finds the data files (reporting the
    // missing ones), loads the cascades and starts the detection worker.
    // Stop() ends the worker, silences the sounds and forgets the followed
    // faces; no thread of the filter runs after it. Both may be repeated.
    void Start();
    void Stop();
    // Stops whatever sound plays (the stream paused).
    void SilenceSounds();
    // Silent: no sound is played at all; turning it on stops what plays.
    void SetSilent(bool silent);
    bool Silent() const;
    // A fixed seed for the profile rolls of the faces taken up from now on;
    // 0 seeds them from the calendar time.
    void SetSeed(uint32_t seed) { m_faceList.SetSeed(seed); }
    uint32_t GetSeed() const { return m_faceList.Seed(); }
    // The clock of the animation, the typed text, the score line's time and
    // the detection rhythm. Taken up by Start(): a change while streaming
    // applies from the next start.
    void SetClockMode(ClockMode mode) { m_clockMode.store(mode, std::memory_order_relaxed); }
    ClockMode GetClockMode() const { return m_clockMode.load(std::memory_order_relaxed); }
    // Whether Start() ran without a Stop() since.
    bool Started() const;

    // Runs the frame step on a BGRx frame in place. `stride` is the length of
    // one row in bytes, at least 4 * width. The frame that leaves holds the
    // grey picture of the previous frame with the overlay drawn over it.
    // `time` moves the stream clock when the effect follows it. Following
    // it, the frame step hands a frame to the detection worker when a pass
    // is due in stream time and waits for that pass kStreamPassMs of stream
    // time later, so that no frame depends on how fast the worker ran.
    void Transform(uint8_t* pixels, int width, int height, size_t stride, const FrameTime& time = {});

    // Control interface: drops every followed face with the lost sound.
    void ResetFaces();
    uint64_t GetHighScore() const { return m_highScore.load(std::memory_order_relaxed); }
    void SetHighScore(uint64_t value) { m_highScore.store(value, std::memory_order_relaxed); }
    uint64_t GetScore() const { return m_score.load(std::memory_order_relaxed); }

    // Folder the data files are read from; relative paths are taken from the
    // current directory. When a file is missing there, the data folder
    // installed with the plugin is used. The files are looked up here, once
    // per change, never per frame.
    void SetDataDir(std::string dir);
    std::string GetDataDir() const;
    // Full path of a data file as it is to be opened now.
    std::string SoundFile(Sound sound) const;

    // The followed faces and the worker's hand-off.
    CFaceList& Faces() { return m_faceList; }
    // The detection worker between Start() and Stop() (null otherwise). With
    // startWorker off no thread runs it: tests run its passes by hand.
    CDetectWorker* Worker() { return m_worker.get(); }
    size_t FaceCount() const { return m_faceList.Count(); }

    // Read-outs of the frame step's own state, for tests; call them from the
    // thread that runs the frame step.
    uint32_t TextClock() const { return m_textClock; }
    uint32_t LastTick() const { return m_lastTick; }
    int PanelHeight() const { return m_panelHeight; }
    int GaugeBase() const { return m_panel.GaugeBase(); }
    const cv::Mat& PrevGrey() const { return m_pPrevGrey; }
    const cv::Mat& HudMask() const { return m_panel.Mask(); }
    // The overlay's fonts and layouts, made on first use.
    CHudText& Hud();
    // The region the last frame's flow pyramids cover.
    cv::Rect PyramidRegion() const { return m_pyramidRoi; }
    // Whether the flow pyramids cover the whole frame instead of the region
    // around the followed points (tests compare both).
    void SetWholeFramePyramids(bool whole) { m_wholeFramePyramids = whole; }

private:
    struct DataFiles {
        std::string dir;
        std::array<std::string, 3> cascades;
        std::array<std::string, kSoundFiles.size()> sounds;
    };
    DataFiles Resolve(const std::string& dir) const;
    // Reports the sound files of `files` that are not there.
    void ReportMissingSounds(const DataFiles& files);
    void PlaySound(Sound sound, bool loop);

    // Face events (Measurement.cpp). The frame step notes a face taken up or
    // measured; a drop is reported only for a face whose finding was.
    void NoteFace(const CFaceData& face);
    void NoteLost(const std::vector<const CFaceData*>& faces);
    // Hands the queued events to the sink, in order, with no lock held. One
    // thread delivers at a time; a thread that finds delivery under way
    // leaves its events to that thread.
    void DeliverEvents();

    void BuildWorkImages(int width, int height);
    void TrackFaces(const cv::Mat& curGrey);
    // Measurement (Measurement.cpp): advances and draws every face, drops
    // lost faces, keeps the scores; returns the face whose measurement is
    // shown, or null.
    CFaceData* UpdateFaces();
    // Takes up the clock of a new run, from fresh frame-step state.
    void BeginRun(ClockMode mode);
    // Hands frames over and takes the worker's results by the stream clock;
    // returns whether a posted detection is to be placed on this frame.
    bool PaceDetection(uint32_t now);
    // Runs the sound and blink stage of the current face (null: none) and
    // returns whether the power text is visible; `shown` receives its value.
    bool PowerStage(CFaceData* current, uint64_t& shown);
    // Overlay (Hud.cpp): texts and gauge.
    void DrawOverlay(CFaceData* current);

    StreamClock m_streamClock;  // moved by the frame step
    ChosenClock m_clock;        // the platform's clock or m_streamClock, chosen per run
    std::atomic<ClockMode> m_clockMode{ClockMode::Wall};
    // The clock mode of a run Start() began and no frame step has taken up
    // yet, or kNoNewRun.
    static constexpr int kNoNewRun = -1;
    std::atomic<int> m_newRun{kNoNewRun};
    ISoundPlayer& m_sound;
    IWarningSink* m_warnings;
    IFaceEventSink* m_events;
    const bool m_startWorker;
    const std::optional<std::string> m_installedDataDir;

    // Lock order: m_lifeLock, then m_settingsLock, then the worker's reload
    // lock. m_eventLock comes before the face list's lock; m_soundLock comes
    // before the sound player's lock. The face list's lock and the sound
    // player's lock are leaves: nothing else is taken while they are held.
    // No lock is held while the event sink is called.
    std::mutex m_lifeLock;              // serialises Start() and Stop()
    mutable std::mutex m_settingsLock;  // guards m_files and m_worker (pointer)
    mutable std::mutex m_soundLock;     // guards m_silent against a sound starting
    bool m_silent = false;
    struct Announced {
        const CFaceData* face;
        bool reached;
    };
    std::mutex m_eventLock;              // guards the three members below
    std::vector<Announced> m_announced;  // faces whose finding was reported
    std::vector<FaceEvent> m_pending;    // events not yet delivered
    bool m_delivering = false;           // a thread is delivering
    DataFiles m_files;
    bool m_started = false;  // guarded by m_settingsLock
    std::unique_ptr<CDetectWorker> m_worker;
    std::thread m_detectThread;
    // Shares the frame's grey and write-back pass with the streaming thread
    // between Start() and Stop().
    CRowTeam m_rowTeam;

    CFaceList m_faceList;
    std::atomic<uint64_t> m_score{0};
    std::atomic<uint64_t> m_highScore{0};

    // The frame step's own state, touched by the streaming thread only.
    cv::Mat m_pFrame;          // header over the current frame's pixels
    CPanelMask m_panel;        // the overlay's panel and the passes over it
    cv::Mat m_pPrevGrey;       // grey picture of the previous frame
    cv::Mat m_curGrey;         // grey picture of this frame (reused buffer)
    CFlowPyramid m_pPyramid;      // flow pyramid of this frame
    CFlowPyramid m_pPrevPyramid;  // flow pyramid of the previous frame
    bool m_pyramidReady = false;          // m_pPrevPyramid holds m_pPrevGrey's pyramid over m_pyramidRoi
    cv::Rect m_pyramidRoi;
    bool m_wholeFramePyramids = false;
    std::vector<CFaceData*> m_stepFaces;  // the faces of this step
    uint32_t m_lastTick;
    // Following the stream clock: the detection rhythm in its time.
    bool m_streamRun = false;
    uint32_t m_passDueMs = 0;                // a frame is handed over from then on
    std::optional<uint32_t> m_passReportMs;  // the pass handed over reports then
    uint32_t m_textClock = 0;
    int m_panelHeight = 0;
    int m_prevFaceCount = 0;
    int m_faceCountNow = 0;  // faces kept by this step
    cv::Rect m_markerArea;   // where this step's markers were drawn

    // Deletes the overlay's text state where its type is complete.
    struct HudTextDeleter {
        void operator()(CHudText* hud) const;
    };
    std::unique_ptr<CHudText, HudTextDeleter> m_hud;
};

}  // namespace quell
