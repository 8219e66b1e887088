#include "tools/sim/streamwindow.h"

#include "tools/sim/faultplan.h"
#include "tools/sim/signalsource.h"
#include "tools/sim/simstats.h"

#include <algorithm>
#include <cstring>

namespace sim {

StreamWindow::StreamWindow(SignalSource &signal, FaultPlan &faults, SimStats &stats,
                           const StreamTiming &timing, quint8 receiverIndex)
    : m_signal(signal), m_faults(faults), m_stats(stats), m_timing(timing), m_receiverIndex(receiverIndex)
{}

void StreamWindow::start(int rateIndex, qint64 nowUs)
{
    stop();
    const double rate = kSampleRatesHz[size_t(qBound(0, rateIndex, int(kSampleRatesHz.size()) - 1))];
    m_signal.setSampleRate(rate);
    m_periodUs = 1e6 * wire::kPairsPerDatagram / rate / m_timing.speed;
    m_t0Us = nowUs;
    m_kBase = 0;
    m_next = 0;
    m_nextSeq = m_timing.startSeq;
    m_streaming = true;
}

void StreamWindow::stop()
{
    m_streaming = false;
    m_holding = false;
    m_silentUntilUs = 0;
    m_silenceDoneAt = std::numeric_limits<quint64>::max();
    for (Slot &s : m_slots)
        s.used = false;
}

int StreamWindow::inFlight() const
{
    return int(std::count_if(m_slots.begin(), m_slots.end(), [](const Slot &s) { return s.used; }));
}

StreamWindow::Slot *StreamWindow::freeSlot()
{
    for (Slot &s : m_slots)
        if (!s.used)
            return &s;
    return nullptr;
}

qint64 StreamWindow::nextWakeUs() const
{
    if (!m_streaming)
        return kNever;
    if (m_silentUntilUs > 0 && m_silenceDoneAt == m_next)
        return m_silentUntilUs;
    qint64 wake = kNever;
    for (const Slot &s : m_slots)
        if (s.used)
            wake = std::min(wake, s.lastSentUs + m_timing.retransmitUs);
    if (inFlight() < kWindowDatagrams)
        wake = std::min(wake, dueUs(m_next));
    if (m_holding)
        wake = std::min(wake, m_heldSinceUs + m_timing.retransmitUs / 2);
    return wake;
}

void StreamWindow::poll(qint64 nowUs, DatagramSink &sink)
{
    if (!m_streaming || nowUs < m_silentUntilUs)
        return;
    if (m_holding && nowUs - m_heldSinceUs >= m_timing.retransmitUs / 2)
        flushHeld(sink);
    resendDue(nowUs, sink);
    while (m_streaming && inFlight() < kWindowDatagrams && nowUs >= dueUs(m_next)) {
        if (!generate(nowUs, sink))
            break;
    }
    // Far behind (the window was full for long): carry on at the nominal rate from now.
    if (nowUs - dueUs(m_next) > kMaxLagUs) {
        m_t0Us = nowUs;
        m_kBase = m_next;
    }
}

void StreamWindow::resendDue(qint64 nowUs, DatagramSink &sink)
{
    // Once the oldest unacknowledged datagram times out, the whole window goes again, in order,
    // before anything new: the other side takes datagrams only in sequence, so the ones sent after a
    // lost one were dropped too, and resending each on its own timer would let new datagrams overtake
    // them and be dropped in turn, for ever.
    const bool anyDue = std::any_of(m_slots.begin(), m_slots.end(), [&](const Slot &s) {
        return s.used && nowUs - s.lastSentUs >= m_timing.retransmitUs;
    });
    if (!anyDue)
        return;
    std::array<Slot *, kWindowDatagrams> due{};
    int n = 0;
    for (Slot &s : m_slots)
        if (s.used)
            due[size_t(n++)] = &s;
    // Oldest first; at most eight entries, so a plain insertion sort.
    for (int i = 1; i < n; ++i)
        for (int j = i; j > 0 && due[size_t(j)]->index < due[size_t(j - 1)]->index; --j)
            std::swap(due[size_t(j)], due[size_t(j - 1)]);
    for (int i = 0; i < n; ++i) {
        Slot &s = *due[size_t(i)];
        if (m_timing.maxResends > 0 && s.resends >= m_timing.maxResends) {
            s.used = false;
            ++m_stats.abandoned;
            continue;
        }
        ++s.resends;
        s.lastSentUs = nowUs;
        ++m_stats.resent;
        transmit(s.data.data(), sink, nowUs);
    }
}

bool StreamWindow::generate(qint64 nowUs, DatagramSink &sink)
{
    const quint64 k = m_next;
    const int silenceMs = m_faults.silenceBefore(k);
    if (silenceMs > 0 && m_silenceDoneAt != k) {
        m_silenceDoneAt = k;
        m_silentUntilUs = nowUs + qint64(silenceMs) * 1000;
        m_t0Us = m_silentUntilUs;
        m_kBase = k;
        m_stats.fault("silence");
        return false;
    }
    quint16 restarted;
    if (m_faults.restartAt(k, &restarted)) {
        m_nextSeq = restarted;
        m_stats.fault("restart-seq");
    }
    const quint16 seq = m_nextSeq++; // wraps at 65536 on purpose
    const quint64 firstSample = m_nextSample;
    m_nextSample += wire::kPairsPerDatagram;
    ++m_next;
    ++m_stats.generated;

    if (m_faults.lostForGood(k)) {
        // Neither sent nor kept for resending: the other side has to resynchronise past it.
        m_stats.fault("lose-for-good");
        return true;
    }
    Slot *slot = freeSlot();
    slot->used = true;
    slot->index = k;
    slot->resends = 0;
    slot->lastSentUs = nowUs;
    uchar *d = slot->data.data();
    d[0] = kStreamMarker0;
    d[1] = kStreamMarker1;
    wire::writeU16(d + wire::kCodeOffset, wire::kCodeStream);
    // Non-zero on purpose: the acknowledgement must come back with this field cleared.
    wire::writeU16(d + wire::kStreamClearedOffset, quint16(k | 0x8000));
    wire::writeU16(d + wire::kSequenceOffset, seq);
    d[8] = m_receiverIndex;
    d[wire::kAuxOffset] = 0;
    m_signal.fill(d + wire::kStreamHeaderBytes, wire::kPairsPerDatagram, firstSample);

    if (m_faults.burstLost(k)) {
        m_stats.fault("burst-loss");
        return true;
    }
    ++m_stats.sent;
    transmit(d, sink, nowUs);
    return true;
}

void StreamWindow::transmit(const uchar *d, DatagramSink &sink, qint64 nowUs)
{
    if (m_faults.drop()) {
        m_stats.fault("drop");
        return;
    }
    if (!m_holding && m_faults.reorder()) {
        std::memcpy(m_held.data(), d, m_held.size());
        m_holding = true;
        m_heldSinceUs = nowUs;
        m_stats.fault("reorder");
        return;
    }
    sink.sendStream(d, wire::kStreamDatagramBytes);
    if (m_faults.duplicate()) {
        sink.sendStream(d, wire::kStreamDatagramBytes);
        m_stats.fault("dup");
    }
    if (m_holding)
        flushHeld(sink);
    if (m_faults.garbage()) {
        sink.sendStream(m_garbage.data(), m_faults.makeGarbage(m_garbage.data(), int(m_garbage.size())));
        m_stats.fault("garbage");
    }
}

void StreamWindow::flushHeld(DatagramSink &sink)
{
    m_holding = false;
    sink.sendStream(m_held.data(), wire::kStreamDatagramBytes);
}

bool StreamWindow::acknowledge(const uchar *d, int len, qint64 nowUs)
{
    if (len != wire::kAckBytes || wire::readU16(d + wire::kCodeOffset) != wire::kCodeStream)
        return false;
    const quint16 seq = wire::readU16(d + wire::kSequenceOffset);
    Slot *match = nullptr;
    for (Slot &s : m_slots)
        if (s.used && wire::readU16(s.data.data() + wire::kSequenceOffset) == seq &&
            (!match || s.index < match->index))
            match = &s;
    if (!match) {
        ++m_stats.ackUnmatched;
        return true;
    }
    std::array<uchar, wire::kAckBytes> expected;
    std::memcpy(expected.data(), match->data.data(), expected.size());
    wire::writeU16(expected.data() + wire::kStreamClearedOffset, 0);
    if (std::memcmp(expected.data(), d, expected.size()) != 0)
        ++m_stats.ackMismatch;
    match->used = false;
    ++m_stats.acked;
    m_stats.ackLatency(nowUs - match->lastSentUs);
    return true;
}

} // namespace sim
