// Detection worker loop.
#include "faces/DetectWorker.h"

#include "filter/TransEffectFilter.h"

namespace quell {

CDetectWorker::CDetectWorker(CTransEffectFilter& filter) : m_filter(filter) {}

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

bool CDetectWorker::RunPass()
{
    if (m_filter.m_detectPending.load() == 0)
        return false;
    m_filter.m_detectPending.store(0);
    return true;
}

}  // namespace quell
