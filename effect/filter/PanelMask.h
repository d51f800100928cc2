// CPanelMask: the panel of the overlay for one frame size, as a mask image and
// as runs per row, and the two pixel passes that depend on it: the write-back
// of the grey picture (tinted outside the panel) and the shade of the panel.
#pragma once

#include <opencv2/core.hpp>

#include <cstdint>

#include <vector>

namespace quell {

class CRowTeam;

class CPanelMask {
public:
    CPanelMask();

    // The pixel passes take 64-byte vectors where the processor has
    // AVX-512, 16-byte ones otherwise; both give the same bytes. Tests turn
    // the wide ones off to hold the two against each other.
    void UseWidePaths(bool wide);

    // Draws the panel for a `width` x `height` frame whose panel is
    // `panelHeight` rows high: the outline with its square window, and the
    // rim a little above it. Sizes of 0 leave an empty mask.
    void Build(int width, int height, int panelHeight);

    // Writes the grey picture `grey` (CV_8UC1) into the BGRx frame `frame`
    // (CV_8UC4, same size as the mask) in one pass: outside the panel tinted
    // green (g / 2, g, g / 2, 255), inside shaded (0, trunc(0.4 * g), 0,
    // 255). Whatever is drawn over the panel afterwards is shaded by
    // ShadeDrawn(), as if it had been drawn before the panel was shaded.
    void WriteBack(const cv::Mat& grey, cv::Mat& frame) const;
    // Both passes of the frame step over the frame in one, row by row while
    // the row is in the cache: takes the frame's grey picture into
    // `curGrey`, then writes `prevGrey` back into the frame as WriteBack()
    // does. `curGrey` is made the frame's size if it is not. With a running
    // `team` the rows are shared between the calling thread and its helper.
    void GreyAndWriteBack(cv::Mat& frame, cv::Mat& curGrey, const cv::Mat& prevGrey,
                          CRowTeam* team = nullptr) const;
    // Shades the pixels inside the panel and inside `area` that were drawn
    // over the written-back picture, told apart by their fourth byte, which
    // is 255 only for the picture: blue and red 0, green trunc(0.4 * green),
    // the fourth byte kept. Whatever is drawn between the write-back and
    // this call must therefore have a fourth byte other than 255.
    void ShadeDrawn(cv::Mat& frame, const cv::Rect& area) const;

    // The row on which the gauge stands: the rim's height at the right edge.
    int GaugeBase() const { return m_gaugeBase; }
    // The mask itself (CV_8UC4): (255, 255, 255, 0) inside the panel and on
    // the rim, 0 elsewhere.
    const cv::Mat& Mask() const { return m_mask; }
    cv::Size Size() const { return m_mask.size(); }

private:
    // A stretch [begin, end) of one row that lies inside the mask.
    struct Run {
        int begin;
        int end;
    };
    // Writes grey row `g` back into frame row `row` (row number y).
    void WriteRow(const uint8_t* g, uint8_t* row, int y) const;
    // Checks that `frame` is a CV_8UC4 image of the mask's size.
    void RequireFrame(const cv::Mat& frame) const;

    // The span passes in use: [begin, end) of a row, from the grey row for
    // the write-backs.
    using WriteSpanFn = void (*)(const uint8_t* grey, uint8_t* row, int begin, int end);
    using ShadeSpanFn = void (*)(uint8_t* row, int begin, int end);
    WriteSpanFn m_tintSpan = nullptr;
    WriteSpanFn m_panelSpan = nullptr;
    ShadeSpanFn m_shadeSpan = nullptr;

    cv::Mat m_mask;
    int m_gaugeBase = 0;
    // Row y's runs are m_runs[m_rowFirst[y] .. m_rowFirst[y + 1]), so that the
    // pixel passes never read the mask.
    std::vector<Run> m_runs;
    std::vector<int> m_rowFirst;
};

}  // namespace quell
