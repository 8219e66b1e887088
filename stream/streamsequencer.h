#pragma once

#include "protocol/hostinterface.h"
#include "protocol/stream.h"

#include <QtGlobal>

#include <array>

class DspAbstract;
class QMutex;

// 24-bit two's-complement sample, least significant byte first, widened to 32 bits with the
// value in the top three bytes: the sample times 256, so full scale is the full 32-bit range.
inline qint32 widen24(const uchar *b)
{
    return qint32(quint32(b[0]) << 8 | quint32(b[1]) << 16 | quint32(b[2]) << 24);
}

// Converts `pairs` samples of 6 bytes (I then Q, 3 bytes each) into 32-bit pairs.
void convertSamples24(const uchar *samples, IqPair *out, int pairs);

// The per-datagram logic of the sample stream, free of sockets: checks a stream datagram's
// sequence number, keeps the last eight accepted datagrams for re-acknowledging repeats,
// resynchronises after a run of misses, converts accepted samples and forwards them to the dsp.
// One thread drives it; no allocation happens per datagram.
class StreamSequencer
{
public:
    enum class Verdict {
        Accepted, // in sequence: forwarded, stored, acknowledged
        Repeat,   // a copy of a datagram forwarded before: acknowledged as then, not forwarded
        Restart,  // other samples under the number of one of the last eight: acknowledged, not
                  // forwarded, and a gap reported before the next datagram that is
        Resync,   // the 34th miss in a row: the stream is taken up again 8 numbers on
        Missed,   // out of sequence: dropped unacknowledged
        Invalid,  // not a 1210-byte datagram: dropped unacknowledged, nothing read
    };

    // Consecutive misses that are dropped before the next one resynchronises.
    static constexpr quint16 kMissesBeforeResync = 33;
    static constexpr int kHistorySlots = 8;
    // How many of the last forwarded datagrams are known again by number and samples: more than a
    // receiver's resends of a datagram whose acknowledgement it missed can lag behind, at several
    // times the highest sample rate (and more than the socket buffer holds).
    static constexpr int kForwardedRemembered = 4096;

    // `sequenceMutex`, if given, is taken around every change of the expected sequence number so
    // that another thread may read it; `dsp` may be null (samples are then converted and dropped).
    explicit StreamSequencer(DspAbstract *dsp, QMutex *sequenceMutex = nullptr);

    // Handles one datagram whose code says it is a stream datagram. May rewrite the buffer: when
    // the verdict acknowledges, the first 10 bytes of `datagram` are the acknowledgement to send.
    Verdict handle(uchar *datagram, int size);
    static bool acknowledges(Verdict v)
    {
        return v == Verdict::Accepted || v == Verdict::Repeat || v == Verdict::Restart ||
               v == Verdict::Resync;
    }

    // A new connection: expect sequence 0 again. The history is kept.
    void reset();

    quint16 expectedSequence() const;
    quint16 missCount() const { return m_missCount; }
    const IqPair *converted() const { return m_converted.data(); }

private:
    void setExpected(quint16 sequence);
    void accept(uchar *datagram, quint16 sequence, quint32 signature);
    // The history slot whose sequence field says `sequence`, among those that hold the datagram
    // accepted under it (`accepted`) or those whose field a resynchronisation or a reset left
    // standing for a datagram it does not hold; -1 if none.
    int findInHistory(quint16 sequence, bool accepted) const;
    bool wasForwarded(quint16 sequence, quint32 signature) const;
    void resynchronise(uchar *datagram, quint16 sequence);

    using Slot = std::array<uchar, wire::kStreamDatagramBytes>;

    DspAbstract *m_dsp;
    QMutex *m_sequenceMutex;
    quint16 m_expectedSequence = 0;
    quint16 m_missCount = 0;
    quint16 m_historyWriteIndex = 0;
    alignas(32) std::array<IqPair, wire::kPairsPerDatagram> m_converted{};
    // Handed to pushSamples as its work buffer; nothing interprets it.
    alignas(32) std::array<quint64, wire::kPairsPerDatagram> m_work{};
    std::array<Slot, kHistorySlots> m_history{};
    // False for a slot that holds the datagram accepted under its sequence field; true once a
    // resynchronisation or a reset made the field stand for a number only.
    std::array<bool, kHistorySlots> m_numberOnly{true, true, true, true, true, true, true, true};
    // What was forwarded under each number, by a signature of its samples, kForwardedRemembered
    // numbers back: (sequence | kKnown) << 32 | signature, or 0. Cleared by reset.
    std::array<quint64, kForwardedRemembered> m_forwarded{};
    // Pairs of restarted datagrams given up since the last forwarded one: when not 0, the next one
    // forwarded does not follow it, and the gap is reported first.
    quint64 m_unreportedLoss = 0;
};
