// The raw limit of the stream path: a plain socket loop that starts a receiver's stream, acknowledges
// every 1210-byte stream datagram with its first 10 bytes (offset 4-5 zeroed) at once, and counts
// them. No conversion, no FIFO, no threads: what this carries is what the network and the receiver
// can carry on this machine.
//
//   raw-acker --receiver ADDR [--port P] [--seconds S] [--rate-index 0..3]
// Prints one JSON object: datagrams received, new ones (not repeats), acknowledgements sent, the
// rate of new datagrams per second between the first and the last one, and the CPU this process used
// (user+sys, % of one core over the run).

#include "driver/requests.h"
#include "protocol/stream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReceiveBufferBytes = 4 << 20;
constexpr int kPollMs = 50;
constexpr int kRecentSlots = 64; // a datagram whose number was among the last 64 new ones is a repeat
constexpr int kMaxSeconds = 3600;

struct Options
{
    std::string receiver;
    int port = wire::kDefaultPort;
    double seconds = 5;
    int rateIndex = 3;
};

bool parse(int argc, char **argv, Options *o)
{
    for (int a = 1; a < argc; ++a) {
        const std::string opt = argv[a];
        if (a + 1 >= argc)
            return false;
        const char *v = argv[++a];
        if (opt == "--receiver")
            o->receiver = v;
        else if (opt == "--port")
            o->port = std::atoi(v);
        else if (opt == "--seconds")
            o->seconds = std::atof(v);
        else if (opt == "--rate-index")
            o->rateIndex = std::atoi(v);
        else
            return false;
    }
    return !o->receiver.empty() && o->port > 0 && o->port < 65536 && o->seconds > 0 &&
           o->seconds <= kMaxSeconds && o->rateIndex >= 0 && o->rateIndex <= 3;
}

void sendCommand(int fd, const sockaddr_in &to, const QByteArray &d)
{
    ::sendto(fd, d.constData(), size_t(d.size()), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
}

double cpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    Options o;
    if (!parse(argc, argv, &o)) {
        std::fprintf(stderr,
                     "usage: raw-acker --receiver ADDR [--port P] [--seconds S] [--rate-index 0..3]\n");
        return 2;
    }
    sockaddr_in receiver{};
    receiver.sin_family = AF_INET;
    receiver.sin_port = htons(quint16(o.port));
    if (::inet_pton(AF_INET, o.receiver.c_str(), &receiver.sin_addr) != 1) {
        std::fprintf(stderr, "raw-acker: bad address %s\n", o.receiver.c_str());
        return 2;
    }

    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    int buffer = kReceiveBufferBytes;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &buffer, sizeof buffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(quint16(o.port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
        std::perror("raw-acker: bind");
        return 1;
    }

    sendCommand(fd, receiver, requests::startStream(o.rateIndex, 1));

    std::array<uchar, 2048> d{};
    std::array<int, kRecentSlots> recent;
    recent.fill(-1);
    int recentAt = 0;
    unsigned long long received = 0, fresh = 0, acks = 0, other = 0;
    Clock::time_point first{}, last{};
    const auto started = Clock::now();
    const double cpuAtStart = cpuSeconds();
    const auto deadline = started + std::chrono::duration<double>(o.seconds);
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kPollMs) <= 0)
            continue;
        // Drain everything pending before polling again, as the plug-in's loop does.
        for (int n = 0; n < 4096; ++n) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got = ::recvfrom(fd, d.data(), d.size(), MSG_DONTWAIT,
                                           reinterpret_cast<sockaddr *>(&from), &fromLength);
            if (got < 0)
                break;
            if (got != wire::kStreamDatagramBytes ||
                wire::readU16(d.data() + wire::kCodeOffset) != wire::kCodeStream) {
                ++other;
                continue;
            }
            ++received;
            wire::writeU16(d.data() + wire::kStreamClearedOffset, 0);
            if (::sendto(fd, d.data(), wire::kAckBytes, 0, reinterpret_cast<const sockaddr *>(&from),
                         fromLength) == wire::kAckBytes)
                ++acks;
            const int sequence = wire::readU16(d.data() + wire::kSequenceOffset);
            bool repeat = false;
            for (int s : recent)
                repeat = repeat || s == sequence;
            if (!repeat) {
                recent[size_t(recentAt)] = sequence;
                recentAt = (recentAt + 1) % kRecentSlots;
                ++fresh;
                last = Clock::now();
                if (fresh == 1)
                    first = last;
            }
        }
    }
    sendCommand(fd, receiver, requests::stopStream());
    ::close(fd);

    const double cpuPercent =
        100 * (cpuSeconds() - cpuAtStart) / std::chrono::duration<double>(Clock::now() - started).count();
    const double span = std::chrono::duration<double>(last - first).count();
    std::printf("{\"received\": %llu, \"new\": %llu, \"acks\": %llu, \"other\": %llu, \"span_s\": %.3f, "
                "\"new_per_s\": %.1f, \"cpu_percent\": %.2f}\n",
                received, fresh, acks, other, span, span > 0 ? double(fresh - 1) / span : 0.0, cpuPercent);
    return fresh > 0 ? 0 : 4;
}
