// The frame step of the effect, the worker's start and stop, the data files
// and the control interface.
#include "filter/TransEffectFilter.h"

#include "faces/DetectWorker.h"
#include "filter/GreyPicture.h"
#include "platform/DataDir.h"
#include "platform/Warnings.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace quell {

namespace {
// The typewriter clock stops here: far beyond the longest profile text.
constexpr uint32_t kTextClockCap = 100000;
// The flow pyramids cover the followed points with this margin: enough for
// the flow window at the coarsest level, the pyramid filters' reach and a
// fast face, so that tracking gives what whole-frame pyramids give.
constexpr int kTrackMargin = 96;
// A region is built this much larger than needed, so that the next frames
// can keep it (and the previous frame's pyramid) while the face moves.
constexpr int kRegionSlack = 32;

uint32_t CalendarSeconds()
{
    return static_cast<uint32_t>(std::time(nullptr));
}

ISoundPlayer& RequireSound(ISoundPlayer* sound)
{
    if (!sound)
        throw std::invalid_argument("CTransEffectFilter needs a sound player");
    return *sound;
}

}  // namespace

CTransEffectFilter::CTransEffectFilter(const FilterPlatform& platform)
    : m_clock(platform.clock ? *platform.clock : MonotonicClock::Instance(), m_streamClock),
      m_sound(RequireSound(platform.sound)),
      m_warnings(platform.warnings),
      m_events(platform.events),
      m_startWorker(platform.startWorker),
      m_installedDataDir(platform.installedDataDir),
      m_files(Resolve("data")),
      m_faceList(m_clock, platform.calendarSeconds ? platform.calendarSeconds : &CalendarSeconds),
      m_lastTick(m_clock.NowMs())
{
    m_stepFaces.reserve(4);
}

CTransEffectFilter::~CTransEffectFilter()
{
    Stop();
}

CTransEffectFilter::DataFiles CTransEffectFilter::Resolve(const std::string& dir) const
{
    DataFiles files;
    files.dir = dir;
    const std::string installed = m_installedDataDir ? *m_installedDataDir : InstalledDataDir();
    for (size_t i = 0; i < files.cascades.size(); ++i)
        files.cascades[i] = ResolveDataFile(dir, CDetectWorker::kCascadeFiles[i], installed);
    for (size_t i = 0; i < files.sounds.size(); ++i)
        files.sounds[i] = ResolveDataFile(dir, kSoundFiles[i], installed);
    return files;
}

void CTransEffectFilter::ReportMissingSounds(const DataFiles& files)
{
    if (!m_warnings)
        return;
    for (const std::string& path : files.sounds) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(path, ec))
            m_warnings->Warn(Warning::MissingDataFile, path, "sound file not found; that sound stays silent");
        else if (std::filesystem::file_size(path, ec) == 0 && !ec)
            m_warnings->Warn(Warning::UnreadableDataFile, path, "sound file is empty; that sound stays silent");
    }
}

void CTransEffectFilter::Start()
{
    std::lock_guard life(m_lifeLock);
    DataFiles files = Resolve(GetDataDir());
    {
        std::lock_guard lock(m_settingsLock);
        if (m_started)
            return;
        m_files = files;
    }
    ReportMissingSounds(files);
    m_faceList.Clear();
    m_faceList.ClearStop();
    // The clock is taken up here, once per run: the worker learns its pace
    // before it starts, the frame step at its next frame.
    const ClockMode mode = GetClockMode();
    m_faceList.SetStepPaced(mode == ClockMode::Stream);
    m_newRun.store(static_cast<int>(mode), std::memory_order_release);
    auto worker = std::make_unique<CDetectWorker>(m_faceList, m_warnings);
    // The worker thread reads the cascades itself before its first pass, so
    // that a state change does not wait for them; without a thread they are
    // read here.
    if (!m_startWorker)
        worker->LoadCascades(files.cascades);
    else
        worker->ReloadCascades(files.cascades);
    {
        std::lock_guard lock(m_settingsLock);
        m_worker = std::move(worker);
        m_started = true;
    }
    if (m_startWorker) {
        CDetectWorker* w = m_worker.get();
        m_detectThread = std::thread([w] { w->Run(); });
        m_rowTeam.Start();
    }
}

void CTransEffectFilter::Stop()
{
    std::lock_guard life(m_lifeLock);
    // The worker is joined, not abandoned: a stop request ends its waits at
    // once, and a pass runs on a copy of bounded size, so this waits for one
    // short pass at most.
    m_faceList.RequestStop();
    if (m_detectThread.joinable())
        m_detectThread.join();
    m_rowTeam.Stop();
    std::unique_ptr<CDetectWorker> worker;
    {
        std::lock_guard lock(m_settingsLock);
        worker = std::move(m_worker);
        m_started = false;
    }
    worker.reset();
    m_sound.Stop();
    // The faces are forgotten: those reported as found are reported lost.
    std::vector<const CFaceData*> dropped;
    m_faceList.DropAll(&dropped);
    NoteLost(dropped);
    m_faceList.Clear();
    DeliverEvents();
}

