// Floods an address and port with unwanted datagrams at a steady rate, for the soak tests:
//   soak-flooder --from ADDR --to ADDR:PORT --kind stream|random|odd --rate N --seconds S [--seed N]
// stream: 1210-byte stream-shaped datagrams with random sequence numbers and samples;
// random:  0..1500 random bytes;
// odd:     short (0..9 bytes) and odd-length datagrams, half of them carrying the stream code.
// Prints the count sent. Bounded: at most --seconds (<= 600) and --rate (<= 100000) per second.

#include "protocol/stream.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kMaxRate = 100000;
constexpr double kMaxSeconds = 600;
constexpr int kMaxRandomBytes = 1500;
constexpr int kMaxShortBytes = 9;
constexpr int kMaxOddBytes = 1211;

bool toAddress(const std::string &text, quint16 port, sockaddr_in *out)
{
    *out = {};
    out->sin_family = AF_INET;
    out->sin_port = htons(port);
    return ::inet_pton(AF_INET, text.c_str(), &out->sin_addr) == 1;
}

} // namespace

int main(int argc, char **argv)
{
    std::string from, to, kind = "random";
    int rate = 1000;
    double seconds = 5;
    unsigned seed = 1;
    for (int a = 1; a + 1 < argc; a += 2) {
        const std::string opt = argv[a];
        const char *v = argv[a + 1];
        if (opt == "--from")
            from = v;
        else if (opt == "--to")
            to = v;
        else if (opt == "--kind")
            kind = v;
        else if (opt == "--rate")
            rate = std::atoi(v);
        else if (opt == "--seconds")
            seconds = std::atof(v);
        else if (opt == "--seed")
            seed = unsigned(std::atoi(v));
    }
    const auto colon = to.rfind(':');
    sockaddr_in source{}, target{};
    if (colon == std::string::npos || !toAddress(from, 0, &source) ||
        !toAddress(to.substr(0, colon), quint16(std::atoi(to.c_str() + colon + 1)), &target) || rate < 1 ||
        rate > kMaxRate || seconds <= 0 || seconds > kMaxSeconds ||
        (kind != "stream" && kind != "random" && kind != "odd")) {
        std::fprintf(stderr,
                     "usage: soak-flooder --from ADDR --to ADDR:PORT --kind stream|random|odd --rate N "
                     "--seconds S [--seed N]\n");
        return 2;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr *>(&source), sizeof source) != 0) {
        std::perror("soak-flooder: bind");
        return 1;
    }

    std::mt19937 random(seed);
    std::vector<uchar> d(kMaxRandomBytes + 1);
    const auto period = std::chrono::duration<double>(1.0 / rate);
    const auto started = Clock::now();
    const auto end = started + std::chrono::duration<double>(seconds);
    unsigned long long sent = 0;
    for (auto next = started; next < end; next += std::chrono::duration_cast<Clock::duration>(period)) {
        std::this_thread::sleep_until(next);
        int length;
        if (kind == "stream")
            length = wire::kStreamDatagramBytes;
        else if (kind == "random")
            length = int(random() % (kMaxRandomBytes + 1));
        else
            length = random() % 2 ? int(random() % (kMaxShortBytes + 1)) : int(random() % kMaxOddBytes) | 1;
        for (int k = 0; k < length; k += 4) {
            const quint32 word = random();
            for (int b = 0; b < 4 && k + b < length; ++b)
                d[size_t(k + b)] = uchar(word >> (8 * b));
        }
        if (length >= wire::kMinDatagramBytes && (kind == "stream" || (kind == "odd" && random() % 2)))
            wire::writeU16(d.data() + wire::kCodeOffset, wire::kCodeStream);
        if (::sendto(fd, d.data(), size_t(length), 0, reinterpret_cast<const sockaddr *>(&target),
                     sizeof target) == length)
            ++sent;
    }
    ::close(fd);
    std::printf("%llu\n", sent);
    return 0;
}
