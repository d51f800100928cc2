// Pyramidal Lucas-Kanade on the frame step's own pyramids: each point is
// followed from the coarsest level down, with window samples taken by
// fixed-point bilinear interpolation and the 2 x 2 normal equations solved
// per iteration.
#include "faces/LucasKanade.h"

#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>

namespace quell {

namespace {

// Bilinear weights in 14-bit fixed point; samples of the picture keep 5
// fractional bits, derivative samples none, and the sums are scaled back by
// 2^-20 (as OpenCV's tracker does, so that its thresholds mean the same).
constexpr int kWeightBits = 14;
constexpr float kSumScale = 1.0f / (1 << 20);

inline int Descale(int v, int bits)
{
    return (v + (1 << (bits - 1))) >> bits;
}

struct Weights {
    int w00, w01, w10, w11;
};

inline Weights BilinearWeights(float a, float b)
{
    Weights w{};
    w.w00 = static_cast<int>(std::lrint((1.f - a) * (1.f - b) * (1 << kWeightBits)));
    w.w01 = static_cast<int>(std::lrint(a * (1.f - b) * (1 << kWeightBits)));
    w.w10 = static_cast<int>(std::lrint((1.f - a) * b * (1 << kWeightBits)));
    w.w11 = (1 << kWeightBits) - w.w00 - w.w01 - w.w10;
    return w;
}

// One level's pictures and the window around one point on it.
class CLevelTracker {
public:
    CLevelTracker(const cv::Mat& prev, const cv::Mat& deriv, const cv::Mat& next, cv::Size window)
        : m_prev(prev), m_deriv(deriv), m_next(next), m_window(window)
    {
    }

    // Samples the previous picture and its derivatives in the window whose
    // top-left corner is `corner`, and sums the derivative products.
    // False when the window lies off the level.
    bool SampleTemplate(cv::Point2f corner, float& a11, float& a12, float& a22)
    {
        const int ix = cvFloor(corner.x), iy = cvFloor(corner.y);
        if (ix < -m_window.width || ix >= m_deriv.cols || iy < -m_window.height || iy >= m_deriv.rows)
            return false;
        const Weights w = BilinearWeights(corner.x - static_cast<float>(ix), corner.y - static_cast<float>(iy));
        const ptrdiff_t step = static_cast<ptrdiff_t>(m_prev.step[0]);
        const ptrdiff_t dstep = static_cast<ptrdiff_t>(m_deriv.step[0] / sizeof(short));
        int64_t s11 = 0, s12 = 0, s22 = 0;
        for (int y = 0; y < m_window.height; ++y) {
            const uchar* src = m_prev.data + (y + iy) * step + ix;
            const short* dsrc = reinterpret_cast<const short*>(m_deriv.data) + (y + iy) * dstep + 2 * ix;
            short* t = m_template.data() + y * m_window.width;
            short* dt = m_templateDeriv.data() + 2 * y * m_window.width;
            int r11 = 0, r12 = 0, r22 = 0;  // one row's sums fit 32 bits
            for (int x = 0; x < m_window.width; ++x) {
                t[x] = static_cast<short>(Descale(src[x] * w.w00 + src[x + 1] * w.w01 + src[x + step] * w.w10 +
                                                      src[x + step + 1] * w.w11,
                                                  kWeightBits - 5));
                const short* d = dsrc + 2 * x;
                const int gx = Descale(d[0] * w.w00 + d[2] * w.w01 + d[dstep] * w.w10 + d[dstep + 2] * w.w11,
                                       kWeightBits);
                const int gy = Descale(d[1] * w.w00 + d[3] * w.w01 + d[dstep + 1] * w.w10 + d[dstep + 3] * w.w11,
                                       kWeightBits);
                dt[2 * x] = static_cast<short>(gx);
                dt[2 * x + 1] = static_cast<short>(gy);
                r11 += gx * gx;
                r12 += gx * gy;
                r22 += gy * gy;
            }
            s11 += r11;
            s12 += r12;
            s22 += r22;
        }
        a11 = static_cast<float>(s11) * kSumScale;
        a12 = static_cast<float>(s12) * kSumScale;
        a22 = static_cast<float>(s22) * kSumScale;
        return true;
    }

