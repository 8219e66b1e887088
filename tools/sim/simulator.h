#pragma once

// All simulated receivers and the shared discovery socket, driven by one poll loop.

#include "tools/sim/datagramlog.h"
#include "tools/sim/simconfig.h"
#include "tools/sim/simstats.h"
#include "tools/sim/udpsocket.h"

#include <QStringList>

#include <memory>
#include <vector>

namespace sim {

class SimReceiver;

qint64 monotonicUs();

class Simulator
{
public:
    explicit Simulator(const SimConfig &config);
    ~Simulator();

    // Binds every socket and opens the log; false with a message when something cannot be had.
    bool open(QString *error);
    // One line per receiver and one for discovery, with the ports actually bound.
    QStringList describe() const;
    // Runs until stopFd becomes readable (when >= 0) or the configured duration has passed.
    void run(int stopFd);
    bool writeSummary(QString *error) const;
    const SimStats &stats() const { return m_stats; }

private:
    void drain(UdpSocket &socket, int receiver, bool answersDiscovery, qint64 nowUs);
    void answerDiscovery(UdpSocket &socket, const Endpoint &from);

    SimConfig m_config;
    SimStats m_stats;
    DatagramLog m_log;
    std::vector<std::unique_ptr<SimReceiver>> m_receivers;
    std::unique_ptr<UdpSocket> m_discovery; // null when receiver 0's socket also serves discovery
    std::vector<uchar> m_buffer;
};

} // namespace sim
