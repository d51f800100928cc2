// Face record: tracking, animation and marker of one followed face.
#include "faces/FaceData.h"

namespace quell {

void CFaceData::Track(const cv::Mat&, const cv::Mat&, const std::vector<cv::Mat>&, const std::vector<cv::Mat>&) {}

void CFaceData::Advance() {}

void CFaceData::DrawMarker(cv::Mat&) {}

}  // namespace quell
