// Face record: placement, tracking and animation clock of one followed face.
#include "faces/FaceData.h"

namespace quell {

CFaceData::CFaceData(const IClock& clock, uint32_t seedSeconds)
    : m_clock(clock),
      m_criteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 20, static_cast<double>(0.03f)),
      m_lastTrackTime(clock.NowMs()),
      m_lastTickTime(m_lastTrackTime),
      m_seedSeconds(seedSeconds)
{
}

CFaceData::~CFaceData() = default;

void CFaceData::SetRegion(const cv::Mat&, int, int, int, int) {}

void CFaceData::SeedFeatures() {}

void CFaceData::Track(const cv::Mat&, const cv::Mat&, const std::vector<cv::Mat>&, const std::vector<cv::Mat>&) {}

bool CFaceData::Covers(int, int, int, int) const { return false; }

void CFaceData::Advance() {}

void CFaceData::DrawMarker(cv::Mat&) const {}

}  // namespace quell
