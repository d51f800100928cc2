// A sound player that records what it was asked to play.
#pragma once

#include "platform/ISoundPlayer.h"

#include <mutex>
#include <string>
#include <vector>

namespace quell {

class RecordingSoundPlayer final : public ISoundPlayer {
public:
    struct Call {
        std::string path;  // empty for Stop()
        bool loop = false;
    };

    void Play(const std::string& path, bool loop) override
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back({path, loop});
    }
    void Stop() override
    {
        std::lock_guard lock(m_mutex);
        m_calls.push_back({});
    }
    std::vector<Call> Calls()
    {
        std::lock_guard lock(m_mutex);
        return m_calls;
    }
    void Clear()
    {
        std::lock_guard lock(m_mutex);
        m_calls.clear();
    }

private:
    std::mutex m_mutex;
    std::vector<Call> m_calls;
};

}  // namespace quell
