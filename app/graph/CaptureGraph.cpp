// The capture pipeline's assembly in preview and recording form, its start,
// the completion of a recording file, the bus watch and the teardown.
#include "graph/CaptureGraph.h"

#include "graph/AviRepair.h"
#include "graph/CameraFormats.h"
#include "graph/Caption.h"
#include "graph/GraphFormat.h"
#include "graph/GraphRefs.h"
#include "graph/RecordingFile.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <initializer_list>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quell {

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// How long a start attempt may take to reach PLAYING.
constexpr GstClockTime kStartTimeout = 3 * GST_SECOND;
// How long the end of a recording may take to reach the file.
constexpr auto kFinishTimeout = 5s;
// The recording branch holds a few seconds of frames, so that a slow disk
// does not hold the camera up; its byte bound keeps large pictures in check.
constexpr guint64 kRecordingQueueTime = 3 * GST_SECOND;
constexpr guint kRecordingQueueBytes = 256u << 20;

const char* const kCameraLost = "カメラが使えなくなりました。";
const char* const kFileLost = "録画ファイルに書き込めませんでした。";
const char* const kAudioLost = "録音デバイスが使えなくなりました。";
// How often the recording's file is looked at: a removed file (or folder)
// would take every later frame with it.
constexpr guint kFileWatchMs = 500;

GstRef<GstElement> Make(const char* factory)
{
    return Adopt(gst_element_factory_make(factory, nullptr));
}

GstRef<GstPad> StaticPad(GstElement* element, const char* name)
{
    return GstRef<GstPad>(element ? gst_element_get_static_pad(element, name) : nullptr);
}

bool LinkPads(GstPad* from, GstPad* to)
{
    return from && to && gst_pad_link(from, to) == GST_PAD_LINK_OK;
}

// Links a -> b -> ... through their "src" and "sink" pads.
bool LinkChain(std::initializer_list<GstElement*> chain)
{
    GstElement* previous = nullptr;
    for (GstElement* element : chain) {
        if (!element)
            return false;
        if (previous && !gst_element_link(previous, element))
            return false;
        previous = element;
    }
    return true;
}

GstPadProbeReturn CountBuffers(GstPad*, GstPadProbeInfo* info, gpointer counter)
{
    auto* count = static_cast<std::atomic<std::uint64_t>*>(counter);
    if (GST_PAD_PROBE_INFO_TYPE(info) & GST_PAD_PROBE_TYPE_BUFFER_LIST)
        count->fetch_add(gst_buffer_list_length(GST_PAD_PROBE_INFO_BUFFER_LIST(info)), std::memory_order_relaxed);
    else
        count->fetch_add(1, std::memory_order_relaxed);
    return GST_PAD_PROBE_OK;
}

void AddCounter(GstPad* pad, std::atomic<std::uint64_t>& counter)
{
    if (pad)
        gst_pad_add_probe(pad, static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                          CountBuffers, &counter, nullptr);
}

// The display sink's QoS events would make the converter, the decoder or
// the effect drop late frames before the tee, and so lose them for the
// file too. Only the display branch may drop: its queue and its sink.
GstPadProbeReturn DropQos(GstPad*, GstPadProbeInfo* info, gpointer)
{
    return GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_QOS ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

// decodebin's pads appear while it runs; its video output goes to the
// colour converter.
void OnDecodedPad(GstElement*, GstPad* pad, gpointer converter)
{
    GstRef<GstPad> sink = StaticPad(GST_ELEMENT(converter), "sink");
    if (!sink || gst_pad_is_linked(sink.get()))
        return;
    CapsRef caps(gst_pad_get_current_caps(pad));
    if (!caps)
        caps.reset(gst_pad_query_caps(pad, nullptr));
    const GstStructure* s = caps && gst_caps_get_size(caps.get()) > 0 ? gst_caps_get_structure(caps.get(), 0) : nullptr;
    if (s && g_str_has_prefix(gst_structure_get_name(s), "video/"))
        gst_pad_link(pad, sink.get());
}

void DropMessages(GstBus* bus)
{
    while (MessageRef message{gst_bus_pop(bus)}) {
    }
}

// A recording cut off by a fault gets its sizes and index; one that never
// got a frame is removed, as nothing plays it.
void MendRecording(const std::string& path)
{
    const AviRepairReport report = RepairAviFile(path);
    std::error_code ignored;
    if (report.mended && report.chunks == 0)
        fs::remove(path, ignored);
}

bool IsWithin(GstObject* object, GstElement* element)
{
    return object && element &&
           (object == GST_OBJECT(element) || gst_object_has_as_ancestor(object, GST_OBJECT(element)));
}

}  // namespace

// Pipeline state beyond the members the main window's code knows.
struct CCaptureGraph::Runtime {
    // Counted on streaming threads, read on the GUI thread.
    std::atomic<std::uint64_t> cameraFrames{0};
    std::atomic<std::uint64_t> framesPushed{0};
    std::atomic<std::uint64_t> framesWritten{0};

