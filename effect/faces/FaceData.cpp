// Face record: placement, feature seeding, tracking, detection matching and
// the animation clock of one followed face.
#include "faces/FaceData.h"

#include "faces/LucasKanade.h"
#include "platform/RowTeam.h"

#include "platform/RuntimeRandom.h"
#include "profiles/ProfileRoll.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>

namespace quell {

namespace {

// Timer limits of a point: still for longer, or stray for longer, drops it.
constexpr uint32_t kStillLimitMs = 2500;
constexpr uint32_t kStrayLimitMs = 5000;
// The measurement and result timers stop growing here.
constexpr uint32_t kTimerCap = 10000;
// Marker radius and position follow only differences above this.
constexpr int kGlideDeadZone = 10;
// The shown power climbs by target / divisor per step, by class.
constexpr uint64_t kCountDivisor[8] = {200, 300, 400, 500, 600, 700, 800, 1000};

}  // namespace

CFaceData::CFaceData(const IClock& clock, uint32_t seedSeconds)
    : m_clock(clock),
      // Epsilon as the single-precision 0.03 widened, like the tracker's
      // criteria have always been stored.
      m_criteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, static_cast<double>(0.03f)),
      m_lastTrackTime(clock.NowMs()),
      m_lastTickTime(m_lastTrackTime),
      m_seedSeconds(seedSeconds)
{
    m_pPoints.reserve(kMaxFacePoints);
    m_pNextPoints.reserve(kMaxFacePoints);
    Srand(seedSeconds);
}

CFaceData::~CFaceData() = default;

void CFaceData::SetRegion(const cv::Mat& frame, int x, int y, int width, int height)
{
    // Only the part of the rectangle inside the frame can be copied; a
    // rectangle wholly outside leaves the record as it was.
    const cv::Rect rect = cv::Rect(x, y, width, height) & cv::Rect(0, 0, frame.cols, frame.rows);
    if (rect.empty() || frame.type() != CV_8UC4)
        return;
    m_rect = rect;

    // Green-tinted grey copy of the face, each grey value's tint looked up.
    static const std::array<std::array<uchar, 256>, 2> tint = [] {
        std::array<std::array<uchar, 256>, 2> t{};
        for (int g = 0; g < 256; ++g) {
            t[0][g] = cv::saturate_cast<uchar>(static_cast<float>(g) * 0.4f);
            t[1][g] = cv::saturate_cast<uchar>(static_cast<float>(g) * 0.8f);
        }
        return t;
    }();
    cv::Mat grey;
    cv::cvtColor(frame(rect), grey, cv::COLOR_BGRA2GRAY);
    m_pFaceImage.create(rect.height, rect.width, CV_8UC4);
    for (int row = 0; row < rect.height; ++row) {
        const uchar* g = grey.ptr<uchar>(row);
        const uchar* src = frame.ptr<uchar>(rect.y + row) + 4 * rect.x;
        uchar* dst = m_pFaceImage.ptr<uchar>(row);
        for (int col = 0; col < rect.width; ++col) {
            dst[4 * col + 0] = tint[0][g[col]];
            dst[4 * col + 1] = tint[1][g[col]];
            dst[4 * col + 2] = tint[0][g[col]];
            dst[4 * col + 3] = src[4 * col + 3];
        }
    }

    // The marker shows the thumbnail in a square H / 8 on a side: made at
    // that size once here, not per frame.
    const int side = frame.rows / 8;
    if (side > 0)
        cv::resize(m_pFaceImage, m_thumbnail, cv::Size(side, side), 0, 0, cv::INTER_LINEAR);

    if (m_profileReady)
        return;
    m_markerX = static_cast<float>(rect.x + rect.width / 2);
    m_markerY = static_cast<float>(rect.y + rect.height / 2);
    m_markerRadius = rect.width / 2;
    m_measureTime = 0;
    m_reachedTime = 0;
    Profile profile = RollProfile(m_seedSeconds);
    m_targetPower = profile.targetPower;
    m_powerClass = profile.powerClass;
    m_age = profile.age;
    m_height = profile.height;
    m_weight = profile.weight;
    m_name = std::move(profile.name);
    m_origin = std::move(profile.origin);
    m_shownPower = 0;
    m_soundStage = 1;
    m_profileReady = 1;
}

