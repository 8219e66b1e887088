// The discovery reply parser on arbitrary datagrams, and the checksum that guards the request.

#include "discovery/discoveryprotocol.h"
#include "protocol/discovery.h"

#include <cstdio>
#include <cstdlib>

namespace {

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "discovery parser broke a promise: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A detached copy of exactly `size` bytes, so a read past the end is caught.
    const QByteArray datagram(reinterpret_cast<const char *>(data), int(size));

    Receiver untouched;
    untouched.port = 4321;
    Receiver r = untouched;
    const bool parsed = discovery::parseReply(datagram, &r);
    if (!parsed) {
        check(r.port == untouched.port && r.serial.isEmpty(), "a rejected reply leaves the record alone");
    } else {
        // Every field lies in the first 22 bytes; a shorter datagram is no reply.
        check(size >= 22, "accepts only replies holding every field");
        check(data[0] == 0x12 && data[1] == 0xFF && data[2] == 0x01 && data[3] == 0x1A,
              "checks the signature");
        check(r.serial.startsWith(QLatin1String("RVD01")) && r.serial.size() >= 14, "builds the identifier");
        check(r.port == wire::readU16(data + 18), "reads the port");
        check(r.address.protocol() == QAbstractSocket::IPv4Protocol, "reads an IPv4 address");
    }

    // With its checksum appended, any even-length message sums to zero.
    if (size % 2 == 0 && size <= 4096) {
        QByteArray sealed = datagram;
        sealed.append(2, '\0');
        wire::writeU16(sealed, int(size), discovery::internetChecksum(datagram));
        check(discovery::internetChecksum(sealed) == 0, "the checksum closes over its own word");
    }
    return 0;
}
