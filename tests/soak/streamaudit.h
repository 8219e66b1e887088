#pragma once

// Audits a recording of the simulator's numbered signal (tools/sim/pattern.h) pair by pair, so a
// test can tell an expected gap from anything actually wrong.

#include <QString>
#include <QtGlobal>

struct StreamAudit
{
    bool read = false;
    quint64 pairs = 0;
    quint64 undecodable = 0; // low byte not zero: not a sample the receiver sent
    quint64 duplicates = 0;  // a sample index delivered again
    quint64 reordered = 0;   // a new sample index below one delivered before it
    quint64 missing = 0;     // indices between the first and the last delivered that never came
    quint64 jumps = 0;       // places where the next index was not the one after the last
    quint64 highest = 0;     // the highest index delivered
};

// Reads the two-channel 32-bit WAV file tarnix-host --wav writes.
StreamAudit auditWav(const QString &path);