void CFaceData::SeedFeatures(CRowTeam* team)
{
    if (m_pFaceImage.empty())
        return;
    m_stillTime.fill(0);
    m_strayTime.fill(0);
    // No points until the new ones are complete: a failure below leaves a
    // record that is simply lost, never a count that outruns its points.
    m_pointCount = 0;
    m_pPoints.clear();

    cv::Mat grey;
    cv::cvtColor(m_pFaceImage, grey, cv::COLOR_BGRA2GRAY);
    std::vector<cv::Point2f> corners;
    corners.reserve(kMaxFacePoints);
    cv::goodFeaturesToTrack(grey, corners, kMaxFacePoints, 0.01, 10.0, cv::noArray(), 3, false, 0.04);
    // Sub-pixel refinement needs room for its search window; faces smaller
    // than that keep their whole-pixel corners.
    const cv::Size window(10, 10);
    if (!corners.empty() && grey.cols >= 2 * window.width + 5 && grey.rows >= 2 * window.height + 5) {
        // Each corner is refined on its own, in place.
        auto refine = [&](int begin, int end) {
            cv::Mat part(end - begin, 1, CV_32FC2, corners.data() + begin);
            cv::cornerSubPix(grey, part, window, cv::Size(-1, -1), m_criteria);
        };
        const int count = static_cast<int>(corners.size());
        if (team)
            team->Run(count, 16, refine);
        else
            refine(0, count);
    }
    for (cv::Point2f& p : corners) {
        p.x += static_cast<float>(m_rect.x);
        p.y += static_cast<float>(m_rect.y);
    }
    m_pPoints.assign(corners.begin(), corners.end());
    m_pointCount = static_cast<int>(m_pPoints.size());
}

void CFaceData::Track(const std::vector<cv::Mat>& prevPyramid, const std::vector<cv::Mat>& pyramid, cv::Point2f origin,
                      CRowTeam* team)
{
    const uint32_t now = m_clock.NowMs();
    const uint32_t dt = now - m_lastTrackTime;
    m_lastTrackTime = now;
    if (m_pointCount <= 0) {
        m_pointCount = 0;
        return;
    }

    if (prevPyramid.empty() || pyramid.empty()) {
        // The points lie wholly outside the frame (it shrank under them):
        // none can be followed.
        m_pointCount = 0;
        m_pPoints.clear();
        return;
    }
    m_pPoints.resize(static_cast<size_t>(m_pointCount));
    m_pNextPoints.resize(m_pPoints.size());
    // The pyramids cover a region of the frame: the flow runs in its
    // coordinates.
    for (cv::Point2f& p : m_pPoints)
        p -= origin;
    // The tracker works on the pyramids in place: OpenCV's copies their
    // headers into vectors of its own at every call.
    auto follow = [&](int begin, int end) {
        TrackPyramidLk(prevPyramid, pyramid, m_pPoints.data() + begin, m_pNextPoints.data() + begin,
                       m_pStatus.data() + begin, end - begin, kFlowWindow, kFlowLevels, m_criteria);
    };
    // Every point is followed on its own, so blocks of points can go to two
    // threads; a few dozen points are quicker than waking the helper.
    constexpr int kSharePoints = 48;
    if (team && m_pointCount >= kSharePoints)
        team->Run(m_pointCount, 8, follow);
    else
        follow(0, m_pointCount);
    for (cv::Point2f& p : m_pPoints)
        p += origin;
    for (cv::Point2f& p : m_pNextPoints)
        p += origin;
    m_lkFlags |= 1;  // the previous pyramid is ready from now on

    float sumX = 0.0f, sumY = 0.0f;
    for (const cv::Point2f& p : m_pNextPoints) {
        sumX += p.x;
        sumY += p.y;
    }
    m_meanX = sumX / static_cast<float>(m_pointCount);
    m_meanY = sumY / static_cast<float>(m_pointCount);

    const int boxW = m_rect.width / 3;
    const int boxH = m_rect.height / 3;
    int kept = 0;
    for (int i = 0; i < m_pointCount; ++i) {
        const cv::Point2f& old = m_pPoints[i];
        const cv::Point2f& cur = m_pNextPoints[i];
        const float dx = std::fabs(old.x - cur.x);
        const float dy = std::fabs(old.y - cur.y);
        uint32_t still = m_stillTime[i];
        uint32_t stray = m_strayTime[i];
        still = (dx < 0.05f && dy < 0.05f) ? still + dt : 0;
        const bool outside = cur.x < m_meanX - boxW || cur.x > m_meanX + boxW || cur.y < m_meanY - boxH ||
                             cur.y > m_meanY + boxH;
        stray = (outside && dx < 0.3f && dy < 0.3f) ? stray + dt : 0;
        if (still <= kStillLimitMs && stray <= kStrayLimitMs && m_pStatus[i] != 0) {
            // Survivors move to the front with their own timers.
            m_pNextPoints[kept] = cur;
            m_stillTime[kept] = still;
            m_strayTime[kept] = stray;
            ++kept;
        }
    }
    m_pointCount = kept;
    m_pNextPoints.resize(static_cast<size_t>(kept));
    std::swap(m_pPoints, m_pNextPoints);
}

