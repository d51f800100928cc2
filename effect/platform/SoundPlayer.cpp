// Sound playback through a playbin on a thread of its own.
#include "platform/SoundPlayer.h"

#include <filesystem>
#include <system_error>

namespace quell {

PlaybinSoundPlayer::PlaybinSoundPlayer(std::string audioSink) : m_audioSink(std::move(audioSink)) {}

PlaybinSoundPlayer::~PlaybinSoundPlayer()
{
    Close();
}

void PlaybinSoundPlayer::Open()
{
    std::lock_guard lock(m_mutex);
    if (m_open)
        return;
    m_quit = false;
    m_request.reset();
    m_endOfStream = m_error = false;
    m_open = true;
    m_thread = std::thread([this] { Run(); });
}

void PlaybinSoundPlayer::Close()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_open)
            return;
        m_quit = true;
        m_open = false;
    }
    m_wake.notify_one();
    m_thread.join();
}

void PlaybinSoundPlayer::Play(const std::string& path, bool loop)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_open)
            return;
        m_request = Request{path, loop};
    }
    m_wake.notify_one();
}

void PlaybinSoundPlayer::Stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_open)
            return;
        m_request = Request{};
    }
    m_wake.notify_one();
}

void PlaybinSoundPlayer::Run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_quit || m_request || m_endOfStream || m_error; });
        if (m_quit)
            break;
        if (m_request) {
            const Request request = std::move(*m_request);
            m_request.reset();
            lock.unlock();
            Start(request);
            lock.lock();
            continue;
        }
        const bool ended = m_endOfStream;
        const bool failed = m_error;
        m_endOfStream = m_error = false;
        lock.unlock();
        if (failed)
            Halt();
        else if (ended)
            OnEndOfStream();
        lock.lock();
    }
    lock.unlock();
    Halt();
    if (m_playbin) {
        GstBus* bus = gst_element_get_bus(m_playbin);
        gst_bus_set_sync_handler(bus, nullptr, nullptr, nullptr);
        gst_object_unref(bus);
        gst_object_unref(m_playbin);
        m_playbin = nullptr;
    }
    m_playbinFailed = false;
}

bool PlaybinSoundPlayer::EnsurePlaybin()
{
    if (m_playbin)
        return true;
    if (m_playbinFailed)
        return false;
    m_playbin = gst_element_factory_make("playbin", nullptr);
    if (!m_playbin) {
        m_playbinFailed = true;
        return false;
    }
    gst_object_ref_sink(m_playbin);
    if (!m_audioSink.empty()) {
        GError* error = nullptr;
        if (GstElement* sink = gst_parse_bin_from_description(m_audioSink.c_str(), TRUE, &error))
            g_object_set(m_playbin, "audio-sink", sink, nullptr);
        g_clear_error(&error);
    }
    // Sounds only: never open a video window for a file that carries video.
    if (GstElement* fake = gst_element_factory_make("fakesink", nullptr))
        g_object_set(m_playbin, "video-sink", fake, nullptr);
    GstBus* bus = gst_element_get_bus(m_playbin);
    gst_bus_set_sync_handler(bus, &PlaybinSoundPlayer::OnBusMessage, this, nullptr);
    gst_object_unref(bus);
    return true;
}

GstBusSyncReply PlaybinSoundPlayer::OnBusMessage(GstBus*, GstMessage* message, gpointer data)
{
    auto* self = static_cast<PlaybinSoundPlayer*>(data);
    const GstMessageType type = GST_MESSAGE_TYPE(message);
    if (type == GST_MESSAGE_EOS || type == GST_MESSAGE_ERROR) {
        {
            std::lock_guard lock(self->m_mutex);
            (type == GST_MESSAGE_EOS ? self->m_endOfStream : self->m_error) = true;
        }
        self->m_wake.notify_one();
    }
    // Nobody pops this bus: dropping every message keeps it from growing.
    gst_message_unref(message);
    return GST_BUS_DROP;
}

void PlaybinSoundPlayer::Halt()
{
    if (m_playbin)
        gst_element_set_state(m_playbin, GST_STATE_NULL);
    // Once the pipeline is down no stale end-of-stream or error may restart
    // or stop the next sound.
    std::lock_guard lock(m_mutex);
    m_endOfStream = m_error = false;
}

void PlaybinSoundPlayer::Start(const Request& request)
{
    Halt();
    m_looping = false;
    if (request.path.empty())
        return;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(request.path, ec))
        return;
    if (!EnsurePlaybin())
        return;
    gchar* uri = gst_filename_to_uri(request.path.c_str(), nullptr);
    if (!uri)
        return;
    g_object_set(m_playbin, "uri", uri, nullptr);
    g_free(uri);
    m_looping = request.loop;
    if (gst_element_set_state(m_playbin, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        Halt();
        return;
    }
    ++m_started;
}

void PlaybinSoundPlayer::OnEndOfStream()
{
    ++m_ended;
    if (m_looping && m_playbin &&
        gst_element_seek_simple(m_playbin, GST_FORMAT_TIME,
                                static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), 0)) {
        ++m_restarts;
        return;
    }
    Halt();
}

}  // namespace quell