    // Set when the end of stream reaches the file sink.
    std::mutex endLock;
    std::condition_variable endReached;
    bool fileEnded = false;   // guarded by endLock

    GstRef<GstBus> bus;
    bool watching = false;
    guint errorSource = 0;
    std::string errorText;
    bool errorInFile = false;
    bool errorInAudio = false;

    // The recording's file, held open to notice its removal and to put back
    // what it holds.
    int fileWatch = -1;
    guint fileWatchSource = 0;
    bool fileRemoved = false;
    std::tm started{};

    CapsRef offeredCaps;   // what the camera offered in READY
    CapsRef cameraCaps;    // the format chosen for it, null for its own
    bool formatAsked = false;  // the user chose the format in this build
    bool hasControl = false;
    bool recordingLinked = false;
    bool audioLinked = false;

    GstRef<GstElement> cameraFormat;
    GstRef<GstElement> effectFormat;
    GstRef<GstElement> displayQueue;
    GstRef<GstElement> recordingQueue;
    GstRef<GstElement> audioQueue;
    GstRef<GstElement> audioConverter;

    RecordingStats last;

    // Probe on the file sink's input: notes the end of stream.
    static GstPadProbeReturn NoteFileEnd(GstPad*, GstPadProbeInfo* info, gpointer data)
    {
        if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS) {
            auto* run = static_cast<Runtime*>(data);
            {
                std::lock_guard lock(run->endLock);
                run->fileEnded = true;
            }
            run->endReached.notify_all();
        }
        return GST_PAD_PROBE_OK;
    }

    void ResetCounts()
    {
        cameraFrames = 0;
        framesPushed = 0;
        framesWritten = 0;
        std::lock_guard lock(endLock);
        fileEnded = false;
    }
};


CCaptureGraph::CCaptureGraph(IGraphHost& host, CDeviceChooser& devices, CaptureSettings& settings,
                             std::int64_t& highScore)
    : m_host(host), m_devices(devices), m_settings(settings), m_highScore(highScore), m_run(std::make_unique<Runtime>())
{
}

CCaptureGraph::~CCaptureGraph()
{
    ReleaseCaptureGraph();
}

bool CCaptureGraph::BuildCaptureGraph(bool reuseCamera, bool reuseFormat, bool reuseAudio, bool recording)
{
    IPrompts& prompts = m_host.Prompts();

    // The high score goes from the old effect to the new one.
    if (m_pEffectFilter && m_run->hasControl)
        m_highScore = FetchHighScore();
    ReleaseCaptureGraph();
    m_run->ResetCounts();

    m_pipeline = Adopt(gst_pipeline_new("Capture Graph"));
    if (!m_pipeline) {
        prompts.ShowMessage("ERROR: CoCreateInstance FilterGraph");
        return false;
    }
    m_run->bus.reset(gst_element_get_bus(m_pipeline.get()));
    if (!m_run->bus) {
        prompts.ShowMessage("ERROR: QueryInterface MediaEvent");
        return false;
    }

    // Made now, added after the camera's format is set.
    m_pVideoRenderer = Adopt(m_host.CreateVideoRenderer());

    bool cameraChanged = false;
    if (!m_devices.SelectCamera(reuseCamera, cameraChanged, m_settings.cameraName, m_pCameraFilter,
                                &m_settings.cameraId))
        return false;
    if (!AddNamed(m_pCameraFilter.get(), "Capture Filter"))
        prompts.ShowMessage("ERROR: AddFilter");
    if (cameraChanged)
        reuseFormat = false;
    if (!SetupCameraFormat(reuseFormat))
        return false;
    if (!AddNamed(m_pVideoRenderer.get(), "Video Renderer"))
        prompts.ShowMessage("ERROR: AddFilter");

    if (!m_devices.SelectAudioDevice(reuseAudio, m_settings.audioName, m_pAudioFilter))
        return false;
    // In preview the audio input stays out of the pipeline: a live source
    // with nowhere to send its data would stop the pipeline with not-linked.
    if (recording && m_pAudioFilter && !AddNamed(m_pAudioFilter.get(), "Audio Capture"))
        prompts.ShowMessage("ERROR: AddFilter");

    if (!(recording ? BuildRecordingForm() : BuildPreviewForm()))
        return false;

    StartPipeline();
    m_host.SetCaption(MakeCaption(m_settings.cameraName, m_settings.width, m_settings.height, recording));
    m_host.SaveSettings();
    // After a format choice the camera's picture controls follow, over the
    // running picture, so that each change is seen at once.
    if (m_run->formatAsked && m_pCameraFilter)
        prompts.ShowCameraControls(m_pCameraFilter.get());
    return true;
}