bool CTransEffectFilter::Started() const
{
    std::lock_guard lock(m_settingsLock);
    return m_started;
}

void CTransEffectFilter::SilenceSounds()
{
    m_sound.Stop();
}

void CTransEffectFilter::SetSilent(bool silent)
{
    // Under the lock, so that no sound can start after it was silenced.
    std::lock_guard lock(m_soundLock);
    m_silent = silent;
    if (silent)
        m_sound.Stop();
}

bool CTransEffectFilter::Silent() const
{
    std::lock_guard lock(m_soundLock);
    return m_silent;
}

void CTransEffectFilter::SetDataDir(std::string dir)
{
    // The file system is looked at here, on the caller's thread, never in
    // the frame step.
    DataFiles files = Resolve(dir);
    bool started = false;
    {
        std::lock_guard lock(m_settingsLock);
        m_files = files;
        started = m_started;
        if (m_worker)
            m_worker->ReloadCascades(files.cascades);
    }
    if (started)
        ReportMissingSounds(files);
}

std::string CTransEffectFilter::GetDataDir() const
{
    std::lock_guard lock(m_settingsLock);
    return m_files.dir;
}

std::string CTransEffectFilter::SoundFile(Sound sound) const
{
    std::lock_guard lock(m_settingsLock);
    return m_files.sounds[static_cast<size_t>(sound)];
}

void CTransEffectFilter::PlaySound(Sound sound, bool loop)
{
    const std::string path = SoundFile(sound);
    std::lock_guard lock(m_soundLock);
    if (!m_silent)
        m_sound.Play(path, loop);
}

void CTransEffectFilter::BuildWorkImages(int width, int height)
{
    // New images start cleared, so that the first frame after a (re)build
    // shows black rather than whatever the allocator left behind.
    m_pFrame = cv::Mat();
    m_panelHeight = height / 8;
    m_panel.Build(width, height, m_panelHeight);
    m_pPrevGrey = cv::Mat::zeros(height, width, CV_8UC1);
    m_curGrey = cv::Mat::zeros(height, width, CV_8UC1);
    m_pPyramid.Clear();
    m_pPrevPyramid.Clear();
    m_pyramidReady = false;
    m_pyramidRoi = cv::Rect();
}

void CTransEffectFilter::BeginRun(ClockMode mode)
{
    // A run starts black, with no face typed, whatever the last run left.
    m_pPrevGrey = cv::Mat();
    m_prevFaceCount = 0;
    m_textClock = 0;
    m_streamRun = mode == ClockMode::Stream;
    m_clock.FollowStream(m_streamRun);
    m_streamClock.Reset();
    m_passReportMs.reset();
}

bool CTransEffectFilter::PaceDetection(uint32_t now)
{
    const auto reached = [now](uint32_t at) { return static_cast<int32_t>(now - at) >= 0; };
    bool report = false;
    if (m_passReportMs && reached(*m_passReportMs)) {
        // The pass handed over reports on this frame, however long it runs.
        // Without a thread of its own the worker's passes are run by hand.
        if (m_startWorker)
            m_faceList.AwaitPass();
        m_passDueMs = *m_passReportMs + CDetectWorker::kRestSleepMs;
        m_passReportMs.reset();
        report = true;
    }
    if (!m_passReportMs && reached(m_passDueMs)) {
        // A pass that is due is never skipped for a worker still busy.
        if (m_startWorker)
            m_faceList.AwaitPass();
        if (m_faceList.OfferFrame(m_pFrame))
            m_passReportMs = now + CDetectWorker::kStreamPassMs;
    }
    return report;
}

