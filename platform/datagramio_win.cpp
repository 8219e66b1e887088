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

// Winsock has no batch calls for UDP: a batch is a loop of single ones.
int receiveDatagrams(std::intptr_t socket, DatagramSlot *slots, int count)
{
    int filled = 0;
    while (filled < count) {
        DatagramSlot &slot = slots[filled];
        slot.size = receiveDatagram(socket, slot.data, slot.capacity, &slot.senderIPv4);
        if (slot.size == kNoDatagram)
            break;
        ++filled;
        if (slot.size == kReadFailed)
            break;
    }
    return filled;
}

int sendDatagrams(std::intptr_t socket, const unsigned char *const *data, const int *sizes, int count,
                  std::uint32_t ipv4, std::uint16_t port)
{
    int sent = 0;
    for (int k = 0; k < count; ++k)
        sent += sendDatagram(socket, data[k], sizes[k], ipv4, port) ? 1 : 0;
    return sent;
}

} // namespace platform
