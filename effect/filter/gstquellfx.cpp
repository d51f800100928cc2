// The quellfx element: properties, action signal and the in-place transform.
#include "filter/gstquellfx.h"

#include "filter/TransEffectFilter.h"
#include "platform/SoundPlayer.h"
#include "platform/Warnings.h"

#include <gst/video/video.h>

#include <exception>
#include <memory>
#include <string>

enum {
    PROP_0,
    PROP_DATA_DIR,
    PROP_HIGH_SCORE,
    PROP_SCORE,
    PROP_SEED,
    PROP_SILENT,
    PROP_CLOCK,
};

enum {
    SIGNAL_RESET_FACES,
    LAST_SIGNAL,
};

#define DEFAULT_DATA_DIR "data"
#define DEFAULT_SEED 0
#define DEFAULT_SILENT FALSE
#define DEFAULT_CLOCK GST_QUELL_FX_CLOCK_WALL

GST_DEBUG_CATEGORY_STATIC(gst_quell_fx_debug);
#define GST_CAT_DEFAULT gst_quell_fx_debug

#define QUELL_FX_CAPS GST_VIDEO_CAPS_MAKE("BGRx")

// The values of the "clock" property; the same numbers as quell::ClockMode.
typedef enum {
    GST_QUELL_FX_CLOCK_WALL = static_cast<int>(quell::ClockMode::Wall),
    GST_QUELL_FX_CLOCK_STREAM = static_cast<int>(quell::ClockMode::Stream),
} GstQuellFxClock;

#define GST_TYPE_QUELL_FX_CLOCK (gst_quell_fx_clock_get_type())
static GType gst_quell_fx_clock_get_type()
{
    static gsize type = 0;
    static const GEnumValue values[] = {
        {GST_QUELL_FX_CLOCK_WALL, "Wall clock: the effect runs in real time", "wall"},
        {GST_QUELL_FX_CLOCK_STREAM, "Stream time: the buffers' running time; every render gives the same frames",
         "stream"},
        {0, nullptr, nullptr},
    };
    if (g_once_init_enter(&type))
        g_once_init_leave(&type, g_enum_register_static("GstQuellFxClock", values));
    return static_cast<GType>(type);
}

static GstStaticPadTemplate sink_template =
    GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS(QUELL_FX_CAPS));