bool CCaptureGraph::BuildPreviewForm()
{
    IPrompts& prompts = m_host.Prompts();

    m_pEffectFilter = Make("quellfx");
    if (!m_pEffectFilter)
        prompts.ShowMessage("ERROR: CoCreateInstance");
    if (!AddNamed(m_pEffectFilter.get(), "TransEffectFilter")) {
        prompts.ShowMessage("TransEffectFilter");
        return false;
    }
    if (!TakeControl())
        prompts.ShowMessage("ERROR: m_pQuellEffectTransFilter");

    m_pAviDecompressor = Make(DecoderFor(m_run->offeredCaps.get(), m_run->cameraCaps.get()));
    if (!m_pAviDecompressor)
        prompts.ShowMessage("ERROR: CoCreateInstance");
    if (!AddNamed(m_pAviDecompressor.get(), "AVI Decompressor")) {
        prompts.ShowMessage("AVI Decompressor");
        return false;
    }

    m_pColorConverter = Make("videoconvert");
    m_run->effectFormat = Make("capsfilter");
    if (!m_pColorConverter || !m_run->effectFormat)
        prompts.ShowMessage("ERROR: CoCreateInstance");
    if (!AddNamed(m_pColorConverter.get(), "Color Space Converter") ||
        !AddNamed(m_run->effectFormat.get(), "Effect Format")) {
        prompts.ShowMessage("Color Space Converter");
        return false;
    }

    if (!ConnectCamera())
        return false;

    m_pSmartTee = Make("tee");
    if (!m_pSmartTee)
        prompts.ShowMessage("ERROR: CoCreateInstance");
    if (!AddNamed(m_pSmartTee.get(), "SmartTee")) {
        prompts.ShowMessage("SmartTee");
        return false;
    }
    if (!LinkChain({m_pEffectFilter.get(), m_pSmartTee.get()})) {
        prompts.ShowMessage("RenderStream E02");
        return false;
    }
    if (!LinkDisplayBranch()) {
        prompts.ShowMessage("RenderStream E03");
        return false;
    }
    if (GST_OBJECT_PARENT(m_pVideoRenderer.get()) != GST_OBJECT(m_pipeline.get())) {
        prompts.ShowMessage("QueryInterface");
        return false;
    }
    return true;
}

bool CCaptureGraph::BuildRecordingForm()
{
    IPrompts& prompts = m_host.Prompts();

    PrepareRecordingFile();

    m_pEffectFilter = Make("quellfx");
    if (!m_pEffectFilter) {
        prompts.ShowMessage("ERROR: 時間表示フィルタの作成に失敗しました");
        return false;
    }
    if (!TakeControl())
        prompts.ShowMessage("ERROR: m_pQuellEffectTransFilter");
    if (!AddNamed(m_pEffectFilter.get(), "TransEffectFilter")) {
        prompts.ShowMessage("ERROR: TransEffectFilter");
        return false;
    }

    m_pAviDecompressor = Make(DecoderFor(m_run->offeredCaps.get(), m_run->cameraCaps.get()));
    if (!m_pAviDecompressor)
        prompts.ShowMessage("ERROR: CoCreateInstance");
    if (!AddNamed(m_pAviDecompressor.get(), "AVI Decompressor")) {
        prompts.ShowMessage("ERROR: AVI Decompressor");
        return false;
    }

    m_pColorConverter = Make("videoconvert");
    m_run->effectFormat = Make("capsfilter");
    if (!m_pColorConverter || !m_run->effectFormat) {
        prompts.ShowMessage("Color Space Converter E01");
        return false;
    }
    if (!AddNamed(m_pColorConverter.get(), "Color Space Converter") ||
        !AddNamed(m_run->effectFormat.get(), "Effect Format")) {
        prompts.ShowMessage("Color Space Converter E02");
        return false;
    }

    if (!ConnectCamera())
        return false;

    m_pSmartTee = Make("tee");
    if (!m_pSmartTee)
        prompts.ShowMessage("ERROR: CoCreateInstance");
    if (!AddNamed(m_pSmartTee.get(), "SmartTee")) {
        prompts.ShowMessage("SmartTee");
        return false;
    }
    if (!LinkChain({m_pEffectFilter.get(), m_pSmartTee.get()})) {
        prompts.ShowMessage("RenderStream E02");
        return false;
    }
    // The file's branch takes the tee's first output, the display the next.
    if (!LinkRecordingBranch()) {
        prompts.ShowMessage("RenderStream E03");
        return false;
    }
    if (!LinkDisplayBranch()) {
        prompts.ShowMessage("RenderStream E04");
        return false;
    }
    if (m_pAudioFilter && !LinkAudioBranch()) {
        prompts.ShowMessage("RenderStream E05");
        return false;
    }
    if (GST_OBJECT_PARENT(m_pVideoRenderer.get()) != GST_OBJECT(m_pipeline.get())) {
        prompts.ShowMessage("スタティックコントロール内にキャプチャ画像を表示");
        return false;
    }
    return true;
}