cv::Rect CFaceData::PointBounds() const
{
    if (m_pointCount <= 0)
        return {};
    float minX = m_pPoints[0].x, maxX = minX, minY = m_pPoints[0].y, maxY = minY;
    for (int i = 1; i < m_pointCount; ++i) {
        minX = std::min(minX, m_pPoints[i].x);
        maxX = std::max(maxX, m_pPoints[i].x);
        minY = std::min(minY, m_pPoints[i].y);
        maxY = std::max(maxY, m_pPoints[i].y);
    }
    const int x0 = static_cast<int>(std::floor(minX));
    const int y0 = static_cast<int>(std::floor(minY));
    return {x0, y0, static_cast<int>(std::ceil(maxX)) - x0 + 1, static_cast<int>(std::ceil(maxY)) - y0 + 1};
}

bool CFaceData::Covers(int x, int y, int width, int height) const
{
    int inside = 0;
    for (int i = 0; i < m_pointCount; ++i) {
        const cv::Point2f& p = m_pPoints[i];
        if (x < p.x && p.x < x + width && y < p.y && p.y < y + height)
            ++inside;
    }
    return inside > m_pointCount / 5;
}

void CFaceData::Advance()
{
    const uint32_t steps = ConsumeSteps(m_clock.NowMs(), m_lastTickTime);
    for (uint32_t s = 0; s < steps; ++s) {
        const int dx = static_cast<int>(std::fabs(m_markerX - m_meanX));
        const int dy = static_cast<int>(std::fabs(m_markerY - m_meanY));
        if (dx > kGlideDeadZone || dy > kGlideDeadZone) {
            const float stepX = static_cast<float>(dx / 30 + 1);
            const float stepY = static_cast<float>(dy / 30 + 1);
            m_markerX += m_markerX < m_meanX ? stepX : -stepX;
            m_markerY += m_markerY < m_meanY ? stepY : -stepY;
        }

        const int half = m_rect.width / 2;
        const int d = std::abs(m_markerRadius - half);
        if (d > kGlideDeadZone)
            m_markerRadius += (m_markerRadius < half ? 1 : -1) * (d / 30 + 1);

        if (m_measureTime > 5000) {
            uint64_t step = m_targetPower / kCountDivisor[m_powerClass & 7];
            if (step == 0)
                step = 1;
            // Clamp without overflow: a step past the target lands on it.
            m_shownPower = (m_targetPower - m_shownPower <= step) ? m_targetPower : m_shownPower + step;
        }
        if (m_measureTime < kTimerCap)
            m_measureTime += kStepMs;
        if (m_shownPower >= m_targetPower && m_reachedTime < kTimerCap)
            m_reachedTime += kStepMs;
    }
}

}  // namespace quell