    // The mismatch of the next picture's window at `corner` against the
    // template, weighted by the template's derivatives. False when the
    // window lies off the level.
    bool Mismatch(cv::Point2f corner, float& b1, float& b2) const
    {
        const int ix = cvFloor(corner.x), iy = cvFloor(corner.y);
        if (ix < -m_window.width || ix >= m_next.cols || iy < -m_window.height || iy >= m_next.rows)
            return false;
        const Weights w = BilinearWeights(corner.x - static_cast<float>(ix), corner.y - static_cast<float>(iy));
        const ptrdiff_t step = static_cast<ptrdiff_t>(m_next.step[0]);
        int64_t s1 = 0, s2 = 0;
        for (int y = 0; y < m_window.height; ++y) {
            const uchar* src = m_next.data + (y + iy) * step + ix;
            const short* t = m_template.data() + y * m_window.width;
            const short* dt = m_templateDeriv.data() + 2 * y * m_window.width;
            int64_t r1 = 0, r2 = 0;
            for (int x = 0; x < m_window.width; ++x) {
                const int diff = Descale(src[x] * w.w00 + src[x + 1] * w.w01 + src[x + step] * w.w10 +
                                             src[x + step + 1] * w.w11,
                                         kWeightBits - 5) -
                                 t[x];
                r1 += diff * dt[2 * x];
                r2 += diff * dt[2 * x + 1];
            }
            s1 += r1;
            s2 += r2;
        }
        b1 = static_cast<float>(s1) * kSumScale;
        b2 = static_cast<float>(s2) * kSumScale;
        return true;
    }

private:
    const cv::Mat& m_prev;
    const cv::Mat& m_deriv;
    const cv::Mat& m_next;
    cv::Size m_window;
    std::array<short, kMaxLkWindow * kMaxLkWindow> m_template{};
    std::array<short, 2 * kMaxLkWindow * kMaxLkWindow> m_templateDeriv{};
};

}  // namespace

void TrackPyramidLk(const std::vector<cv::Mat>& prevPyramid, const std::vector<cv::Mat>& nextPyramid,
                    const cv::Point2f* prevPoints, cv::Point2f* nextPoints, uint8_t* status, int count,
                    cv::Size window, int maxLevel, const cv::TermCriteria& criteria, float minEigThreshold)
{
    CV_Assert(window.width > 2 && window.height > 2 && window.width <= kMaxLkWindow &&
              window.height <= kMaxLkWindow);
    CV_Assert(prevPyramid.size() % 2 == 0 && nextPyramid.size() % 2 == 0 && !prevPyramid.empty() &&
              !nextPyramid.empty());
    if (count <= 0)
        return;
    maxLevel = std::min({maxLevel, static_cast<int>(prevPyramid.size()) / 2 - 1,
                         static_cast<int>(nextPyramid.size()) / 2 - 1});
    maxLevel = std::max(maxLevel, 0);
    for (int level = 0; level <= maxLevel; ++level) {
        const cv::Mat& prev = prevPyramid[2 * level];
        const cv::Mat& deriv = prevPyramid[2 * level + 1];
        const cv::Mat& next = nextPyramid[2 * level];
        CV_Assert(prev.type() == CV_8UC1 && next.type() == CV_8UC1 && deriv.type() == CV_16SC2);
        CV_Assert(prev.size() == next.size() && deriv.size() == prev.size());
    }

    const int maxCount = (criteria.type & cv::TermCriteria::COUNT) ? std::clamp(criteria.maxCount, 0, 100) : 30;
    double epsilon = (criteria.type & cv::TermCriteria::EPS) ? std::clamp(criteria.epsilon, 0.0, 10.0) : 0.01;
    epsilon *= epsilon;
    const cv::Point2f halfWin((static_cast<float>(window.width) - 1) * 0.5f,
                              (static_cast<float>(window.height) - 1) * 0.5f);
    const float area2 = 2.0f * static_cast<float>(window.area());

    std::fill_n(status, count, uint8_t{1});
    for (int level = maxLevel; level >= 0; --level) {
        CLevelTracker tracker(prevPyramid[2 * level], prevPyramid[2 * level + 1], nextPyramid[2 * level], window);
        const float scale = static_cast<float>(1.0 / (1 << level));
        for (int i = 0; i < count; ++i) {
            const cv::Point2f prevPt = prevPoints[i] * scale;
            cv::Point2f nextPt = level == maxLevel ? prevPt : nextPoints[i] * 2.0f;
            nextPoints[i] = nextPt;

            float a11 = 0, a12 = 0, a22 = 0;
            if (!tracker.SampleTemplate(prevPt - halfWin, a11, a12, a22)) {
                if (level == 0)
                    status[i] = 0;
                continue;
            }
            float det = a11 * a22 - a12 * a12;
            const float minEig = (a22 + a11 - std::sqrt((a11 - a22) * (a11 - a22) + 4.f * a12 * a12)) / area2;
            // Too little texture in the window for the flow to be defined.
            if (minEig < minEigThreshold || det < FLT_EPSILON) {
                if (level == 0)
                    status[i] = 0;
                continue;
            }
            det = 1.f / det;

            nextPt -= halfWin;
            cv::Point2f prevDelta;
            for (int j = 0; j < maxCount; ++j) {
                float b1 = 0, b2 = 0;
                if (!tracker.Mismatch(nextPt, b1, b2)) {
                    if (level == 0)
                        status[i] = 0;
                    break;
                }
                const cv::Point2f delta((a12 * b2 - a22 * b1) * det, (a12 * b1 - a11 * b2) * det);
                nextPt += delta;
                nextPoints[i] = nextPt + halfWin;
                if (delta.ddot(delta) <= epsilon)
                    break;
                // Swinging back and forth: settle halfway.
                if (j > 0 && std::abs(delta.x + prevDelta.x) < 0.01 && std::abs(delta.y + prevDelta.y) < 0.01) {
                    nextPoints[i] -= delta * 0.5f;
                    break;
                }
                prevDelta = delta;
            }
        }
    }
}

}  // namespace quell