// The multiplexer and the file writer for a new file named after the
// current minute; a failure leaves both members empty, and the branch into
// the file then fails to link.
void CCaptureGraph::PrepareRecordingFile()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    m_recordingPath = NewRecordingPath(m_host.VideoFolder(), local);
    m_run->started = local;
    m_run->fileWatch = ::open(m_recordingPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_run->fileWatch >= 0)
        m_run->fileWatchSource = g_timeout_add(kFileWatchMs, &CCaptureGraph::FileWatchCallback, this);

    m_pAviMux = Make("avimux");
    m_pFileSink = Make("filesink");
    if (m_pFileSink)
        g_object_set(m_pFileSink.get(), "location", m_recordingPath.c_str(), nullptr);
    if (!AddNamed(m_pAviMux.get(), "AVI Mux") || !AddNamed(m_pFileSink.get(), "File Writer") ||
        !LinkChain({m_pAviMux.get(), m_pFileSink.get()})) {
        m_pAviMux.reset();
        m_pFileSink.reset();
        return;
    }
    GstRef<GstPad> fileSink = StaticPad(m_pFileSink.get(), "sink");
    gst_pad_add_probe(fileSink.get(), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, Runtime::NoteFileEnd, m_run.get(), nullptr);
}

bool CCaptureGraph::SetupCameraFormat(bool reuseFormat)
{
    m_run->offeredCaps.reset();
    m_run->cameraCaps.reset();
    m_run->formatAsked = false;
    GstRef<GstPad> source = StaticPad(m_pCameraFilter.get(), "src");
    if (!source)
        return false;

    // A camera states its formats once it is open. One that cannot open
    // states none and keeps its own format; the start then reports why.
    if (gst_element_set_state(m_pCameraFilter.get(), GST_STATE_READY) != GST_STATE_CHANGE_FAILURE)
        m_run->offeredCaps.reset(gst_pad_query_caps(source.get(), nullptr));
    const GstCaps* offered = m_run->offeredCaps.get();

    CapsRef saved = MatchSavedFormat(offered, m_settings.width, m_settings.height, m_settings.frameTime);
    if (reuseFormat) {
        // The capture size keeps the saved values also when the camera
        // does not offer them and runs in its own format.
        m_run->cameraCaps = std::move(saved);
        return true;
    }

    // Asked: the page opens on the saved format when the camera offers it
    // at a known rate, else on the camera's own format nearest to it.
    CapsRef chosen = saved && m_settings.frameTime > 0
                         ? std::move(saved)
                         : PreferredFormat(offered, m_settings.width, m_settings.height, m_settings.frameTime);
    const std::vector<CameraFormatChoice> formats = ListCameraFormats(offered);
    if (!formats.empty()) {
        int picked = -1;
        // Cancel keeps the format the page opened with.
        if (m_host.Prompts().ChooseCameraFormat(formats, FindCameraFormat(formats, chosen.get()), picked) &&
            picked >= 0 && picked < static_cast<int>(formats.size()))
            chosen = CapsForChoice(formats[static_cast<std::size_t>(picked)]);
    }
    int width = 0, height = 0;
    std::int64_t frameTime = m_settings.frameTime;
    if (ReadFormat(chosen.get(), width, height, frameTime) && frameTime > 0) {
        m_settings.width = width;
        m_settings.height = height;
        m_settings.frameTime = frameTime;
        m_run->cameraCaps = std::move(chosen);
    }
    // A format without a frame rate fails; the saved values stay as they
    // were, so that setup.ini never receives a rate of 0.
    if (frameTime <= 0) {
        m_host.Prompts().ShowMessage("設定に失敗しました。");
        return false;
    }
    m_run->formatAsked = true;
    m_settings.windowWidth = m_settings.width;
    m_settings.windowHeight = m_settings.height;
    m_host.SetClientSize(m_settings.width, m_settings.height);
    return true;
}

