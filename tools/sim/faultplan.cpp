#include "tools/sim/faultplan.h"

#include "protocol/datagram.h"
#include "tools/sim/simprotocol.h"

namespace sim {

FaultPlan::FaultPlan(const FaultConfig &config) : m_config(config), m_rng(config.seed) {}

bool FaultPlan::chance(double p)
{
    return p > 0 && m_unit(m_rng) < p;
}

bool FaultPlan::inAny(const QVector<Range> &ranges, quint64 k)
{
    for (const Range &r : ranges)
        if (r.contains(k))
            return true;
    return false;
}

bool FaultPlan::restartAt(quint64 k, quint16 *seq) const
{
    for (const auto &r : m_config.restartSeq)
        if (r.first == k) {
            *seq = r.second;
            return true;
        }
    return false;
}

int FaultPlan::silenceBefore(quint64 k) const
{
    for (const auto &s : m_config.silenceMs)
        if (s.first == k)
            return s.second;
    return 0;
}

int FaultPlan::shortReplyLength(quint16 code) const
{
    for (const auto &s : m_config.shortReply)
        if (s.first == code)
            return s.second;
    return -1;
}

bool FaultPlan::loseReply(quint16 code)
{
    for (auto &l : m_config.loseReply)
        if (l.first == code && l.second > 0) {
            --l.second;
            return true;
        }
    return false;
}

int FaultPlan::makeGarbage(uchar *out, int capacity)
{
    const int len = int(m_rng() % quint64(capacity + 1));
    for (int i = 0; i < len; ++i)
        out[i] = uchar(m_rng());
    if (len >= wire::kMinDatagramBytes) {
        // Never a valid stream datagram or a code a pending command could take as its reply.
        const quint16 code = wire::readU16(out + wire::kCodeOffset);
        if (code == wire::kCodeStream || commandLength(code) >= 0)
            wire::writeU16(out + wire::kCodeOffset, wire::kCodeDiscard);
    }
    return len;
}

} // namespace sim
