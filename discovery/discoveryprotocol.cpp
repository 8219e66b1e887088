#include "discovery/discoveryprotocol.h"

#include "discovery/identifier.h"
#include "stream/wire.h"

namespace discovery {

namespace {

constexpr quint8 kRequestCode = 0x00;
constexpr quint8 kReplyCode = 0x01;
constexpr quint8 kDiscoveryTag = 0x1A;
constexpr int kChecksumOffset = 22;
constexpr int kSerialNumberOffset = 4;
constexpr int kSerialByteAOffset = 8;
constexpr int kSerialByteBOffset = 9;
constexpr int kAddressOffset = 10;
constexpr int kPortOffset = 18;
constexpr int kStatusOffset = 20;

} // namespace

quint16 internetChecksum(const QByteArray &data)
{
    quint32 sum = 0;
    const uchar *d = wire::bytes(data);
    const int n = data.size();
    for (int at = 0; at + 1 < n; at += 2)
        sum += wire::readU16(d + at);
    if (n % 2)
        sum += d[n - 1];
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return quint16(~sum);
}

QByteArray buildRequest()
{
    QByteArray request(wire::kDiscoveryRequestBytes, '\0');
    uchar *d = wire::bytes(request);
    d[0] = wire::kSignature0;
    d[1] = wire::kSignature1;
    d[2] = kRequestCode;
    d[3] = kDiscoveryTag;
    // The checksum is computed while its own word is still zero.
    wire::writeU16(request, kChecksumOffset, internetChecksum(request));
    return request;
}

bool parseReply(const QByteArray &datagram, Receiver *out)
{
    if (datagram.size() < wire::kDiscoveryReplyBytes)
        return false;
    const uchar *d = wire::bytes(datagram);
    if (d[0] != wire::kSignature0 || d[1] != wire::kSignature1 || d[2] != kReplyCode || d[3] != kDiscoveryTag)
        return false;

    Receiver r;
    r.flag = wire::readU16(datagram, kStatusOffset) == 0;
    r.name = QStringLiteral("TarnixDDC");
    r.serial = receiverIdentifier(d[kSerialByteAOffset], d[kSerialByteBOffset],
                                  wire::readU32(datagram, kSerialNumberOffset));
    // The address travels most significant byte first (byte 10 is the first dotted number).
    const quint32 ipv4 = quint32(d[kAddressOffset]) << 24 | quint32(d[kAddressOffset + 1]) << 16 |
                         quint32(d[kAddressOffset + 2]) << 8 | quint32(d[kAddressOffset + 3]);
    r.address = QHostAddress(ipv4);
    r.port = wire::readU16(datagram, kPortOffset);
    *out = r;
    return true;
}

} // namespace discovery
