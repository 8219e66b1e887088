#pragma once

#include <cstdint>

namespace platform {

// Datagram reads and writes on a bound, non-blocking IPv4 UDP socket (a descriptor as
// QAbstractSocket::socketDescriptor() gives it), one system call each, or on Linux one per batch.
// The stream thread reads every datagram this way: QUdpSocket needs three calls per datagram (is
// one pending, how large, read it), and under Wine each is a round trip to its server.

constexpr int kNoDatagram = -1; // nothing waiting
constexpr int kReadFailed = -2; // the read failed (and took the socket's error away)

// Reads one datagram into `buffer` and its sender's IPv4 address (host byte order) into
// `senderIPv4`; returns its size, kNoDatagram or kReadFailed. A datagram larger than `capacity` is
// cut short: give a buffer as large as any datagram can be.
int receiveDatagram(std::intptr_t socket, unsigned char *buffer, int capacity, std::uint32_t *senderIPv4);

// Sends `size` bytes to `ipv4` (host byte order) at `port`; false when the system refused them.
bool sendDatagram(std::intptr_t socket, const unsigned char *data, int size, std::uint32_t ipv4,
                  std::uint16_t port);

// One datagram of a batch: the caller's buffer, and after a read its size (or kReadFailed) and sender.
struct DatagramSlot
{
    unsigned char *data = nullptr;
    int capacity = 0;
    int size = 0;
    std::uint32_t senderIPv4 = 0;
};

// Reads up to `count` waiting datagrams into `slots`, oldest first, in one system call where the
// system has one for it (Linux); returns how many slots were filled: 0 when nothing was waiting. A
// failed read fills its slot with kReadFailed and ends the batch.
int receiveDatagrams(std::intptr_t socket, DatagramSlot *slots, int count);

// Sends `count` datagrams (`data[k]`, `sizes[k]` bytes) to `ipv4` at `port`, in one system call where
// the system has one for it; returns how many the system took.
int sendDatagrams(std::intptr_t socket, const unsigned char *const *data, const int *sizes, int count,
                  std::uint32_t ipv4, std::uint16_t port);

// The largest payload a UDP datagram can carry over IPv4.
constexpr int kMaxDatagramBytes = 65507;

} // namespace platform
