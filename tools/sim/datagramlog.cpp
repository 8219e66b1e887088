#include "tools/sim/datagramlog.h"

#include "protocol/datagram.h"
#include "tools/sim/udpsocket.h"

#include <cerrno>
#include <cstring>

namespace sim {

DatagramLog::~DatagramLog()
{
    if (m_file)
        std::fclose(m_file);
}

bool DatagramLog::open(const QString &path, QString *error)
{
    m_file = std::fopen(path.toLocal8Bit().constData(), "w");
    if (!m_file)
        *error =
            QStringLiteral("cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return m_file != nullptr;
}

void DatagramLog::record(qint64 tUs, int receiver, const Endpoint &from, const uchar *d, int len, bool resend)
{
    if (!m_file)
        return;
    static const char digits[] = "0123456789abcdef";
    char hex[2 * kLogHexBytes + 1];
    const int n = qMin(len, kLogHexBytes);
    for (int i = 0; i < n; ++i) {
        hex[2 * i] = digits[d[i] >> 4];
        hex[2 * i + 1] = digits[d[i] & 0xF];
    }
    hex[2 * n] = '\0';
    const int code = len >= wire::kMinDatagramBytes ? wire::readU16(d + wire::kCodeOffset) : -1;
    std::fprintf(m_file,
                 "{\"t_us\":%lld,\"rx\":%d,\"src\":\"%u.%u.%u.%u:%u\",\"len\":%d,\"code\":%d,\"hex\":\"%s\","
                 "\"resend\":%s}\n",
                 static_cast<long long>(tUs), receiver, from.address >> 24, (from.address >> 16) & 0xFF,
                 (from.address >> 8) & 0xFF, from.address & 0xFF, unsigned(from.port), len, code, hex,
                 resend ? "true" : "false");
}

void DatagramLog::flush()
{
    if (m_file)
        std::fflush(m_file);
}

} // namespace sim