static GstStaticPadTemplate src_template =
    GST_STATIC_PAD_TEMPLATE("src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS(QUELL_FX_CAPS));

// Posts the effect's warnings on the element's bus (from any thread).
class ElementWarnings final : public quell::IWarningSink {
public:
    explicit ElementWarnings(GstElement* element) : m_element(element) {}
    void Warn(quell::Warning what, const std::string& file, const std::string& detail) override;

private:
    GstElement* m_element;  // the element owns this object
};

// Posts the face events as "quellfx" element messages (from any thread; the
// filter calls it with none of its locks held).
class ElementFaceEvents final : public quell::IFaceEventSink {
public:
    explicit ElementFaceEvents(GstElement* element) : m_element(element) {}
    void OnFaceEvent(const quell::FaceEvent& event) override;

private:
    GstElement* m_element;  // the element owns this object
};

// C++ state of one element. The sound player and the sinks are declared
// first so that they outlive the filter, which borrows them.
struct GstQuellFxState {
    std::unique_ptr<quell::PlaybinSoundPlayer> ownSound;
    std::unique_ptr<ElementWarnings> warnings;
    std::unique_ptr<ElementFaceEvents> events;
    std::unique_ptr<quell::CTransEffectFilter> filter;
    bool warnedFrameFailure = false;
};

struct _GstQuellFx {
    GstVideoFilter parent;
    GstQuellFxState* state;
};

static guint gst_quell_fx_signals[LAST_SIGNAL] = {0};

G_DEFINE_TYPE(GstQuellFx, gst_quell_fx, GST_TYPE_VIDEO_FILTER);
GST_ELEMENT_REGISTER_DEFINE(quellfx, "quellfx", GST_RANK_NONE, GST_TYPE_QUELL_FX);

static void gst_quell_fx_set_property(GObject* object, guint prop_id, const GValue* value, GParamSpec* pspec);
static void gst_quell_fx_get_property(GObject* object, guint prop_id, GValue* value, GParamSpec* pspec);
static void gst_quell_fx_finalize(GObject* object);
static GstStateChangeReturn gst_quell_fx_change_state(GstElement* element, GstStateChange transition);
static gboolean gst_quell_fx_start(GstBaseTransform* trans);
static gboolean gst_quell_fx_stop(GstBaseTransform* trans);
static gboolean gst_quell_fx_set_info(GstVideoFilter* filter, GstCaps* incaps, GstVideoInfo* in_info,
                                      GstCaps* outcaps, GstVideoInfo* out_info);
static GstFlowReturn gst_quell_fx_transform_frame_ip(GstVideoFilter* filter, GstVideoFrame* frame);
static void gst_quell_fx_reset_faces(GstQuellFx* self);

static void gst_quell_fx_class_init(GstQuellFxClass* klass)
{
    GObjectClass* gobject_class = G_OBJECT_CLASS(klass);
    GstElementClass* element_class = GST_ELEMENT_CLASS(klass);
    GstBaseTransformClass* trans_class = GST_BASE_TRANSFORM_CLASS(klass);
    GstVideoFilterClass* vfilter_class = GST_VIDEO_FILTER_CLASS(klass);

    GST_DEBUG_CATEGORY_INIT(gst_quell_fx_debug, "quellfx", 0, "Quellvisor power meter effect");

    gobject_class->set_property = gst_quell_fx_set_property;
    gobject_class->get_property = gst_quell_fx_get_property;
    gobject_class->finalize = gst_quell_fx_finalize;

    g_object_class_install_property(
        gobject_class, PROP_DATA_DIR,
        g_param_spec_string("data-dir", "Data folder",
                            "Folder of the cascade and sound files, relative to the current directory unless "
                            "absolute; files missing there are taken from the data folder installed with the plugin",
                            DEFAULT_DATA_DIR,
                            static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                     GST_PARAM_MUTABLE_PLAYING)));
    g_object_class_install_property(
        gobject_class, PROP_HIGH_SCORE,
        g_param_spec_uint64("high-score", "High score", "Highest power ever shown; the application keeps it across runs",
                            0, G_MAXUINT64, 0,
                            static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                     GST_PARAM_MUTABLE_PLAYING)));
    g_object_class_install_property(
        gobject_class, PROP_SCORE,
        g_param_spec_uint64("score", "Score", "Highest power shown since the element was created", 0, G_MAXUINT64, 0,
                            static_cast<GParamFlags>(G_PARAM_READABLE | G_PARAM_STATIC_STRINGS)));

    g_object_class_install_property(
        gobject_class, PROP_SEED,
        g_param_spec_uint("seed", "Seed",
                          "Seed of the power and profile rolls: 0 seeds each new face from the calendar time; any other "
                          "value gives every face taken up from now on the same roll, run after run",
                          0, G_MAXUINT, DEFAULT_SEED,
                          static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                   GST_PARAM_MUTABLE_PLAYING)));
    g_object_class_install_property(
        gobject_class, PROP_SILENT,
        g_param_spec_boolean("silent", "Silent", "Play no sounds; turning it on stops the sound that plays",
                             DEFAULT_SILENT,
                             static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS |
                                                      GST_PARAM_MUTABLE_PLAYING)));
    g_object_class_install_property(
        gobject_class, PROP_CLOCK,
        g_param_spec_enum(
            "clock", "Clock",
            "Clock of the animation, the typed profile, the score line's time and the detection rhythm: wall, the "
            "real time; stream, the running time of the buffers (a buffer without a timestamp follows the previous "
            "one after that one's duration, from the buffer or the frame rate), with every detection pass waited "
            "for, so that the same input gives the same frames however fast it is rendered. Sounds still play in "
            "real time. Taken up when the element starts",
            GST_TYPE_QUELL_FX_CLOCK, DEFAULT_CLOCK,
            static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_READY)));
    gst_type_mark_as_plugin_api(GST_TYPE_QUELL_FX_CLOCK, static_cast<GstPluginAPIFlags>(0));

    // GstQuellFx::reset-faces: drops every followed face, with the lost sound.
    gst_quell_fx_signals[SIGNAL_RESET_FACES] = g_signal_new_class_handler(
        "reset-faces", G_TYPE_FROM_CLASS(klass), static_cast<GSignalFlags>(G_SIGNAL_RUN_LAST | G_SIGNAL_ACTION),
        G_CALLBACK(gst_quell_fx_reset_faces), nullptr, nullptr, nullptr, G_TYPE_NONE, 0);

    gst_element_class_set_static_metadata(
        element_class, "Quellvisor power meter", "Filter/Effect/Video",
        "Green monochrome power meter display that measures the faces it finds. Posts element messages named "
        "\"quellfx\" whose string field \"event\" is \"face-found\" (a face is taken up; x, y, width, height: "
        "its rectangle in frame pixels (int); power (guint64); class (int, 0..7); name, origin (string); age (gint64); "
        "height-cm, weight-kg (int)), \"power-reached\" (the count-up has arrived; power, class) or \"face-lost\" "
        "(the face was dropped, also by reset-faces or on stop). With clock=stream and a fixed seed the same input "
        "renders to the same frames, at any speed",
        "Quellvisor developers");
    gst_element_class_add_static_pad_template(element_class, &sink_template);
    gst_element_class_add_static_pad_template(element_class, &src_template);

    element_class->change_state = GST_DEBUG_FUNCPTR(gst_quell_fx_change_state);
    trans_class->start = GST_DEBUG_FUNCPTR(gst_quell_fx_start);
    trans_class->stop = GST_DEBUG_FUNCPTR(gst_quell_fx_stop);
    vfilter_class->set_info = GST_DEBUG_FUNCPTR(gst_quell_fx_set_info);
    vfilter_class->transform_frame_ip = GST_DEBUG_FUNCPTR(gst_quell_fx_transform_frame_ip);
}

