#pragma once

#include <QString>
#include <QtGlobal>

// The 14-character receiver identifier: "RVD01", the two serial bytes as two lower-case hex digits each,
// then the serial number as five zero-padded decimal digits. A serial number above 99999 keeps all of
// its digits (the identifier grows) rather than being cut, so two receivers never share one.
QString receiverIdentifier(quint8 serialByteA, quint8 serialByteB, quint32 serialNumber);
