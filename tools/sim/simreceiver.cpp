#include "tools/sim/simreceiver.h"

#include "protocol/datagram.h"
#include "tools/sim/arrivalstamp.h"
#include "tools/sim/datagramlog.h"
#include "tools/sim/simprotocol.h"
#include "tools/sim/simstats.h"

#include <QHostAddress>

#include <limits>

namespace sim {

namespace {
// Enough for every command a client has in flight; forgetting more only loses resend marks.
constexpr int kMaxRememberedCommands = 256;

FaultConfig perReceiver(FaultConfig f, int index)
{
    f.seed += quint64(index); // each receiver its own, still reproducible, fault sequence
    return f;
}

StreamTiming timingOf(const SimConfig &c)
{
    StreamTiming t;
    t.retransmitUs = c.retransmitMs * 1000;
    t.maxResends = c.maxResends;
    t.speed = c.speed;
    t.startSeq = c.startSeq;
    return t;
}
} // namespace

SimReceiver::SimReceiver(int index, const ReceiverConfig &rx, const SimConfig &config, SimStats &stats,
                         DatagramLog &log)
    : m_index(index), m_rx(rx), m_calibration(config.calibration), m_stats(stats), m_log(log),
      m_faults(perReceiver(config.faults, index)),
      m_signal(config.signal, config.tones, config.noiseDbfs, config.faults.seed + quint64(index)),
      m_stream(m_signal, m_faults, stats, timingOf(config), quint8(index)),
      m_repeatedStart(config.repeatedStart)
{}

bool SimReceiver::open(QString *error)
{
    const quint32 address = m_rx.address.isEmpty() ? 0 : QHostAddress(m_rx.address).toIPv4Address();
    return m_socket.bind(address, m_rx.port, error);
}

QByteArray SimReceiver::discoveryReplyFor(const Endpoint &requester) const
{
    const Endpoint me = bound();
    const quint32 address = me.address ? me.address : UdpSocket::localAddressToward(requester);
    return discoveryReply(m_rx, address, me.port);
}

void SimReceiver::handleDatagram(const uchar *d, int len, const Endpoint &from, qint64 nowUs,
                                 qint64 arrivalNs)
{
    m_log.record(nowUs, m_index, from, d, len, isResend(d, len, arrivalNs));
    ++m_stats.received;
    if (m_stream.acknowledge(d, len, nowUs))
        return;
    if (isDiscoveryRequest(d, len)) {
        send(discoveryReplyFor(from), from);
        return;
    }
    if (hasControlSignature(d, len)) {
        handleCommand(d, len, from, nowUs);
        return;
    }
    m_stats.fault("unrecognised-datagram");
}

void SimReceiver::handleCommand(const uchar *d, int len, const Endpoint &from, qint64 nowUs)
{
    const quint16 code = wire::readU16(d + wire::kCodeOffset);
    ++m_stats.commands[code];
    // A wrong length is a fault of the sender; a receiver would not act on it.
    if (commandLength(code) != len) {
        m_stats.fault("malformed-command");
        return;
    }
    if (m_faults.ignores(code)) {
        m_stats.fault("ignore-cmd");
        return;
    }
    switch (code) {
    case wire::kCmdStartStream: {
        const QByteArray command(reinterpret_cast<const char *>(d), len);
        if (m_stream.streaming() && m_repeatedStart == RepeatedStart::Ignore && command == m_runningStart) {
            m_stats.fault("repeated-start-ignored");
            break;
        }
        m_client = from;
        m_runningStart = command;
        m_stream.start(startRateIndex(d), nowUs);
        break;
    }
    case wire::kCmdStopStream:
        m_stream.stop();
        break;
    case wire::kCmdAttenuator:
        m_signal.setAttenuator(switchValue(d) == 0);
        break;
    case wire::kCmdTuning:
        if (wire::readU32(d + wire::kChannelOffset) == 0)
            m_signal.setTunedFrequency(tuningHz(d));
        break;
    case wire::kCmdLpf:
        m_lpf = switchValue(d) != 0;
        break;
    default:
        break;
    }
    QByteArray reply = commandReply(d, len, m_rx, m_calibration);
    const int forced = m_faults.shortReplyLength(code);
    if (forced >= 0) {
        reply = resized(reply, forced);
        m_stats.fault("short-reply");
    }
    if (m_repliedNs.size() >= kMaxRememberedCommands)
        m_repliedNs.clear();
    const QByteArray command(reinterpret_cast<const char *>(d), len);
    if (m_faults.loseReply(code)) {
        // No reply leaves, so the client's next copy is a resend whenever it comes.
        m_repliedNs.insert(command, std::numeric_limits<qint64>::max());
        m_stats.fault("lose-reply");
        return;
    }
    // Stamped before sending: a client may hear the reply and ask again before send() returns.
    m_repliedNs.insert(command, realtimeNs());
    send(reply, from);
}

// A command that reached the socket before the reply to the same bytes left cannot be a client's
// new request: it is the client sending again because no reply had come in time. The byte-identical
// repeats a client makes on purpose come after it has heard the reply.
bool SimReceiver::isResend(const uchar *d, int len, qint64 arrivalNs) const
{
    if (!hasControlSignature(d, len))
        return false;
    const auto it = m_repliedNs.constFind(QByteArray::fromRawData(reinterpret_cast<const char *>(d), len));
    return it != m_repliedNs.cend() && arrivalNs < it.value();
}

void SimReceiver::send(const QByteArray &d, const Endpoint &to)
{
    if (!m_socket.sendTo(wire::bytes(d), d.size(), to))
        ++m_stats.sendErrors;
}

void SimReceiver::sendStream(const uchar *d, int len)
{
    if (!m_socket.sendTo(d, len, m_client))
        ++m_stats.sendErrors;
}

} // namespace sim