void ElementWarnings::Warn(quell::Warning what, const std::string& file, const std::string& detail)
{
    switch (what) {
    case quell::Warning::MissingDataFile:
        GST_ELEMENT_WARNING(m_element, RESOURCE, NOT_FOUND, ("Data file \"%s\" was not found.", file.c_str()),
                            ("%s", detail.c_str()));
        break;
    case quell::Warning::UnreadableDataFile:
        GST_ELEMENT_WARNING(m_element, RESOURCE, READ, ("Data file \"%s\" cannot be used.", file.c_str()),
                            ("%s", detail.c_str()));
        break;
    case quell::Warning::DetectionOff:
        GST_ELEMENT_WARNING(m_element, RESOURCE, NOT_FOUND, ("Face detection is off: no face cascade could be loaded."),
                            ("%s", detail.c_str()));
        break;
    }
}

void ElementFaceEvents::OnFaceEvent(const quell::FaceEvent& event)
{
    GstStructure* s = nullptr;
    switch (event.kind) {
    case quell::FaceEvent::Kind::Found:
        s = gst_structure_new("quellfx", "event", G_TYPE_STRING, "face-found", "x", G_TYPE_INT, event.rect.x, "y",
                              G_TYPE_INT, event.rect.y, "width", G_TYPE_INT, event.rect.width, "height", G_TYPE_INT,
                              event.rect.height, "power", G_TYPE_UINT64, static_cast<guint64>(event.power), "class",
                              G_TYPE_INT, event.powerClass, "name", G_TYPE_STRING, event.name.c_str(), "age",
                              G_TYPE_INT64, static_cast<gint64>(event.age), "origin", G_TYPE_STRING,
                              event.origin.c_str(), "height-cm", G_TYPE_INT, event.height, "weight-kg", G_TYPE_INT,
                              event.weight, nullptr);
        break;
    case quell::FaceEvent::Kind::PowerReached:
        s = gst_structure_new("quellfx", "event", G_TYPE_STRING, "power-reached", "power", G_TYPE_UINT64,
                              static_cast<guint64>(event.power), "class", G_TYPE_INT, event.powerClass, nullptr);
        break;
    case quell::FaceEvent::Kind::Lost:
        s = gst_structure_new("quellfx", "event", G_TYPE_STRING, "face-lost", nullptr);
        break;
    }
    GST_DEBUG_OBJECT(m_element, "posting %" GST_PTR_FORMAT, s);
    gst_element_post_message(m_element, gst_message_new_element(GST_OBJECT(m_element), s));
}

static std::unique_ptr<quell::CTransEffectFilter> MakeFilter(GstQuellFxState& state, quell::IClock* clock,
                                                             quell::ISoundPlayer* sound,
                                                             uint32_t (*calendarSeconds)() = nullptr)
{
    quell::FilterPlatform platform;
    platform.clock = clock;
    platform.sound = sound;
    platform.calendarSeconds = calendarSeconds;
    platform.warnings = state.warnings.get();
    platform.events = state.events.get();
    return std::make_unique<quell::CTransEffectFilter>(platform);
}