void CTransEffectFilter::Transform(uint8_t* pixels, int width, int height, size_t stride, const FrameTime& time)
{
    if (!pixels || width <= 0 || height <= 0 || stride < static_cast<size_t>(width) * 4)
        throw std::invalid_argument("frame with no pixels, no size or a row stride below 4 * width");

    const int newRun = m_newRun.exchange(kNoNewRun, std::memory_order_acquire);
    if (newRun != kNoNewRun)
        BeginRun(static_cast<ClockMode>(newRun));
    if (m_streamRun)
        m_streamClock.NextFrame(time.runningNs, time.durationNs);
    const uint32_t now = m_clock.NowMs();
    if (newRun != kNoNewRun && m_streamRun) {
        // Steps and passes are counted from the run's first frame.
        m_lastTick = now;
        m_passDueMs = now;
    }
    const uint32_t steps = ConsumeSteps(now, m_lastTick);
    if (steps > 0) {
        const uint64_t grown = uint64_t{m_textClock} + uint64_t{steps} * kStepMs;
        m_textClock = static_cast<uint32_t>(std::min<uint64_t>(grown, kTextClockCap));
    }

    if (m_pPrevGrey.cols != width || m_pPrevGrey.rows != height)
        BuildWorkImages(width, height);
    // A header over the frame's own pixels: every pass works in place.
    m_pFrame = cv::Mat(height, width, CV_8UC4, pixels, stride);

    // The worker gets this frame, shrunk, when it waits for one; following
    // the stream clock, when a pass is due in its time.
    bool report = true;
    if (m_streamRun)
        report = PaceDetection(now);
    else
        m_faceList.OfferFrame(m_pFrame);

    // The grey picture of this frame is taken, and the previous one written
    // back tinted, in one pass over the frame. When the worker found a face,
    // the colour picture is kept until it is placed, after tracking: its
    // points are then where the face is now.
    cv::Rect detection;
    const bool placing = report && m_faceList.TakeDetection(detection);
    if (placing)
        ToGrey(m_pFrame, m_curGrey);
    else
        m_panel.GreyAndWriteBack(m_pFrame, m_curGrey, m_pPrevGrey, &m_rowTeam);

    m_faceList.Snapshot(m_stepFaces);
    TrackFaces(m_curGrey);
    if (placing) {
        m_faceList.PlaceDetection(m_pFrame, detection, m_stepFaces, &m_rowTeam);
        m_panel.WriteBack(m_pPrevGrey, m_pFrame);
    }

    // The previous grey picture is shown; this frame's becomes the previous.
    std::swap(m_pPrevGrey, m_curGrey);
    std::swap(m_pPyramid, m_pPrevPyramid);
    // The picture went into the panel shaded; the markers drawn over it
    // there are shaded now, as if they had been drawn before.
    CFaceData* current = UpdateFaces();
    m_panel.ShadeDrawn(m_pFrame, m_markerArea);
    DrawOverlay(current);
    m_prevFaceCount = m_faceCountNow;
    m_pFrame = cv::Mat();
    DeliverEvents();
}

void CTransEffectFilter::TrackFaces(const cv::Mat& curGrey)
{
    // The flow pyramids cover the followed points with a margin; a region
    // that still holds them is kept, so that this frame's pyramid serves as
    // the next frame's previous one.
    cv::Rect bounds;
    for (const CFaceData* face : m_stepFaces)
        bounds |= face->PointBounds();
    if (bounds.empty()) {
        // Nothing to follow: no pyramid is built, and the next frame with
        // points builds the previous one afresh. Faces without points are
        // still tracked, so that their timers move on.
        m_pyramidReady = false;
        for (CFaceData* face : m_stepFaces)
            face->Track({}, {}, {});
        return;
    }
    const cv::Rect frame(0, 0, curGrey.cols, curGrey.rows);
    // The region starts on a multiple of the coarsest level's pixel size, so
    // that every level samples the frame on the same grid as a whole-frame
    // pyramid would.
    constexpr int kAlign = 1 << CFaceData::kFlowLevels;
    const auto grow = [&](const cv::Rect& r, int by) {
        const int x0 = std::max(0, (r.x - by) / kAlign * kAlign);
        const int y0 = std::max(0, (r.y - by) / kAlign * kAlign);
        return cv::Rect(x0, y0, r.x + r.width + by - x0, r.y + r.height + by - y0) & frame;
    };
    const cv::Rect needed = m_wholeFramePyramids ? frame : grow(bounds, kTrackMargin);
    if (needed.empty()) {
        // Every point lies outside the frame.
        m_pyramidReady = false;
        for (CFaceData* face : m_stepFaces)
            face->Track({}, {}, {});
        return;
    }
    if (!m_pyramidReady || (m_pyramidRoi & needed) != needed) {
        m_pyramidRoi = m_wholeFramePyramids ? frame : grow(bounds, kTrackMargin + kRegionSlack);
        m_pPrevPyramid.Build(m_pPrevGrey(m_pyramidRoi), CFaceData::kFlowWindow, CFaceData::kFlowLevels, &m_rowTeam,
                             false);
    }
    // No derivatives: the tracker takes them under the points' windows only,
    // a small part of the region, while they are in the cache.
    m_pPyramid.Build(curGrey(m_pyramidRoi), CFaceData::kFlowWindow, CFaceData::kFlowLevels, &m_rowTeam, false);
    const cv::Point2f origin(static_cast<float>(m_pyramidRoi.x), static_cast<float>(m_pyramidRoi.y));
    for (CFaceData* face : m_stepFaces)
        face->Track(m_pPrevPyramid.Levels(), m_pPyramid.Levels(), origin, &m_rowTeam);
    m_pyramidReady = true;
}

void CTransEffectFilter::ResetFaces()
{
    // The faces leave the list at once; the frame step frees them.
    std::vector<const CFaceData*> dropped;
    for (size_t n = m_faceList.DropAll(&dropped); n > 0; --n)
        PlaySound(Sound::Lost, false);
    NoteLost(dropped);
    DeliverEvents();
}

}  // namespace quell
