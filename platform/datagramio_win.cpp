#include "platform/datagramio.h"

#include <winsock2.h>

namespace platform {

int receiveDatagram(std::intptr_t socket, unsigned char *buffer, int capacity, std::uint32_t *senderIPv4)
{
    sockaddr_in from{};
    int length = sizeof from;
    const int got = ::recvfrom(SOCKET(socket), reinterpret_cast<char *>(buffer), capacity, 0,
                               reinterpret_cast<sockaddr *>(&from), &length);
    if (got == SOCKET_ERROR)
        return WSAGetLastError() == WSAEWOULDBLOCK ? kNoDatagram : kReadFailed;
    *senderIPv4 = from.sin_family == AF_INET ? ntohl(from.sin_addr.s_addr) : 0;
    return got;
}

bool sendDatagram(std::intptr_t socket, const unsigned char *data, int size, std::uint32_t ipv4,
                  std::uint16_t port)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(ipv4);
    to.sin_port = htons(port);
    return ::sendto(SOCKET(socket), reinterpret_cast<const char *>(data), size, 0,
                    reinterpret_cast<const sockaddr *>(&to), sizeof to) == size;
}

} // namespace platform
