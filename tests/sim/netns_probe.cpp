// Discovery across the simulated network, seen from the host namespace with a plain socket: one
// broadcast must bring one correct reply per simulated receiver, and each receiver must then answer a
// unicast command and stream to the host. Run by scripts/netns-run; broadcasts only when this process
// really is inside the host namespace that the rig made.

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kSkip = 77;
constexpr unsigned short kPort = 50001;
constexpr int kReplyWaitMs = 2000;
const unsigned char kRequest[24] = {0x12, 0xFF, 0x00, 0x1A, 0, 0, 0, 0, 0, 0, 0,    0,
                                    0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0xEC, 0xE6};

int fail(const std::string &why)
{
    std::fprintf(stderr, "netns_probe: FAIL: %s\n", why.c_str());
    return 1;
}

bool sameNamespace(const char *name)
{
    struct stat mine
    {
    }, theirs{};
    const std::string path = std::string("/var/run/netns/") + name;
    return stat("/proc/self/ns/net", &mine) == 0 && stat(path.c_str(), &theirs) == 0 &&
           mine.st_ino == theirs.st_ino && mine.st_dev == theirs.st_dev;
}

// Waits for one datagram up to the deadline; returns its length or -1.
int receive(int fd, unsigned char *buf, int cap, sockaddr_in *from, std::chrono::steady_clock::time_point end)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return -1;
    timeval tv{time_t(left.count() / 1000000), suseconds_t(left.count() % 1000000)};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    socklen_t len = sizeof *from;
    return int(recvfrom(fd, buf, size_t(cap), 0, reinterpret_cast<sockaddr *>(from), &len));
}

sockaddr_in endpoint(const std::string &addr, unsigned short port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, addr.c_str(), &a.sin_addr);
    return a;
}

unsigned u16(const unsigned char *p)
{
    return unsigned(p[0]) | unsigned(p[1]) << 8;
}

} // namespace

int main()
{
    const char *hostNs = std::getenv("TARNIX_NETNS_HOST");
    const char *addrsEnv = std::getenv("TARNIX_RX_ADDRS");
    if (!hostNs || !addrsEnv || !sameNamespace(hostNs)) {
        std::fprintf(stderr, "netns_probe: not inside the rig's host namespace; skipped\n");
        return kSkip;
    }
    std::vector<std::string> addrs;
    std::istringstream in(addrsEnv);
    for (std::string a; in >> a;)
        addrs.push_back(a);

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in any = endpoint("0.0.0.0", kPort);
    if (bind(fd, reinterpret_cast<sockaddr *>(&any), sizeof any) != 0)
        return fail(std::string("bind: ") + std::strerror(errno));
    const sockaddr_in bcast = endpoint("255.255.255.255", kPort);
    if (sendto(fd, kRequest, sizeof kRequest, 0, reinterpret_cast<const sockaddr *>(&bcast), sizeof bcast) !=
        24)
        return fail(std::string("broadcast: ") + std::strerror(errno));

    // Replies: one per receiver, each naming its own address and the port.
    std::map<std::string, std::string> serialByAddr;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyWaitMs);
    unsigned char buf[2048];
    while (serialByAddr.size() < addrs.size()) {
        sockaddr_in from{};
        const int n = receive(fd, buf, sizeof buf, &from, end);
        if (n < 0)
            break;
        if (n == 24 && std::memcmp(buf, kRequest, 24) == 0)
            continue; // our own broadcast, looped back
        if (n != 24 || buf[0] != 0x12 || buf[1] != 0xFF || buf[2] != 0x01 || buf[3] != 0x1A)
            return fail("unexpected datagram of " + std::to_string(n) + " bytes");
        char addr[32], serial[32];
        std::snprintf(addr, sizeof addr, "%u.%u.%u.%u", buf[10], buf[11], buf[12], buf[13]);
        const unsigned serialNumber =
            unsigned(buf[4]) | unsigned(buf[5]) << 8 | unsigned(buf[6]) << 16 | unsigned(buf[7]) << 24;
        std::snprintf(serial, sizeof serial, "RVD01%02x%02x%05u", buf[8], buf[9], serialNumber);
        if (u16(buf + 18) != kPort || u16(buf + 20) != 0)
            return fail(std::string("bad port or status in the reply from ") + addr);
        if (!serialByAddr.emplace(addr, serial).second)
            return fail(std::string("two replies announce ") + addr);
        std::printf("netns_probe: found %s at %s:%u\n", serial, addr, u16(buf + 18));
    }
    if (serialByAddr.size() != addrs.size())
        return fail("expected " + std::to_string(addrs.size()) + " replies, got " +
                    std::to_string(serialByAddr.size()));
    std::set<std::string> serials;
    for (const std::string &a : addrs) {
        if (!serialByAddr.count(a))
            return fail("no reply announces " + a);
        serials.insert(serialByAddr[a]);
    }
    if (serials.size() != addrs.size())
        return fail("receivers share a serial");

    // Each receiver streams to the host across the veth: start, take and acknowledge a few, stop.
    for (const std::string &a : addrs) {
        unsigned char start[68] = {0x12, 0xFF, 0x01, 0x00, 50, 0};
        start[10] = 1;
        start[56] = 1;
        const sockaddr_in to = endpoint(a, kPort);
        sendto(fd, start, sizeof start, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        int streamed = 0;
        bool replied = false;
        const auto streamEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(kReplyWaitMs);
        while (streamed < 20 || !replied) {
            sockaddr_in from{};
            const int n = receive(fd, buf, sizeof buf, &from, streamEnd);
            if (n < 0)
                return fail("stream from " + a + " stalled after " + std::to_string(streamed));
            if (from.sin_addr.s_addr != to.sin_addr.s_addr)
                continue; // the previous receiver, still finishing its stream
            if (n == 18 && u16(buf + 2) == 0x0001) {
                replied = true;
            } else if (n == 1210 && u16(buf + 2) == 0xFFFE) {
                if (u16(buf + 6) != unsigned(streamed))
                    return fail("sequence " + std::to_string(u16(buf + 6)) + " instead of " +
                                std::to_string(streamed));
                buf[4] = buf[5] = 0;
                sendto(fd, buf, 10, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
                ++streamed;
            }
        }
        unsigned char stop[22] = {0x12, 0xFF, 0x02, 0x00, 4, 0};
        stop[10] = 1;
        sendto(fd, stop, sizeof stop, 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        std::printf("netns_probe: %s streamed %d datagrams\n", a.c_str(), streamed);
    }
    close(fd);
    std::printf("netns_probe: ok\n");
    return 0;
}
