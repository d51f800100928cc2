// Detection worker: reduced copy, three cascades in turn, placement of the
// followed face.
#include "faces/DetectWorker.h"

#include "filter/TransEffectFilter.h"

#include <gst/gst.h>
#include <opencv2/imgproc.hpp>

#include <exception>
#include <vector>

GST_DEBUG_CATEGORY_STATIC(quell_detect_debug);
#define GST_CAT_DEFAULT quell_detect_debug

namespace quell {

namespace {

constexpr double kScaleFactor = 1.11;
constexpr int kMinNeighbours = 4;

void InitDebug()
{
    static const bool once = [] {
        GST_DEBUG_CATEGORY_INIT(quell_detect_debug, "quellfx-detect", 0, "quellfx face detection");
        return true;
    }();
    (void)once;
}

}  // namespace

CDetectWorker::CDetectWorker(CTransEffectFilter& filter)
    : m_filter(filter),
      m_cascades{{{"special1.dat", cv::Size(24, 24), {}, {}},
                  {"special2.dat", cv::Size(20, 20), {}, {}},
                  {"dsdetect.dat", cv::Size(20, 20), {}, {}}}}
{
    InitDebug();
}

CDetectWorker::~CDetectWorker() = default;

void CDetectWorker::Run()
{
    while (!m_filter.m_stopDetect.load()) {
        if (!RunPass()) {
            m_filter.WaitForStop(kIdleSleepMs);
            continue;
        }
        m_filter.WaitForStop(kRestSleepMs);
    }
}

float CDetectWorker::ReducedScale(int frameWidth)
{
    return static_cast<float>(frameWidth) / kReducedWidth;
}

cv::Size CDetectWorker::ReducedSize(int frameWidth, int frameHeight)
{
    // The single-precision scale is widened before dividing, so that 352
    // (scale slightly above 1.1) gives 319 rather than a rounded-up 320.
    const double scale = ReducedScale(frameWidth);
    return {std::max(1, static_cast<int>(frameWidth / scale)), std::max(1, static_cast<int>(frameHeight / scale))};
}

cv::Rect CDetectWorker::ScaleBack(const cv::Rect& r, float scale)
{
    return {static_cast<int>(r.x * scale), static_cast<int>(r.y * scale), static_cast<int>(r.width * scale),
            static_cast<int>(r.height * scale)};
}

void CDetectWorker::LoadCascades()
{
    // Loaded on the first pass rather than at thread start, so that a data
    // folder set after the element was created is honoured; reloaded when
    // the file to use changes.
    for (Cascade& cascade : m_cascades) {
        if (m_filter.m_stopDetect.load())
            return;
        const std::string path = m_filter.DataFile(cascade.file);
        if (path == cascade.loadedPath)
            continue;
        cascade.loadedPath = path;
        cascade.classifier = cv::CascadeClassifier();
        // One warning per file: the worker then goes on without it.
        std::string problem = "is missing or not a cascade";
        try {
            if (cascade.classifier.load(path) && !cascade.classifier.empty()) {
                GST_DEBUG("loaded cascade %s", path.c_str());
                continue;
            }
        } catch (const std::exception& e) {
            problem = std::string("cannot be read (") + e.what() + ")";
        }
        cascade.classifier = cv::CascadeClassifier();
        GST_WARNING("cascade %s %s; detection goes on without it", path.c_str(), problem.c_str());
    }
}

void CDetectWorker::Detect(const cv::Mat& grey, cv::Rect& found)
{
    m_lastCascade = -1;
    std::vector<cv::Rect> faces;
    for (size_t i = 0; i < m_cascades.size(); ++i) {
        Cascade& cascade = m_cascades[i];
        if (cascade.classifier.empty() || m_filter.m_stopDetect.load())
            continue;
        faces.clear();
        cascade.classifier.detectMultiScale(grey, faces, kScaleFactor, kMinNeighbours, cv::CASCADE_DO_CANNY_PRUNING,
                                            cascade.smallest);
        if (!faces.empty()) {
            found = faces.front();
            m_lastCascade = static_cast<int>(i);
            return;
        }
    }
}

void CDetectWorker::Place(const cv::Rect& rect)
{
    std::lock_guard lock(m_filter.m_faceLock);
    if (m_filter.m_pDetectImage.empty())
        return;
    for (auto& face : m_filter.m_faces) {
        if (face->Covers(rect.x, rect.y, rect.width, rect.height)) {
            face->SetRegion(m_filter.m_pDetectImage, rect.x, rect.y, rect.width, rect.height);
            face->SeedFeatures();
            return;
        }
    }
    // At most one face is followed: a detection elsewhere waits until the
    // followed face is lost.
    if (!m_filter.m_faces.empty())
        return;
    auto face = std::make_unique<CFaceData>(m_filter.m_clock, m_filter.m_calendarSeconds());
    face->SetRegion(m_filter.m_pDetectImage, rect.x, rect.y, rect.width, rect.height);
    if (face->m_pFaceImage.empty())
        return;
    face->SeedFeatures();
    m_filter.m_faces.push_back(std::move(face));
}

bool CDetectWorker::RunPass()
{
    if (m_filter.m_detectPending.load() == 0)
        return false;
    try {
        float scale = 1.0f;
        {
            std::lock_guard lock(m_filter.m_faceLock);
            const cv::Mat& frame = m_filter.m_pDetectImage;
            if (!frame.empty()) {
                scale = ReducedScale(frame.cols);
                const cv::Size size = ReducedSize(frame.cols, frame.rows);
                // resize reallocates the copy when the size changes in either
                // direction: it must keep the frame's aspect for the
                // placement to match.
                cv::resize(frame, m_reducedColour, size, 0, 0, cv::INTER_LINEAR);
            } else {
                m_reducedColour.release();
            }
        }
        if (!m_reducedColour.empty()) {
            cv::cvtColor(m_reducedColour, m_reducedGrey, cv::COLOR_BGRA2GRAY);
            cv::equalizeHist(m_reducedGrey, m_reducedGrey);
            LoadCascades();
            cv::Rect found;
            Detect(m_reducedGrey, found);
            if (m_lastCascade >= 0) {
                Place(ScaleBack(found, scale));
            }
        }
    } catch (const std::exception& e) {
        // Never let a failure end the worker: this pass is lost, the next
        // frame is tried again.
        GST_WARNING("detection pass failed: %s", e.what());
    }
    m_filter.m_detectPending.store(0);
    return true;
}

}  // namespace quell
