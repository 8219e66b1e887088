#pragma once

// Decides, from a seeded generator and the scheduled faults, what happens to each stream datagram.

#include "tools/sim/simconfig.h"

#include <random>

namespace sim {

class FaultPlan
{
public:
    explicit FaultPlan(const FaultConfig &config);

    // Random faults, one draw each, only for faults that are switched on.
    bool drop() { return chance(m_config.drop); }
    bool duplicate() { return chance(m_config.dup); }
    bool reorder() { return chance(m_config.reorder); }
    bool garbage() { return chance(m_config.garbage); }

    // Scheduled faults by generated-datagram index.
    bool burstLost(quint64 k) const { return inAny(m_config.burstLoss, k); }
    bool lostForGood(quint64 k) const { return inAny(m_config.loseForGood, k); }
    bool restartAt(quint64 k, quint16 *seq) const;
    int silenceBefore(quint64 k) const;

    bool ignores(quint16 code) const { return m_config.ignoreCmd.contains(code); }
    // The reply length forced for this command, or -1.
    int shortReplyLength(quint16 code) const;
    // Whether this reply to `code` is lost (acted on, not answered); counts the losses down.
    bool loseReply(quint16 code);

    // A datagram that is neither a stream datagram nor a reply to any command; returns its length.
    int makeGarbage(uchar *out, int capacity);

private:
    bool chance(double p);
    static bool inAny(const QVector<Range> &ranges, quint64 k);

    FaultConfig m_config;
    std::mt19937_64 m_rng;
    std::uniform_real_distribution<double> m_unit{0.0, 1.0};
};

} // namespace sim