// camera -> format filter -> converter -> BGRx -> effect, or, when the
// camera's format is not raw video, through the decoder.
bool CCaptureGraph::ConnectCamera()
{
    IPrompts& prompts = m_host.Prompts();

    m_run->cameraFormat = Make("capsfilter");
    if (m_run->cameraFormat && m_run->cameraCaps)
        g_object_set(m_run->cameraFormat.get(), "caps", m_run->cameraCaps.get(), nullptr);
    if (!AddNamed(m_run->cameraFormat.get(), "Camera Format") ||
        !LinkChain({m_pCameraFilter.get(), m_run->cameraFormat.get()})) {
        prompts.ShowMessage("RenderStream E01A");
        return false;
    }
    GstRef<GstPad> formatted = StaticPad(m_run->cameraFormat.get(), "src");
    AddCounter(formatted.get(), m_run->cameraFrames);

    if (LinkConverterToEffect() && LinkChain({m_run->cameraFormat.get(), m_pColorConverter.get()})) {
        // The decoder stays in the pipeline unconnected. It is held in NULL
        // state: an idle decodebin would keep the pipeline from PLAYING,
        // waiting for data that never comes.
        if (m_pAviDecompressor)
            gst_element_set_locked_state(m_pAviDecompressor.get(), TRUE);
        return true;
    }

    if (!LinkChain({m_run->cameraFormat.get(), m_pAviDecompressor.get()})) {
        prompts.ShowMessage("RenderStream E01A");
        return false;
    }
    bool decoded = false;
    if (LinkConverterToEffect()) {
        if (GstRef<GstPad> out = StaticPad(m_pAviDecompressor.get(), "src"))
            decoded = LinkChain({m_pAviDecompressor.get(), m_pColorConverter.get()});
        else
            decoded = g_signal_connect_object(m_pAviDecompressor.get(), "pad-added", G_CALLBACK(OnDecodedPad),
                                              m_pColorConverter.get(), GConnectFlags(0)) != 0;
    }
    if (!decoded) {
        prompts.ShowMessage("RenderStream E01B");
        return false;
    }
    return true;
}

bool CCaptureGraph::LinkConverterToEffect()
{
    GstRef<GstPad> converted = StaticPad(m_pColorConverter.get(), "src");
    if (converted && gst_pad_is_linked(converted.get()))
        return true;
    if (!m_run->effectFormat)
        return false;
    CapsRef bgrx(gst_caps_from_string("video/x-raw,format=BGRx"));
    g_object_set(m_run->effectFormat.get(), "caps", bgrx.get(), nullptr);
    // The converter keeps every frame: dropping is for the display alone.
    if (m_pColorConverter)
        g_object_set(m_pColorConverter.get(), "qos", FALSE, nullptr);
    if (m_pEffectFilter)
        g_object_set(m_pEffectFilter.get(), "qos", FALSE, nullptr);
    return LinkChain({m_pColorConverter.get(), m_run->effectFormat.get(), m_pEffectFilter.get()});
}

bool CCaptureGraph::LinkDisplayBranch()
{
    if (!m_pSmartTee || !m_pVideoRenderer || GST_OBJECT_PARENT(m_pVideoRenderer.get()) != GST_OBJECT(m_pipeline.get()))
        return false;
    // A short queue that drops its oldest frame when the display is behind.
    m_run->displayQueue = Make("queue");
    if (!m_run->displayQueue)
        return false;
    g_object_set(m_run->displayQueue.get(), "leaky", 2, "max-size-buffers", 2u, "max-size-bytes", 0u,
                 "max-size-time", guint64(0), nullptr);
    if (!AddNamed(m_run->displayQueue.get(), "Display Queue"))
        return false;
    GstRef<GstPad> teeOut(gst_element_request_pad_simple(m_pSmartTee.get(), "src_%u"));
    GstRef<GstPad> queueIn = StaticPad(m_run->displayQueue.get(), "sink");
    if (!LinkPads(teeOut.get(), queueIn.get()) || !LinkChain({m_run->displayQueue.get(), m_pVideoRenderer.get()}))
        return false;
    gst_pad_add_probe(queueIn.get(), GST_PAD_PROBE_TYPE_EVENT_UPSTREAM, DropQos, nullptr, nullptr);
    return true;
}

bool CCaptureGraph::LinkRecordingBranch()
{
    if (!m_pSmartTee || !m_pAviMux)
        return false;
    // Never leaky: a full queue holds the camera back rather than lose a frame.
    m_run->recordingQueue = Make("queue");
    if (!m_run->recordingQueue)
        return false;
    g_object_set(m_run->recordingQueue.get(), "max-size-buffers", 0u, "max-size-bytes", kRecordingQueueBytes,
                 "max-size-time", kRecordingQueueTime, nullptr);
    if (!AddNamed(m_run->recordingQueue.get(), "Recording Queue"))
        return false;
    GstRef<GstPad> teeOut(gst_element_request_pad_simple(m_pSmartTee.get(), "src_%u"));
    GstRef<GstPad> queueIn = StaticPad(m_run->recordingQueue.get(), "sink");
    GstRef<GstPad> queueOut = StaticPad(m_run->recordingQueue.get(), "src");
    GstRef<GstPad> muxIn(gst_element_request_pad_simple(m_pAviMux.get(), "video_%u"));
    if (!LinkPads(teeOut.get(), queueIn.get()) || !LinkPads(queueOut.get(), muxIn.get()))
        return false;
    GstRef<GstPad> teeIn = StaticPad(m_pSmartTee.get(), "sink");
    AddCounter(teeIn.get(), m_run->framesPushed);
    AddCounter(muxIn.get(), m_run->framesWritten);
    m_run->recordingLinked = true;
    return true;
}

