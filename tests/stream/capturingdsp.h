#pragma once

#include "platform/mutexlocker.h"
#include "stream/dspabstract.h"

#include <QMutex>

#include <vector>

// Stands in for the sample output: records every push (pairs and aux byte) from whatever thread.
class CapturingDsp : public DspAbstract
{
public:
    struct Push
    {
        std::vector<IqPair> pairs;
        quint8 aux;
        bool hadWorkBuffer;
    };

    void startOutput(quint16, HostCallback) override {}
    bool stopOutput() override { return true; }
    bool pushSamples(const IqPair *pairs, void *work, int count, quint8 aux) override
    {
        platform::MutexLocker lock(&m_mutex);
        m_pushes.push_back({std::vector<IqPair>(pairs, pairs + count), aux, work != nullptr});
        return false;
    }

    std::vector<Push> pushes() const
    {
        platform::MutexLocker lock(&m_mutex);
        return m_pushes;
    }
    size_t pushCount() const
    {
        platform::MutexLocker lock(&m_mutex);
        return m_pushes.size();
    }

private:
    mutable QMutex m_mutex;
    std::vector<Push> m_pushes;
};
