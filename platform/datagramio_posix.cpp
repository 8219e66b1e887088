#include "platform/datagramio.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

namespace platform {

namespace {
sockaddr_in addressOf(std::uint32_t ipv4, std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(ipv4);
    address.sin_port = htons(port);
    return address;
}
} // namespace

int receiveDatagram(std::intptr_t socket, unsigned char *buffer, int capacity, std::uint32_t *senderIPv4)
{
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t got = ::recvfrom(int(socket), buffer, size_t(capacity), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr *>(&from), &length);
    if (got < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK ? kNoDatagram : kReadFailed;
    *senderIPv4 = from.sin_family == AF_INET ? ntohl(from.sin_addr.s_addr) : 0;
    return int(got);
}

bool sendDatagram(std::intptr_t socket, const unsigned char *data, int size, std::uint32_t ipv4,
                  std::uint16_t port)
{
    const sockaddr_in to = addressOf(ipv4, port);
    return ::sendto(int(socket), data, size_t(size), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) ==
           ssize_t(size);
}

namespace {
// recvmmsg and sendmmsg take their headers in arrays; batches are cut into pieces of this size.
constexpr int kMaxBatch = 64;
} // namespace

int receiveDatagrams(std::intptr_t socket, DatagramSlot *slots, int count)
{
    count = std::min(count, kMaxBatch);
    mmsghdr headers[kMaxBatch];
    iovec pieces[kMaxBatch];
    sockaddr_in from[kMaxBatch];
    for (int k = 0; k < count; ++k) {
        pieces[k] = {slots[k].data, size_t(slots[k].capacity)};
        headers[k] = {};
        headers[k].msg_hdr.msg_name = &from[k];
        headers[k].msg_hdr.msg_namelen = sizeof from[k];
        headers[k].msg_hdr.msg_iov = &pieces[k];
        headers[k].msg_hdr.msg_iovlen = 1;
    }
    // A failure after the first datagram ends the call early and comes with the next one.
    const int got = count > 0 ? ::recvmmsg(int(socket), headers, unsigned(count), MSG_DONTWAIT, nullptr) : 0;
    if (got < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return 0;
        slots[0].size = kReadFailed;
        return 1;
    }
    for (int k = 0; k < got; ++k) {
        slots[k].size = int(headers[k].msg_len);
        slots[k].senderIPv4 = from[k].sin_family == AF_INET ? ntohl(from[k].sin_addr.s_addr) : 0;
    }
    return got;
}

int sendDatagrams(std::intptr_t socket, const unsigned char *const *data, const int *sizes, int count,
                  std::uint32_t ipv4, std::uint16_t port)
{
    const sockaddr_in to = addressOf(ipv4, port);
    int sent = 0, at = 0;
    while (at < count) {
        const int piece = std::min(count - at, kMaxBatch);
        mmsghdr headers[kMaxBatch];
        iovec pieces[kMaxBatch];
        for (int k = 0; k < piece; ++k) {
            pieces[k] = {const_cast<unsigned char *>(data[at + k]), size_t(sizes[at + k])};
            headers[k] = {};
            headers[k].msg_hdr.msg_name = const_cast<sockaddr_in *>(&to);
            headers[k].msg_hdr.msg_namelen = sizeof to;
            headers[k].msg_hdr.msg_iov = &pieces[k];
            headers[k].msg_hdr.msg_iovlen = 1;
        }
        // The call stops at the first datagram refused; that one is given up, as a single send's
        // would be, and the rest go on.
        const int went = std::max(::sendmmsg(int(socket), headers, unsigned(piece), 0), 0);
        sent += went;
        at += went < piece ? went + 1 : went;
    }
    return sent;
}

} // namespace platform