bool CCaptureGraph::LinkAudioBranch()
{
    if (!m_pAviMux || GST_OBJECT_PARENT(m_pAudioFilter.get()) != GST_OBJECT(m_pipeline.get()))
        return false;
    m_run->audioQueue = Make("queue");
    m_run->audioConverter = Make("audioconvert");
    if (!m_run->audioQueue || !m_run->audioConverter)
        return false;
    g_object_set(m_run->audioQueue.get(), "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time",
                 kRecordingQueueTime, nullptr);
    if (!AddNamed(m_run->audioQueue.get(), "Audio Queue") || !AddNamed(m_run->audioConverter.get(), "Audio Converter"))
        return false;
    GstRef<GstPad> converted = StaticPad(m_run->audioConverter.get(), "src");
    GstRef<GstPad> muxIn(gst_element_request_pad_simple(m_pAviMux.get(), "audio_%u"));
    if (!LinkChain({m_pAudioFilter.get(), m_run->audioQueue.get(), m_run->audioConverter.get()}) ||
        !LinkPads(converted.get(), muxIn.get()))
        return false;
    m_run->audioLinked = true;
    return true;
}

bool CCaptureGraph::AddNamed(GstElement* element, const char* name)
{
    if (!element || !m_pipeline)
        return false;
    if (!GST_OBJECT_PARENT(element))
        gst_object_set_name(GST_OBJECT(element), name);
    return gst_bin_add(GST_BIN(m_pipeline.get()), element);
}

// The effect's control: the high-score property and the reset-faces
// signal. The main window's high score goes to the element at once.
bool CCaptureGraph::TakeControl()
{
    m_run->hasControl = false;
    if (!m_pEffectFilter)
        return false;
    GParamSpec* spec = g_object_class_find_property(G_OBJECT_GET_CLASS(m_pEffectFilter.get()), "high-score");
    if (!spec || spec->value_type != G_TYPE_UINT64 || (spec->flags & G_PARAM_READWRITE) != G_PARAM_READWRITE ||
        g_signal_lookup("reset-faces", G_OBJECT_TYPE(m_pEffectFilter.get())) == 0)
        return false;
    m_run->hasControl = true;
    g_object_set(m_pEffectFilter.get(), "high-score", static_cast<guint64>(std::max<std::int64_t>(m_highScore, 0)),
                 nullptr);
    return true;
}

// Up to three attempts to reach PLAYING. Errors of a failed attempt are
// dropped when another attempt follows; after the last one they stay on the
// bus, and the bus watch reports them.
bool CCaptureGraph::StartPipeline()
{
    GstElement* pipeline = m_pipeline.get();
    bool running = false;
    for (int attempt = 0; attempt < 3 && !running; ++attempt) {
        DropMessages(m_run->bus.get());
        if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            gst_element_set_state(pipeline, GST_STATE_NULL);
            std::this_thread::sleep_for(100ms);
            continue;
        }
        GstState state = GST_STATE_VOID_PENDING;
        const GstStateChangeReturn result = gst_element_get_state(pipeline, &state, nullptr, kStartTimeout);
        running = (result == GST_STATE_CHANGE_SUCCESS || result == GST_STATE_CHANGE_NO_PREROLL) &&
                  state == GST_STATE_PLAYING;
    }
    m_run->watching = gst_bus_add_watch(m_run->bus.get(), &CCaptureGraph::BusCallback, this) != 0;
    return running;
}

void CCaptureGraph::ReleaseCaptureGraph()
{
    ReleaseGraph(false);
}

