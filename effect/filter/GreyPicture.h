// The grey picture of a BGRx frame, computed on the calling thread.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>

namespace quell {

// Writes the grey value of every pixel of `bgrx` (CV_8UC4) into `grey`
// (CV_8UC1, made the frame's size if it is not), with the weights and
// rounding of OpenCV's BGR-to-grey conversion, so that the result is the
// same to the bit; the fourth byte is ignored. Unlike cv::cvtColor it never
// hands work to a thread pool: the frame step stays on its own thread.
void ToGrey(const cv::Mat& bgrx, cv::Mat& grey);
// The same for one row of `width` pixels: with AVX-512 or AVX2 when the
// processor has it, SSE2 (or plain loops) otherwise; every path gives the
// same bytes.
void ToGreyRow(const uint8_t* bgrx, uint8_t* grey, int width);

// The paths on their own, so that tests can hold them against each other.
namespace grey_paths {
void Portable(const uint8_t* bgrx, uint8_t* grey, int width);  // SSE2 where built in, else plain
void Avx2(const uint8_t* bgrx, uint8_t* grey, int width);  // only where HasAvx2() (VectorUnits.h)
void Avx512(const uint8_t* bgrx, uint8_t* grey, int width);  // only where HasAvx512()
}  // namespace grey_paths

}  // namespace quell
