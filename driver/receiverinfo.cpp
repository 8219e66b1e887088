#include "driver/receiverinfo.h"

#include "discovery/identifier.h"
#include "stream/wire.h"

namespace receiverinfo {

ReceiverInfo fromBlock(const quint8 *block)
{
    ReceiverInfo info;
    info.rawWord0 = wire::readU16(block + 0);
    info.deviceType = wire::readU16(block + 2);
    info.versionMajor = wire::readU16(block + 4);
    info.versionMinor = wire::readU16(block + 6);
    info.rawValue8 = wire::readU32(block + 8);
    info.rawValue16 = wire::readU32(block + 16);
    info.id = receiverIdentifier(block[24], block[25], wire::readU32(block + 20));
    info.statusFlags = wire::readU32(block + 28);
    info.pcbRevision = wire::readU32(block + 32);
    return info;
}

} // namespace receiverinfo