void CCaptureGraph::ReleaseGraph(bool fileFailed)
{
    if (m_run->errorSource) {
        g_source_remove(m_run->errorSource);
        m_run->errorSource = 0;
    }
    if (m_run->fileWatchSource) {
        g_source_remove(m_run->fileWatchSource);
        m_run->fileWatchSource = 0;
    }
    bool unfinished = false;
    if (m_pipeline) {
        if (m_run->recordingLinked) {
            const bool completed = FinishRecording(fileFailed);
            m_run->last = RecordingFrames();
            m_run->last.completed = completed;
            unfinished = !completed;
        }
        if (m_run->watching)
            gst_bus_remove_watch(m_run->bus.get());
        m_run->watching = false;
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
    }
    // The camera was opened on its own to read its formats; it may be
    // outside the pipeline or the pipeline may never have left NULL.
    if (m_pCameraFilter)
        gst_element_set_state(m_pCameraFilter.get(), GST_STATE_NULL);

    m_pVideoRenderer.reset();
    m_pAudioFilter.reset();
    m_pAviMux.reset();
    m_pFileSink.reset();
    m_pSmartTee.reset();
    m_pEffectFilter.reset();
    m_pColorConverter.reset();
    m_pAviDecompressor.reset();
    m_pCameraFilter.reset();
    m_run->cameraFormat.reset();
    m_run->effectFormat.reset();
    m_run->displayQueue.reset();
    m_run->recordingQueue.reset();
    m_run->audioQueue.reset();
    m_run->audioConverter.reset();
    m_run->offeredCaps.reset();
    m_run->cameraCaps.reset();
    m_run->bus.reset();
    m_pipeline.reset();

    m_run->hasControl = false;
    m_run->recordingLinked = false;
    m_run->audioLinked = false;
    m_run->errorText.clear();
    m_run->errorInFile = false;
    m_run->errorInAudio = false;
    // The file writer has closed the file: a removed one is put back (also
    // when the recording ended before the watch saw it go), a cut-off one
    // mended.
    struct stat info {};
    if (m_run->fileWatch >= 0 && ::fstat(m_run->fileWatch, &info) == 0 && info.st_nlink == 0)
        m_run->fileRemoved = true;
    if (m_run->fileRemoved)
        RestoreRemovedFile(unfinished);
    else if (unfinished && !m_recordingPath.empty())
        MendRecording(m_recordingPath);
    m_run->fileRemoved = false;
    if (m_run->fileWatch >= 0)
        ::close(m_run->fileWatch);
    m_run->fileWatch = -1;
    // A recording build that never ran leaves the empty file its name was
    // reserved with.
    std::error_code ignored;
    if (!m_recordingPath.empty() && fs::is_regular_file(m_recordingPath, ignored) &&
        fs::file_size(m_recordingPath, ignored) == 0)
        fs::remove(m_recordingPath, ignored);
    m_recordingPath.clear();
}

// Ends the streams where they enter the pipeline, so that every frame in
// flight reaches the file and the multiplexer writes its index, then waits
// (bounded) for the end to reach the file sink and stops the pipeline.
// True when the file was completed.
bool CCaptureGraph::FinishRecording(bool fileFailed)
{
    GstState state = GST_STATE_NULL;
    gst_element_get_state(m_pipeline.get(), &state, nullptr, 0);
    if (state < GST_STATE_PAUSED)
        return false;
    if (fileFailed) {
        gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
        return false;
    }

    // The end of stream is sent from a thread of its own: a sink pad takes
    // its stream lock, which a streaming thread may hold while it waits for
    // room downstream. Stopping the pipeline releases such a wait.
    std::vector<GstRef<GstPad>> entries;
    entries.push_back(StaticPad(m_run->cameraFormat.get(), "sink"));
    if (m_run->audioLinked)
        entries.push_back(StaticPad(m_run->audioQueue.get(), "sink"));
    std::thread sender([pads = std::move(entries)] {
        for (const GstRef<GstPad>& pad : pads) {
            if (pad)
                gst_pad_send_event(pad.get(), gst_event_new_eos());
        }
    });
    bool ended = false;
    {
        std::unique_lock lock(m_run->endLock);
        ended = m_run->endReached.wait_for(lock, kFinishTimeout, [this] { return m_run->fileEnded; });
    }
    gst_element_set_state(m_pipeline.get(), GST_STATE_NULL);
    sender.join();
    return ended;
}

gboolean CCaptureGraph::BusCallback(GstBus*, GstMessage* message, gpointer self)
{
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR)
        static_cast<CCaptureGraph*>(self)->OnPipelineError(message);
    return G_SOURCE_CONTINUE;
}

// The report is deferred to the main loop: the pipeline cannot be torn down
// from inside its own bus watch, and one report covers the burst of errors
// a failing element posts.
void CCaptureGraph::OnPipelineError(GstMessage* message)
{
    if (m_run->errorSource)
        return;
    GError* raw = nullptr;
    gst_message_parse_error(message, &raw, nullptr);
    ErrorRef error(raw);
    m_run->errorText = error && error->message ? error->message : "";
    GstObject* source = GST_MESSAGE_SRC(message);
    m_run->errorInFile = m_run->recordingLinked &&
                         (IsWithin(source, m_pAviMux.get()) || IsWithin(source, m_pFileSink.get()) ||
                          IsWithin(source, m_run->recordingQueue.get()));
    m_run->errorInAudio = m_run->audioLinked &&
                          (IsWithin(source, m_pAudioFilter.get()) || IsWithin(source, m_run->audioQueue.get()) ||
                           IsWithin(source, m_run->audioConverter.get()));
    m_run->errorSource = g_idle_add_full(G_PRIORITY_DEFAULT, &CCaptureGraph::ErrorCallback, this, nullptr);
}

gboolean CCaptureGraph::ErrorCallback(gpointer self)
{
    static_cast<CCaptureGraph*>(self)->HandlePipelineError();
    return G_SOURCE_REMOVE;
}

