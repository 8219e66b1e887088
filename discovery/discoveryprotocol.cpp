#include "discovery/discoveryprotocol.h"

#include "discovery/identifier.h"
#include "protocol/discovery.h"

namespace discovery {

namespace {
// Everything read lies in the first 22 bytes; the last two of the usual 24 are never examined.
constexpr int kReplyFieldsBytes = wire::kDiscoveryStatusOffset + 2;
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
    d[2] = wire::kDiscoveryRequestCode;
    d[3] = wire::kDiscoveryTag;
    // The checksum is computed while its own word is still zero.
    wire::writeU16(request, wire::kDiscoveryChecksumOffset, internetChecksum(request));
    return request;
}

bool parseReply(const QByteArray &datagram, Receiver *out)
{
    if (datagram.size() < kReplyFieldsBytes)
        return false;
    const uchar *d = wire::bytes(datagram);
    if (d[0] != wire::kSignature0 || d[1] != wire::kSignature1 || d[2] != wire::kDiscoveryReplyCode ||
        d[3] != wire::kDiscoveryTag)
        return false;

    Receiver r;
    r.flag = wire::readU16(datagram, wire::kDiscoveryStatusOffset) == 0;
    r.name = QStringLiteral("TarnixDDC");
    r.serial = receiverIdentifier(d[wire::kDiscoverySerialByteAOffset], d[wire::kDiscoverySerialByteBOffset],
                                  wire::readU32(datagram, wire::kDiscoverySerialNumberOffset));
    // The address travels most significant byte first (byte 10 is the first dotted number).
    const uchar *a = d + wire::kDiscoveryAddressOffset;
    const quint32 ipv4 = quint32(a[0]) << 24 | quint32(a[1]) << 16 | quint32(a[2]) << 8 | quint32(a[3]);
    r.address = QHostAddress(ipv4);
    r.port = wire::readU16(datagram, wire::kDiscoveryPortOffset);
    *out = r;
    return true;
}

} // namespace discovery
