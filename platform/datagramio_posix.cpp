#include "platform/datagramio.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

namespace platform {

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
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(ipv4);
    to.sin_port = htons(port);
    return ::sendto(int(socket), data, size_t(size), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to) ==
           ssize_t(size);
}

} // namespace platform
