// Detection worker: cascades, one pass on the reduced copy, report of the
// face found.
#include "faces/DetectWorker.h"

#include "faces/FaceList.h"
#include "platform/Warnings.h"

#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#include <sys/resource.h>
#include <unistd.h>

#include <exception>
#include <filesystem>
#include <system_error>
#include <vector>

namespace quell {

namespace {

constexpr double kScaleFactor = 1.11;
constexpr int kMinNeighbours = 4;
// Nice value of the worker thread: lower priority than the stream.
constexpr int kWorkerNice = 10;
// Cascades are read in this order (indices into kCascadeFiles).
constexpr std::array<int, 3> kLoadOrder = {2, 0, 1};

}  // namespace

CDetectWorker::CDetectWorker(CFaceList& faces, IWarningSink* warnings)
    : m_faces(faces), m_warnings(warnings), m_cascades{{{cv::Size(24, 24), {}}, {cv::Size(20, 20), {}}, {cv::Size(20, 20), {}}}}
{
}

CDetectWorker::~CDetectWorker() = default;

void CDetectWorker::LoadCascades(const CascadePaths& paths)
{
    auto warn = [this](Warning what, const std::string& file, const std::string& detail) {
        if (m_warnings)
            m_warnings->Warn(what, file, detail);
    };
    bool any = false;
    for (const int i : kLoadOrder) {
        Cascade& cascade = m_cascades[i];
        const std::string& path = paths[i];
        cascade.classifier = cv::CascadeClassifier();
        // Missing and empty files are caught here, before OpenCV would print
        // its own complaint to stderr.
        std::error_code ec;
        const auto size = std::filesystem::file_size(path, ec);
        if (ec) {
            warn(Warning::MissingDataFile, path, "face cascade not found: " + ec.message());
            continue;
        }
        if (size == 0) {
            warn(Warning::UnreadableDataFile, path, "face cascade file is empty");
            continue;
        }
        std::string problem = "not a cascade";
        try {
            if (cascade.classifier.load(path) && !cascade.classifier.empty()) {
                any = true;
                continue;
            }
        } catch (const std::exception& e) {
            problem = e.what();
        }
        cascade.classifier = cv::CascadeClassifier();
        warn(Warning::UnreadableDataFile, path, "face cascade cannot be used: " + problem);
    }
    if (!any)
        warn(Warning::DetectionOff, {}, "no face cascade could be loaded");
}

void CDetectWorker::ReloadCascades(const CascadePaths& paths)
{
    std::lock_guard lock(m_reloadLock);
    m_reload = paths;
}

void CDetectWorker::Run()
{
    // Detection is background work: at a lower priority than the streaming
    // threads, it takes what they leave of the machine instead of
    // competing with them for it. Not so when the frame step sets the pace:
    // the streaming thread then waits for each pass, and a busy machine
    // would hold it up behind the lowered worker.
    if (!m_faces.StepPaced())
        setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kWorkerNice);
    while (RunPass(kIdleSleepMs, kRestSleepMs) != Pass::Stop) {
    }
}

void CDetectWorker::Detect(const cv::Mat& grey, cv::Rect& found)
{
    m_lastCascade = -1;
    std::vector<cv::Rect> faces;
    for (size_t i = 0; i < m_cascades.size(); ++i) {
        Cascade& cascade = m_cascades[i];
        if (cascade.classifier.empty() || m_faces.StopRequested())
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

CDetectWorker::Pass CDetectWorker::RunPass(uint32_t waitMs, uint32_t restMs)
{
    {
        std::optional<CascadePaths> reload;
        {
            std::lock_guard lock(m_reloadLock);
            reload.swap(m_reload);
        }
        if (reload)
            LoadCascades(*reload);
    }
    float scale = 1.0f;
    switch (m_faces.TakePendingFrame(m_reducedColour, scale, waitMs)) {
    case CFaceList::Take::Stop:
        return Pass::Stop;
    case CFaceList::Take::Nothing:
        return Pass::NoFrame;
    case CFaceList::Take::Frame:
        break;
    }
    try {
        m_lastCascade = -1;
        if (!m_reducedColour.empty()) {
            cv::cvtColor(m_reducedColour, m_reducedGrey, cv::COLOR_BGRA2GRAY);
            cv::equalizeHist(m_reducedGrey, m_reducedGrey);
            cv::Rect found;
            // The pass runs inside a one-stripe parallel loop of OpenCV's:
            // the loop body runs on this thread, and OpenCV runs every loop
            // nested in it serially, so the classifier stays on this one
            // lower-priority thread instead of spreading over OpenCV's
            // thread pool at normal priority.
            cv::parallel_for_(cv::Range(0, 1), [&](const cv::Range&) { Detect(m_reducedGrey, found); });
            if (m_lastCascade >= 0)
                m_faces.PostDetection(CFaceList::ScaleBack(found, scale));
        }
    } catch (const std::exception&) {
        // Never let a failure end the worker: this pass is lost, the next
        // frame is tried again.
        m_lastCascade = -1;
    }
    return m_faces.FinishPass(restMs) ? Pass::Done : Pass::Stop;
}

}  // namespace quell
