#include "discovery/identifier.h"

#include <QLatin1Char>

QString receiverIdentifier(quint8 serialByteA, quint8 serialByteB, quint32 serialNumber)
{
    constexpr int kHexDigits = 2;
    constexpr int kSerialDigits = 5;
    const QLatin1Char zero('0');
    return QStringLiteral("RVD01") + QString::number(serialByteA, 16).rightJustified(kHexDigits, zero) +
           QString::number(serialByteB, 16).rightJustified(kHexDigits, zero) +
           QString::number(serialNumber).rightJustified(kSerialDigits, zero);
}
