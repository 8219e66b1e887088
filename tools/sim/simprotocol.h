#pragma once

// The receiver's side of the wire: recognising requests and building replies, as pure functions over
// byte buffers so they can be checked against fixed byte vectors.

#include "tools/sim/simconfig.h"

#include <QByteArray>
#include <QString>

namespace sim {

// The one datagram a receiver answers with its identity: 12 FF 00 1A, 18 zeros, checksum EC E6.
bool isDiscoveryRequest(const uchar *d, int len);
QByteArray discoveryRequest();
QByteArray discoveryReply(const ReceiverConfig &rx, quint32 ipv4, quint16 port);

// "RVD01" + two hex bytes + five decimal digits; larger serial numbers show all their digits.
QString receiverIdentifier(quint32 serialNumber, quint8 a, quint8 b);

bool hasControlSignature(const uchar *d, int len);
// The exact request length of a known command, or -1 for a code the receiver does not know.
int commandLength(quint16 code);

// An 18-byte header echoing code and channel, status 1, followed by payloadLength zero bytes.
QByteArray replyHeader(quint16 code, quint32 channel, int payloadLength);
QByteArray calibrationReply(const Calibration &cal);
QByteArray deviceInfoReply(const ReceiverConfig &rx);
// The reply the receiver sends to a well-formed command, before any fault is applied.
QByteArray commandReply(const uchar *request, int len, const ReceiverConfig &rx, const Calibration &cal);
// Truncates or zero-pads a reply to len bytes.
QByteArray resized(QByteArray reply, int len);

// Payload readers; the caller has checked the request length.
int startRateIndex(const uchar *request); // 0..3; larger words fall back to 0
double tuningHz(const uchar *request);    // from 0.1 Hz units
quint32 switchValue(const uchar *request);

// Internet checksum (RFC 1071) over little-endian 16-bit words.
quint16 internetChecksum(const uchar *d, int len);

} // namespace sim
