#include "callorder.h"

namespace {

struct Weighted
{
    const char *call;
    int weight;
};

// Start and stop and the lifecycle calls are weighted up: they are where orders go wrong. Two of the
// callbacks call exports themselves (the rate and the LO; StopHW on the first block).
constexpr Weighted kCalls[] = {
    {"init", 3},
    {"initnull", 1},
    {"open", 4},
    {"start:7200000", 5},
    {"start:14100000", 2},
    {"stop", 5},
    {"close", 3},
    {"lo", 1},
    {"setlo:7100000", 2},
    {"setlo:-5", 1},
    {"sr", 1},
    {"status", 1},
    {"show", 2},
    {"hide", 2},
    {"callback", 3},
    {"nullcallback", 1},
    {"stopcallback", 1},
    {"busycallback:312500", 2},
};
constexpr int kMaxWaitMs = 120;

} // namespace

QStringList randomCallSequence(std::mt19937 &random, int maxCalls)
{
    int total = 0;
    for (const Weighted &c : kCalls)
        total += c.weight;
    QStringList calls;
    const int count = 1 + int(random() % unsigned(qMax(1, maxCalls)));
    for (int n = 0; n < count; ++n) {
        int pick = int(random() % unsigned(total));
        for (const Weighted &c : kCalls) {
            if ((pick -= c.weight) < 0) {
                calls << QString::fromLatin1(c.call);
                break;
            }
        }
        if (random() % 5 == 0)
            calls << QStringLiteral("wait:%1").arg(random() % kMaxWaitMs);
    }
    return calls;
}
