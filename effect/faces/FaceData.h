// One followed face: its tracked points, timers, marker and rolled profile.
#pragma once

#include "faces/MarkerCircle.h"
#include "platform/Clock.h"

#include <opencv2/core.hpp>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace quell {

class CRowTeam;

class CFaceData {
public:
    // Points followed per face at most.
    static constexpr int kMaxFacePoints = 500;
    // Optical flow window and pyramid depth; the frame step builds its
    // pyramids with the same values.
    static inline const cv::Size kFlowWindow{10, 10};
    static constexpr int kFlowLevels = 3;

    // `clock` drives the tracking timers and the animation; it must outlive
    // the record. `seedSeconds` seeds the profile roll (the calendar time in
    // seconds in normal use).
    CFaceData(const IClock& clock, uint32_t seedSeconds);
    virtual ~CFaceData();

    CFaceData(const CFaceData&) = delete;
    CFaceData& operator=(const CFaceData&) = delete;

    // Places the record on a face rectangle of `frame` (BGRx): keeps a green
    // thumbnail of it and, at the first placement only, starts the marker
    // there and rolls the profile. The rectangle is clipped to the frame.
    void SetRegion(const cv::Mat& frame, int x, int y, int width, int height);
    // Chooses fresh points to follow inside the thumbnail. With a running
    // `team` the corners are refined in blocks on two threads; each corner
    // comes out the same either way.
    void SeedFeatures(CRowTeam* team = nullptr);
    // Follows the points from the previous frame into the current one, using
    // the flow pyramids the frame step built for both frames over the same
    // region of the frame, whose top-left corner is `origin`. With no points
    // the pyramids may be empty.
    // With a running `team` the points are followed in blocks on two
    // threads; each point's result is the same either way.
    void Track(const std::vector<cv::Mat>& prevPyramid, const std::vector<cv::Mat>& pyramid, cv::Point2f origin,
               CRowTeam* team = nullptr);
    // The smallest rectangle holding every followed point (empty with none).
    cv::Rect PointBounds() const;
    // Whether a detection rectangle lies on this face: more than a fifth of
    // the points strictly inside it.
    bool Covers(int x, int y, int width, int height) const;
    // Consumes the animation steps that have passed since the last call.
    void Advance();
    // Draws the marker, the ray ring, the thumbnail and the scan line into
    // the top-down colour frame. Returns a rectangle holding every pixel of
    // the sight and the ray ring (the thumbnail and its scan line stay in
    // the square at the lower left corner).
    cv::Rect DrawMarker(cv::Mat& frame) const;

    const IClock& m_clock;
    cv::Mat m_pFaceImage;        // green-tinted thumbnail of the last placement
    cv::Mat m_thumbnail;         // m_pFaceImage at the size the marker shows it
    cv::TermCriteria m_criteria; // corner refinement and optical flow
    std::array<uchar, kMaxFacePoints> m_pStatus{};
    int m_lkFlags = 0;
    cv::Rect m_rect;
    int m_pointCount = 0;
    std::vector<cv::Point2f> m_pPoints;      // current positions, frame coordinates
    std::vector<cv::Point2f> m_pNextPoints;  // scratch for the next positions
    float m_meanX = 0.0f;
    float m_meanY = 0.0f;
    std::array<uint32_t, kMaxFacePoints> m_stillTime{};  // ms a point has not moved
    std::array<uint32_t, kMaxFacePoints> m_strayTime{};  // ms a point sat still off the face
    uint32_t m_lastTrackTime;
    uint32_t m_lastTickTime;
    float m_markerX = 0.0f;
    float m_markerY = 0.0f;
    int m_markerRadius = 0;
    uint32_t m_measureTime = 0;
    uint64_t m_targetPower = 0;
    uint64_t m_shownPower = 0;
    int m_powerClass = 0;
    std::string m_name;
    int64_t m_age = 0;
    std::string m_origin;
    int m_height = 0;
    int m_weight = 0;
    int m_soundStage = 0;
    uint32_t m_reachedTime = 0;
    int m_profileReady = 0;

private:
    uint32_t m_seedSeconds;
    mutable CCircleStamps m_circles;  // the sight's circles, drawn again each frame
    mutable CRayStamp m_rays;         // the ray ring
};

}  // namespace quell
