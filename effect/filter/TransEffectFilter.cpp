// The frame step of the effect, the worker's start and stop, and the control
// interface.
#include "filter/TransEffectFilter.h"

#include "faces/DetectWorker.h"
#include "platform/DataDir.h"

#include <opencv2/imgproc.hpp>
#include <opencv2/video/tracking.hpp>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <stdexcept>

namespace quell {

namespace {
// The typewriter clock stops here: far beyond the longest profile text.
constexpr uint32_t kTextClockCap = 100000;

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
    : m_clock(platform.clock ? *platform.clock : MonotonicClock::Instance()),
      m_sound(RequireSound(platform.sound)),
      m_calendarSeconds(platform.calendarSeconds ? platform.calendarSeconds : &CalendarSeconds),
      m_lastTick(m_clock.NowMs())
{
    if (platform.startWorker) {
        m_detectThread = std::thread([this] {
            CDetectWorker worker(*this);
            worker.Run();
        });
    }
}

CTransEffectFilter::~CTransEffectFilter()
{
    // The worker is joined, not abandoned: it may hold the face lock or own
    // memory, so it must finish before any face or image is freed. Its
    // sleeps wake at once on the stop request and a detection pass on the
    // reduced frame is short, so this returns quickly.
    StopWorker();
    std::lock_guard lock(m_faceLock);
    m_faces.clear();
}

void CTransEffectFilter::StopWorker()
{
    {
        std::lock_guard lock(m_stopMutex);
        m_stopDetect.store(1);
    }
    m_stopWake.notify_all();
    if (m_detectThread.joinable())
        m_detectThread.join();
}

bool CTransEffectFilter::WaitForStop(uint32_t ms)
{
    std::unique_lock lock(m_stopMutex);
    return m_stopWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stopDetect.load() != 0; });
}

void CTransEffectFilter::BuildWorkImages(int width, int height)
{
    // New images start cleared, so that the first frame after a (re)build
    // shows black rather than whatever the allocator left behind.
    m_pFrame = cv::Mat();
    m_pDetectImage = cv::Mat::zeros(height, width, CV_8UC(m_channels));
    m_pHudMask = cv::Mat::zeros(height, width, CV_8UC(m_channels));
    m_panelHeight = height / 8;
    BuildHudMask();
    m_pPrevGrey = cv::Mat::zeros(height, width, CV_8UC1);
    m_curGrey = cv::Mat::zeros(height, width, CV_8UC1);
    m_pPyramid.clear();
    m_pPrevPyramid.clear();
    m_pyramidReady = false;
}

void CTransEffectFilter::Transform(uint8_t* pixels, int width, int height, size_t stride)
{
    if (!pixels || width <= 0 || height <= 0 || stride < static_cast<size_t>(width) * 4)
        throw std::invalid_argument("frame with no pixels, no size or a row stride below 4 * width");

    const uint32_t steps = ConsumeSteps(m_clock.NowMs(), m_lastTick);
    if (steps > 0) {
        const uint64_t grown = uint64_t{m_textClock} + uint64_t{steps} * kStepMs;
        m_textClock = static_cast<uint32_t>(std::min<uint64_t>(grown, kTextClockCap));
    }

    {
        std::lock_guard lock(m_faceLock);
        if (m_pPrevGrey.cols != width || m_pPrevGrey.rows != height)
            BuildWorkImages(width, height);
    }
    // A header over the frame's own pixels: every pass works in place.
    m_pFrame = cv::Mat(height, width, CV_8UC4, pixels, stride);

    if (m_detectPending.load() == 0) {
        {
            std::lock_guard lock(m_faceLock);
            m_pFrame.copyTo(m_pDetectImage);
        }
        m_detectPending.store(1);
    }

    cv::cvtColor(m_pFrame, m_curGrey, cv::COLOR_BGRA2GRAY);

    std::lock_guard lock(m_faceLock);
    TrackFaces(m_curGrey);

    // The previous grey picture is shown; this frame's becomes the previous.
    std::swap(m_pPrevGrey, m_curGrey);
    std::swap(m_pPyramid, m_pPrevPyramid);
    const cv::Mat& shown = m_curGrey;
    cv::cvtColor(shown, m_pFrame, cv::COLOR_GRAY2BGRA);

    TintPass();
    CFaceData* current = UpdateFaces();
    ShadePass();
    DrawOverlay(current);
    m_prevFaceCount = static_cast<int>(m_faces.size());
    m_pFrame = cv::Mat();
}

void CTransEffectFilter::TrackFaces(const cv::Mat& curGrey)
{
    if (m_faces.empty()) {
        // Nothing is followed: no pyramid is built, and the next frame with a
        // face builds the previous one afresh.
        m_pyramidReady = false;
        return;
    }
    // One pyramid per frame serves every face, and the next frame as its
    // previous pyramid (the frame step swaps them after tracking).
    if (!m_pyramidReady)
        cv::buildOpticalFlowPyramid(m_pPrevGrey, m_pPrevPyramid, CFaceData::kFlowWindow, CFaceData::kFlowLevels);
    cv::buildOpticalFlowPyramid(curGrey, m_pPyramid, CFaceData::kFlowWindow, CFaceData::kFlowLevels);
    for (auto& face : m_faces)
        face->Track(m_pPrevGrey, curGrey, m_pPrevPyramid, m_pPyramid);
    m_pyramidReady = true;
}

void CTransEffectFilter::ResetFaces()
{
    std::lock_guard lock(m_faceLock);
    for (auto it = m_faces.begin(); it != m_faces.end();) {
        m_sound.Play(DataFile("lost.wav"), false);
        it = m_faces.erase(it);
    }
}

uint64_t CTransEffectFilter::GetHighScore()
{
    std::lock_guard lock(m_faceLock);
    return m_highScore;
}

void CTransEffectFilter::SetHighScore(uint64_t value)
{
    std::lock_guard lock(m_faceLock);
    m_highScore = value;
}

uint64_t CTransEffectFilter::GetScore()
{
    std::lock_guard lock(m_faceLock);
    return m_score;
}

void CTransEffectFilter::SetDataDir(std::string dir)
{
    std::lock_guard lock(m_settingsLock);
    m_dataDir = std::move(dir);
}

std::string CTransEffectFilter::GetDataDir() const
{
    std::lock_guard lock(m_settingsLock);
    return m_dataDir;
}

std::string CTransEffectFilter::DataFile(const std::string& name) const
{
    return ResolveDataFile(GetDataDir(), name);
}

size_t CTransEffectFilter::FaceCount()
{
    std::lock_guard lock(m_faceLock);
    return m_faces.size();
}

}  // namespace quell
