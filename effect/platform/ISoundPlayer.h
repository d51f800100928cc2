// The sound output the effect plays through: fire-and-forget playback of
// short sound files.
#pragma once

#include <string>

namespace quell {

// Plays one sound at a time: a new sound stops the one playing. Calls never
// block and never fail; a missing file or a machine without audio output is
// simply silent.
class ISoundPlayer {
public:
    virtual ~ISoundPlayer() = default;
    // Plays `path` once, or over and over when `loop` is set.
    virtual void Play(const std::string& path, bool loop) = 0;
    // Stops whatever is playing.
    virtual void Stop() = 0;
};

}  // namespace quell
