#pragma once

// A non-blocking IPv4 UDP socket, just what the simulator needs.

#include <QString>
#include <QtGlobal>

#include <netinet/in.h>

namespace sim {

struct Endpoint
{
    quint32 address = 0; // host byte order
    quint16 port = 0;
    QString toString() const;
    bool operator==(const Endpoint &o) const { return address == o.address && port == o.port; }
};

class UdpSocket
{
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket &) = delete;
    UdpSocket &operator=(const UdpSocket &) = delete;

    // Binds with address reuse, so a wildcard socket and address-specific ones can share a port.
    bool bind(quint32 address, quint16 port, QString *error);
    int fd() const { return m_fd; }
    Endpoint local() const;

    // Length of the datagram read, or -1 when none is waiting. arrivalNs: when the kernel took
    // it in (CLOCK_REALTIME), which a simulator that was not scheduled for a while still knows.
    int receive(uchar *buffer, int capacity, Endpoint *from, qint64 *arrivalNs = nullptr);
    bool sendTo(const uchar *d, int len, const Endpoint &to);

    // The local address the system would use to reach `to`.
    static quint32 localAddressToward(const Endpoint &to);

private:
    int m_fd = -1;
};

sockaddr_in toSockaddr(const Endpoint &e);

// The kernel starts stamping arrivals a moment after the first socket asks for it; until then a
// datagram is stamped when it is read. Waits, at most timeoutMs, until a datagram sent to itself on
// loopback comes back stamped while it was being sent. False if that never happened.
bool waitForArrivalStamps(int timeoutMs);

} // namespace sim
