// The capture pipeline: camera -> (decoder) -> videoconvert -> quellfx ->
// tee -> display, and in recording form also tee -> avimux -> filesink with
// the audio input. Every change is a rebuild from scratch.
#pragma once

#include "graph/DeviceChoice.h"
#include "graph/GraphHost.h"
#include "graph/GstRef.h"
#include "shell/CaptureSettings.h"

#include <gst/gst.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace quell {

class CCaptureGraph {
public:
    // `settings` and `highScore` are the main window's; the graph reads and
    // updates them as the build goes.
    CCaptureGraph(IGraphHost& host, CDeviceChooser& devices, CaptureSettings& settings,
                  std::int64_t& highScore);
    ~CCaptureGraph();

    CCaptureGraph(const CCaptureGraph&) = delete;
    CCaptureGraph& operator=(const CCaptureGraph&) = delete;

    // Releases any earlier pipeline (fetching its high score first) and
    // builds a new one; false when a step failed (its message was shown).
    bool BuildCaptureGraph(bool reuseCamera, bool reuseFormat, bool reuseAudio, bool recording);

    // Stops and releases the pipeline. A recording is finished first: end of
    // stream goes through the recording branch and the file is completed
    // (waited for a few seconds at most) before the pipeline goes to NULL.
    void ReleaseCaptureGraph();

    // Applies the saved capture size and frame rate to the camera (or, when
    // asked, takes the camera's own format) before it is connected.
    bool SetupCameraFormat(bool reuseFormat);

    // The camera in use went away (the device monitor said so): as after a
    // camera's error, a recording is completed, the pipeline released with
    // its high score kept, and the user told. `released` runs between the
    // release and the message (the window's waiting picture goes up).
    // Nothing without a pipeline.
    void ReportCameraLost(const std::function<void()>& released = {});

    // The effect element's running high score, or the main window's when
    // there is no effect element.
    std::int64_t FetchHighScore() const;

    // Drops every followed face (Space key, right click).
    void ResetFaces();

    bool Built() const { return m_pipeline != nullptr; }
    GstElement* Pipeline() const { return m_pipeline.get(); }
    GstElement* EffectFilter() const { return m_pEffectFilter.get(); }
    // The file of the running recording, empty when not recording.
    const std::string& RecordingPath() const { return m_recordingPath; }

    // Frame counts of a recording: frames that left the camera's format
    // filter and that entered the tee while the file was open, and frames
    // that reached the multiplexer. Only the display branch may drop frames,
    // so the three agree unless the camera or the file failed.
    struct RecordingStats {
        std::string path;
        std::uint64_t cameraFrames = 0;
        std::uint64_t framesPushed = 0;
        std::uint64_t framesWritten = 0;
        bool completed = false;   // the end of the stream reached the file (index written)
    };
    // The running recording's counts so far (empty when not recording).
    RecordingStats RecordingFrames() const;
    // The counts of the recording that the last release finished.
    const RecordingStats& LastRecording() const;

private:
    struct Runtime;

    bool BuildPreviewForm();
    bool BuildRecordingForm();
    void PrepareRecordingFile();
    bool ConnectCamera();
    bool LinkConverterToEffect();
    bool LinkDisplayBranch();
    bool LinkRecordingBranch();
    bool LinkAudioBranch();
    bool AddNamed(GstElement* element, const char* name);
    bool TakeControl();
    bool StartPipeline();
    void ReleaseGraph(bool fileFailed);
    bool FinishRecording(bool fileFailed);
    void OnPipelineError(GstMessage* message);
    void HandlePipelineError();
    static gboolean BusCallback(GstBus* bus, GstMessage* message, gpointer self);
    static gboolean ErrorCallback(gpointer self);
    static gboolean FileWatchCallback(gpointer self);
    void RestoreRemovedFile(bool unfinished);

    IGraphHost& m_host;
    CDeviceChooser& m_devices;
    CaptureSettings& m_settings;
    std::int64_t& m_highScore;

    GstRef<GstElement> m_pipeline;
    GstRef<GstElement> m_pCameraFilter;
    GstRef<GstElement> m_pAudioFilter;
    GstRef<GstElement> m_pEffectFilter;
    GstRef<GstElement> m_pColorConverter;
    GstRef<GstElement> m_pAviDecompressor;
    GstRef<GstElement> m_pSmartTee;
    GstRef<GstElement> m_pVideoRenderer;
    GstRef<GstElement> m_pAviMux;
    GstRef<GstElement> m_pFileSink;
    std::string m_recordingPath;
    std::unique_ptr<Runtime> m_run;
};

}  // namespace quell
