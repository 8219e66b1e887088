#include "tools/sim/simulator.h"

#include "tools/sim/simprotocol.h"
#include "tools/sim/simreceiver.h"

#include <QFile>

#include <poll.h>
#include <time.h>

namespace sim {

namespace {
constexpr int kReceiveBufferBytes = 65536;
constexpr int kMaxBatch = 256; // datagrams per socket per pass, so one busy socket cannot starve the others
} // namespace

qint64 monotonicUs()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

Simulator::Simulator(const SimConfig &config) : m_config(config), m_buffer(kReceiveBufferBytes) {}

Simulator::~Simulator() = default;

bool Simulator::open(QString *error)
{
    if (!m_config.logPath.isEmpty() && !m_log.open(m_config.logPath, error))
        return false;
    for (int i = 0; i < m_config.receivers.size(); ++i) {
        m_receivers.push_back(
            std::make_unique<SimReceiver>(i, m_config.receivers[i], m_config, m_stats, m_log));
        if (!m_receivers.back()->open(error))
            return false;
    }
    // A lone receiver on every address at the discovery port hears the broadcast itself.
    const ReceiverConfig &first = m_config.receivers.first();
    const bool firstIsWildcard = first.address.isEmpty() || first.address == QLatin1String("0.0.0.0");
    if (m_receivers.size() == 1 && firstIsWildcard && first.port == m_config.discoveryPort)
        return true;
    m_discovery = std::make_unique<UdpSocket>();
    return m_discovery->bind(0, m_config.discoveryPort, error);
}

QStringList Simulator::describe() const
{
    QStringList lines;
    for (size_t i = 0; i < m_receivers.size(); ++i) {
        const ReceiverConfig &rx = m_receivers[i]->config();
        lines << QStringLiteral("tarnix-sim: receiver %1 %2 at %3")
                     .arg(i)
                     .arg(receiverIdentifier(rx.serialNumber, rx.serialByteA, rx.serialByteB),
                          m_receivers[i]->bound().toString());
    }
    const quint16 port = m_discovery ? m_discovery->local().port : m_receivers.front()->bound().port;
    lines << QStringLiteral("tarnix-sim: discovery on port %1").arg(port);
    return lines;
}

void Simulator::answerDiscovery(UdpSocket &socket, const Endpoint &from)
{
    for (const auto &r : m_receivers) {
        const QByteArray reply = r->discoveryReplyFor(from);
        if (!socket.sendTo(reinterpret_cast<const uchar *>(reply.constData()), reply.size(), from))
            ++m_stats.sendErrors;
    }
}

void Simulator::drain(UdpSocket &socket, int receiver, bool answersDiscovery, qint64 nowUs)
{
    for (int n = 0; n < kMaxBatch; ++n) {
        Endpoint from;
        qint64 arrivalNs = 0;
        const int len = socket.receive(m_buffer.data(), int(m_buffer.size()), &from, &arrivalNs);
        if (len < 0)
            return;
        const uchar *d = m_buffer.data();
        if (answersDiscovery && isDiscoveryRequest(d, len)) {
            m_log.record(nowUs, receiver, from, d, len);
            ++m_stats.received;
            answerDiscovery(socket, from);
        } else if (receiver >= 0) {
            m_receivers[size_t(receiver)]->handleDatagram(d, len, from, nowUs, arrivalNs);
        } else {
            // Only discovery belongs on the shared socket; anything else is logged and left alone.
            m_log.record(nowUs, receiver, from, d, len);
            ++m_stats.received;
        }
    }
}

void Simulator::run(int stopFd)
{
    const qint64 endUs = m_config.durationS > 0 ? monotonicUs() + qint64(m_config.durationS * 1e6) : kNever;
    std::vector<pollfd> fds;
    for (const auto &r : m_receivers)
        fds.push_back({r->socket().fd(), POLLIN, 0});
    if (m_discovery)
        fds.push_back({m_discovery->fd(), POLLIN, 0});
    if (stopFd >= 0)
        fds.push_back({stopFd, POLLIN, 0});
    const size_t nReceivers = m_receivers.size();

    for (;;) {
        qint64 now = monotonicUs();
        for (const auto &r : m_receivers)
            r->poll(now);
        qint64 wake = endUs;
        for (const auto &r : m_receivers)
            wake = std::min(wake, r->nextWakeUs());
        const qint64 waitUs = std::max<qint64>(0, wake - monotonicUs());
        timespec ts{time_t(waitUs / 1000000), long(waitUs % 1000000) * 1000};
        const int ready = ppoll(fds.data(), nfds_t(fds.size()), wake == kNever ? nullptr : &ts, nullptr);
        now = monotonicUs();
        if (now >= endUs)
            break;
        if (ready <= 0)
            continue;
        if (stopFd >= 0 && fds.back().revents)
            break;
        for (size_t i = 0; i < nReceivers; ++i)
            if (fds[i].revents)
                drain(m_receivers[i]->socket(), int(i), !m_discovery && i == 0, now);
        if (m_discovery && fds[nReceivers].revents)
            drain(*m_discovery, -1, true, now);
    }
    m_log.flush();
}

bool Simulator::writeSummary(QString *error) const
{
    if (m_config.summaryPath.isEmpty())
        return true;
    QFile f(m_config.summaryPath);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(m_stats.toJson() + '\n') < 0) {
        *error = QStringLiteral("cannot write %1: %2").arg(m_config.summaryPath, f.errorString());
        return false;
    }
    return true;
}

} // namespace sim
