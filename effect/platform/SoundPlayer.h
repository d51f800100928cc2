// Sound output of the effect: fire-and-forget playback of short sound files.
#pragma once

#include "platform/ISoundPlayer.h"

#include <gst/gst.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace quell {

// Plays through a GStreamer playbin owned by a thread of its own, so that the
// caller (the streaming thread) only posts a request. The newest request wins.
// Looping restarts the sound by seeking to its start at end of stream. The
// thread and the playbin exist only between Open() and Close(); requests
// outside that time are ignored.
class PlaybinSoundPlayer final : public ISoundPlayer {
public:
    // `audioSink`: the audio sink as a gst-launch description (for example
    // "fakesink sync=true"); empty picks the system's default output.
    explicit PlaybinSoundPlayer(std::string audioSink = {});
    ~PlaybinSoundPlayer() override;

    PlaybinSoundPlayer(const PlaybinSoundPlayer&) = delete;
    PlaybinSoundPlayer& operator=(const PlaybinSoundPlayer&) = delete;

    void Play(const std::string& path, bool loop) override;
    void Stop() override;
    // Starts the player's thread; Close() silences it, ends the thread and
    // frees the playbin. Both may be repeated.
    void Open();
    void Close();

    // Counters for diagnostics and tests.
    uint64_t SoundsStarted() const { return m_started.load(); }
    uint64_t LoopRestarts() const { return m_restarts.load(); }
    uint64_t SoundsEnded() const { return m_ended.load(); }

private:
    struct Request {
        std::string path;  // empty: stop
        bool loop = false;
    };

    void Run();
    void Start(const Request& request);
    void OnEndOfStream();
    void Halt();
    bool EnsurePlaybin();
    static GstBusSyncReply OnBusMessage(GstBus* bus, GstMessage* message, gpointer self);

    const std::string m_audioSink;
    GstElement* m_playbin = nullptr;  // owned by the player thread
    bool m_playbinFailed = false;
    bool m_looping = false;

    std::mutex m_mutex;  // guards the fields below
    std::condition_variable m_wake;
    std::optional<Request> m_request;
    bool m_endOfStream = false;
    bool m_error = false;
    bool m_quit = false;
    bool m_open = false;

    std::atomic<uint64_t> m_started{0};
    std::atomic<uint64_t> m_restarts{0};
    std::atomic<uint64_t> m_ended{0};

    std::thread m_thread;  // runs Run() between Open() and Close()
};

}  // namespace quell