static void gst_quell_fx_init(GstQuellFx* self)
{
    // Nothing here starts a thread or opens a file: that waits for start().
    self->state = new GstQuellFxState;
    self->state->ownSound = std::make_unique<quell::PlaybinSoundPlayer>();
    self->state->warnings = std::make_unique<ElementWarnings>(GST_ELEMENT(self));
    self->state->events = std::make_unique<ElementFaceEvents>(GST_ELEMENT(self));
    self->state->filter = MakeFilter(*self->state, nullptr, self->state->ownSound.get());
    // Frames are changed in place and leave with the caps they came with.
    gst_base_transform_set_in_place(GST_BASE_TRANSFORM(self), TRUE);
}

static void gst_quell_fx_set_property(GObject* object, guint prop_id, const GValue* value, GParamSpec* pspec)
{
    GstQuellFx* self = GST_QUELL_FX(object);
    quell::CTransEffectFilter& filter = *self->state->filter;
    switch (prop_id) {
    case PROP_DATA_DIR: {
        const gchar* dir = g_value_get_string(value);
        filter.SetDataDir(dir ? dir : DEFAULT_DATA_DIR);
        break;
    }
    case PROP_HIGH_SCORE:
        filter.SetHighScore(g_value_get_uint64(value));
        break;
    case PROP_SEED:
        filter.SetSeed(g_value_get_uint(value));
        break;
    case PROP_SILENT:
        filter.SetSilent(g_value_get_boolean(value));
        break;
    case PROP_CLOCK:
        filter.SetClockMode(static_cast<quell::ClockMode>(g_value_get_enum(value)));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
}

static void gst_quell_fx_get_property(GObject* object, guint prop_id, GValue* value, GParamSpec* pspec)
{
    GstQuellFx* self = GST_QUELL_FX(object);
    quell::CTransEffectFilter& filter = *self->state->filter;
    switch (prop_id) {
    case PROP_DATA_DIR:
        g_value_set_string(value, filter.GetDataDir().c_str());
        break;
    case PROP_HIGH_SCORE:
        g_value_set_uint64(value, filter.GetHighScore());
        break;
    case PROP_SCORE:
        g_value_set_uint64(value, filter.GetScore());
        break;
    case PROP_SEED:
        g_value_set_uint(value, filter.GetSeed());
        break;
    case PROP_SILENT:
        g_value_set_boolean(value, filter.Silent());
        break;
    case PROP_CLOCK:
        g_value_set_enum(value, static_cast<int>(filter.GetClockMode()));
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, prop_id, pspec);
        break;
    }
}

static void gst_quell_fx_reset_faces(GstQuellFx* self)
{
    GST_DEBUG_OBJECT(self, "reset-faces");
    self->state->filter->ResetFaces();
}

static GstStateChangeReturn gst_quell_fx_change_state(GstElement* element, GstStateChange transition)
{
    GstQuellFx* self = GST_QUELL_FX(element);
    // Leaving PLAYING silences the effect: a counting loop must not go on
    // over a paused or stopped picture.
    if (transition == GST_STATE_CHANGE_PLAYING_TO_PAUSED)
        self->state->filter->SilenceSounds();
    return GST_ELEMENT_CLASS(gst_quell_fx_parent_class)->change_state(element, transition);
}

static gboolean gst_quell_fx_start(GstBaseTransform* trans)
{
    GstQuellFx* self = GST_QUELL_FX(trans);
    GST_DEBUG_OBJECT(self, "start");
    // Following the stream, every frame must pass the frame step: frames
    // dropped for lateness would change the frames after them.
    gst_base_transform_set_qos_enabled(trans, self->state->filter->GetClockMode() != quell::ClockMode::Stream);
    try {
        self->state->ownSound->Open();
        self->state->filter->Start();
    } catch (const std::exception& e) {
        GST_ELEMENT_ERROR(self, LIBRARY, INIT, ("The effect could not start."), ("%s", e.what()));
        self->state->filter->Stop();
        self->state->ownSound->Close();
        return FALSE;
    }
    self->state->warnedFrameFailure = false;
    return TRUE;
}

static gboolean gst_quell_fx_stop(GstBaseTransform* trans)
{
    GstQuellFx* self = GST_QUELL_FX(trans);
    GST_DEBUG_OBJECT(self, "stop");
    self->state->filter->Stop();
    self->state->ownSound->Close();
    return TRUE;
}

