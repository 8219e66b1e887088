#include "tools/sim/simstats.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <numeric>

namespace sim {

LatencyStats SimStats::latency() const
{
    LatencyStats s;
    if (ackLatencyUs.empty())
        return s;
    std::vector<quint32> v = ackLatencyUs;
    const auto at = [&v](size_t i) {
        std::nth_element(v.begin(), v.begin() + long(i), v.end());
        return quint64(v[i]);
    };
    s.count = v.size();
    s.maxUs = *std::max_element(v.begin(), v.end());
    s.medianUs = at(v.size() / 2);
    s.p99Us = at(std::min(v.size() - 1, v.size() * 99 / 100));
    return s;
}

QByteArray SimStats::toJson() const
{
    QJsonObject cmds;
    for (auto it = commands.begin(); it != commands.end(); ++it)
        cmds.insert(QStringLiteral("0x%1").arg(it.key(), 4, 16, QLatin1Char('0')), double(it.value()));
    QJsonObject f;
    for (auto it = faults.begin(); it != faults.end(); ++it)
        f.insert(it.key(), double(it.value()));
    const LatencyStats l = latency();
    QJsonObject lat{{"count", double(l.count)},
                    {"median_us", double(l.medianUs)},
                    {"p99_us", double(l.p99Us)},
                    {"max_us", double(l.maxUs)}};
    QJsonObject o{{"sent", double(sent)},
                  {"resent", double(resent)},
                  {"acknowledged", double(acked)},
                  {"abandoned", double(abandoned)},
                  {"generated", double(generated)},
                  {"ack_unmatched", double(ackUnmatched)},
                  {"ack_mismatch", double(ackMismatch)},
                  {"received", double(received)},
                  {"send_errors", double(sendErrors)},
                  {"commands", cmds},
                  {"faults", f},
                  {"ack_latency", lat}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QString SimStats::summaryLine() const
{
    const LatencyStats l = latency();
    return QStringLiteral("tarnix-sim: sent %1, resent %2, acknowledged %3, abandoned %4, commands %5; "
                          "ack latency median %6 us, p99 %7 us, max %8 us")
        .arg(sent)
        .arg(resent)
        .arg(acked)
        .arg(abandoned)
        .arg(std::accumulate(commands.begin(), commands.end(), quint64(0)))
        .arg(l.medianUs)
        .arg(l.p99Us)
        .arg(l.maxUs);
}

} // namespace sim