// A camera, file or sound input that failed or went away: the recording
// is completed (or, when its file failed, mended up to its last frame), the
// pipeline released, the high score kept, and the user told. The window
// stays usable; the next command builds a new pipeline. The camera still
// works after a failure of the file or of the sound, so the window then
// leaves recording and shows the picture again.
void CCaptureGraph::HandlePipelineError()
{
    m_run->errorSource = 0;
    const bool fileFailed = m_run->errorInFile;
    const bool audioFailed = !fileFailed && m_run->errorInAudio;
    const bool recording = m_run->recordingLinked;
    std::string text = std::string(fileFailed ? kFileLost : audioFailed ? kAudioLost : kCameraLost);
    if (!m_run->errorText.empty())
        text += "\n" + m_run->errorText;
    if (m_pEffectFilter && m_run->hasControl)
        m_highScore = FetchHighScore();
    // A removed file is still open and writable: its end is written first.
    ReleaseGraph(fileFailed && !m_run->fileRemoved);
    m_host.Prompts().ShowMessage(text);
    if (recording && (fileFailed || audioFailed))
        m_host.RecordingEnded();
}

// The recording's file lost its last name (its folder or the file was
// removed): reported as a failed file, once.
gboolean CCaptureGraph::FileWatchCallback(gpointer self)
{
    auto* graph = static_cast<CCaptureGraph*>(self);
    Runtime& run = *graph->m_run;
    struct stat info {};
    if (run.errorSource || run.fileWatch < 0 || ::fstat(run.fileWatch, &info) != 0 || info.st_nlink > 0)
        return G_SOURCE_CONTINUE;
    run.fileWatchSource = 0;
    run.fileRemoved = true;
    run.errorInFile = true;
    run.errorText = graph->m_recordingPath + ": " + g_strerror(ENOENT);
    run.errorSource = g_idle_add_full(G_PRIORITY_DEFAULT, &CCaptureGraph::ErrorCallback, self, nullptr);
    return G_SOURCE_REMOVE;
}

// The finished recording went to a file without a name; it is copied back
// to its place, its folder made again, so that what was recorded is kept.
// A name taken meanwhile gets the next free number.
void CCaptureGraph::RestoreRemovedFile(bool unfinished)
{
    const fs::path path(m_recordingPath);
    std::error_code ignored;
    fs::create_directories(path.parent_path(), ignored);
    int out = ::open(m_recordingPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (out < 0 && errno == EEXIST) {
        m_recordingPath = NewRecordingPath(path.parent_path().string(), m_run->started);
        out = ::open(m_recordingPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    }
    if (out < 0)
        return;
    char buffer[1 << 16];
    ssize_t got = 0;
    bool copied = true;
    off_t at = 0;
    while ((got = ::pread(m_run->fileWatch, buffer, sizeof buffer, at)) > 0) {
        for (ssize_t put = 0; put < got;) {
            const ssize_t n = ::write(out, buffer + put, static_cast<std::size_t>(got - put));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                copied = false;
                break;
            }
            put += n;
        }
        if (!copied)
            break;
        at += got;
    }
    ::close(out);
    m_run->last.path = m_recordingPath;
    // A copy cut short by a full disk is mended like any cut-off recording.
    if (!copied || got < 0 || unfinished)
        MendRecording(m_recordingPath);
}

void CCaptureGraph::ReportCameraLost(const std::function<void()>& released)
{
    if (!m_pipeline)
        return;
    if (m_pEffectFilter && m_run->hasControl)
        m_highScore = FetchHighScore();
    ReleaseGraph(false);
    if (released)
        released();
    m_host.Prompts().ShowMessage(kCameraLost);
}

std::int64_t CCaptureGraph::FetchHighScore() const
{
    if (!m_pEffectFilter || !m_run->hasControl)
        return m_highScore;
    guint64 value = 0;
    g_object_get(m_pEffectFilter.get(), "high-score", &value, nullptr);
    constexpr auto kMax = static_cast<guint64>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::int64_t>(std::min(value, kMax));
}

void CCaptureGraph::ResetFaces()
{
    if (m_pEffectFilter && m_run->hasControl)
        g_signal_emit_by_name(m_pEffectFilter.get(), "reset-faces");
}

CCaptureGraph::RecordingStats CCaptureGraph::RecordingFrames() const
{
    RecordingStats stats;
    if (!m_run->recordingLinked)
        return stats;
    stats.path = m_recordingPath;
    stats.cameraFrames = m_run->cameraFrames.load();
    stats.framesPushed = m_run->framesPushed.load();
    stats.framesWritten = m_run->framesWritten.load();
    std::lock_guard lock(m_run->endLock);
    stats.completed = m_run->fileEnded;
    return stats;
}

const CCaptureGraph::RecordingStats& CCaptureGraph::LastRecording() const
{
    return m_run->last;
}

}  // namespace quell