static gboolean gst_quell_fx_set_info(GstVideoFilter* filter, GstCaps*, GstVideoInfo* in_info, GstCaps*,
                                      GstVideoInfo*)
{
    GST_DEBUG_OBJECT(filter, "frames of %dx%d", GST_VIDEO_INFO_WIDTH(in_info), GST_VIDEO_INFO_HEIGHT(in_info));
    return GST_VIDEO_INFO_FORMAT(in_info) == GST_VIDEO_FORMAT_BGRx;
}

// Where `buffer` lies in the stream: its running time in the current
// segment, and its duration from the buffer or, without one, the frame rate.
static quell::FrameTime FrameTimeOf(GstVideoFilter* vfilter, GstBuffer* buffer)
{
    quell::FrameTime time;
    const GstSegment& segment = GST_BASE_TRANSFORM(vfilter)->segment;
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    if (GST_CLOCK_TIME_IS_VALID(pts) && segment.format == GST_FORMAT_TIME) {
        const guint64 running = gst_segment_to_running_time(&segment, GST_FORMAT_TIME, pts);
        if (GST_CLOCK_TIME_IS_VALID(running))
            time.runningNs = running;
    }
    const GstVideoInfo& info = vfilter->in_info;
    if (GST_BUFFER_DURATION_IS_VALID(buffer))
        time.durationNs = GST_BUFFER_DURATION(buffer);
    else if (GST_VIDEO_INFO_FPS_N(&info) > 0 && GST_VIDEO_INFO_FPS_D(&info) > 0)
        time.durationNs = gst_util_uint64_scale_int(GST_SECOND, GST_VIDEO_INFO_FPS_D(&info), GST_VIDEO_INFO_FPS_N(&info));
    return time;
}

static GstFlowReturn gst_quell_fx_transform_frame_ip(GstVideoFilter* vfilter, GstVideoFrame* frame)
{
    GstQuellFx* self = GST_QUELL_FX(vfilter);
    auto* pixels = static_cast<uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0));
    const int width = GST_VIDEO_FRAME_WIDTH(frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(frame);
    const gint stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0);
    try {
        if (stride <= 0)
            throw std::invalid_argument("bottom-up or empty rows are not supported");
        self->state->filter->Transform(pixels, width, height, static_cast<size_t>(stride),
                                       FrameTimeOf(vfilter, frame->buffer));
    } catch (const std::exception& e) {
        // A failed frame step leaves this frame as it came and the stream
        // goes on; the next frame tries again.
        if (!self->state->warnedFrameFailure) {
            self->state->warnedFrameFailure = true;
            GST_ELEMENT_WARNING(self, STREAM, FAILED, ("The effect could not process a frame."),
                                ("%dx%d, stride %d: %s", width, height, stride, e.what()));
        } else {
            GST_WARNING_OBJECT(self, "frame step failed: %s", e.what());
        }
    }
    return GST_FLOW_OK;
}

static void gst_quell_fx_finalize(GObject* object)
{
    GstQuellFx* self = GST_QUELL_FX(object);
    // The filter ends its worker before the sound player it borrows goes.
    self->state->filter.reset();
    self->state->ownSound.reset();
    delete self->state;
    self->state = nullptr;
    G_OBJECT_CLASS(gst_quell_fx_parent_class)->finalize(object);
}

namespace quell {

void SetElementPlatformForTesting(GstElement* element, IClock* clock, ISoundPlayer* sound,
                                  uint32_t (*calendarSeconds)())
{
    GstQuellFx* self = GST_QUELL_FX(element);
    GstQuellFxState& state = *self->state;
    const std::string dataDir = state.filter->GetDataDir();
    const uint64_t highScore = state.filter->GetHighScore();
    const uint32_t seed = state.filter->GetSeed();
    const bool silent = state.filter->Silent();
    const quell::ClockMode clockMode = state.filter->GetClockMode();
    const bool started = state.filter->Started();
    state.filter.reset();
    state.filter = MakeFilter(state, clock, sound ? sound : state.ownSound.get(), calendarSeconds);
    state.filter->SetDataDir(dataDir);
    state.filter->SetHighScore(highScore);
    state.filter->SetSeed(seed);
    state.filter->SetSilent(silent);
    state.filter->SetClockMode(clockMode);
    if (started)
        state.filter->Start();
}

}  // namespace quell
