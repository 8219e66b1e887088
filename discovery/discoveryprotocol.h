#pragma once

#include "discovery/receiver.h"

#include <QByteArray>

namespace discovery {

// RFC 1071 Internet checksum over little-endian 16-bit words (an odd trailing byte counts as the
// low byte of a last word).
quint16 internetChecksum(const QByteArray &data);

// The fixed 24-byte broadcast request: 12 FF 00 1A, eighteen zero bytes, then its checksum.
QByteArray buildRequest();

// Reads one answer. False, with `out` untouched, for anything that is not a reply: a wrong signature,
// or a datagram shorter than the 22 bytes that hold its fields (never read past its end).
bool parseReply(const QByteArray &datagram, Receiver *out);

} // namespace discovery
