#include "driver/receiverinfo.h"

#include "discovery/identifier.h"
#include "protocol/commands.h"

namespace receiverinfo {

ReceiverInfo fromBlock(const quint8 *block)
{
    ReceiverInfo info;
    info.rawWord0 = wire::readU16(block + wire::kInfoRawWord0Offset);
    info.deviceType = wire::readU16(block + wire::kInfoDeviceTypeOffset);
    info.versionMajor = wire::readU16(block + wire::kInfoVersionMajorOffset);
    info.versionMinor = wire::readU16(block + wire::kInfoVersionMinorOffset);
    info.rawValue8 = wire::readU32(block + wire::kInfoRawValue8Offset);
    info.rawValue16 = wire::readU32(block + wire::kInfoRawValue16Offset);
    info.id = receiverIdentifier(block[wire::kInfoSerialByteAOffset], block[wire::kInfoSerialByteBOffset],
                                 wire::readU32(block + wire::kInfoSerialNumberOffset));
    info.statusFlags = wire::readU32(block + wire::kInfoStatusFlagsOffset);
    info.pcbRevision = wire::readU32(block + wire::kInfoPcbRevisionOffset);
    return info;
}

} // namespace receiverinfo
