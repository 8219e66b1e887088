#pragma once

#include <QString>
#include <QtGlobal>

// What the information box shows about a connected receiver.
struct ReceiverInfo
{
    // Bits of statusFlags; all others carry nothing.
    enum StatusFlag : quint32 {
        PllPresent = 0x001, // only when set do the other PLL bits mean anything
        Pll1Lock = 0x002,
        Pll2Lock = 0x004,
        ExtRefOk = 0x008,
        IntRefOk = 0x010,
        VcxoOk = 0x040,
        Pll2FbClockOk = 0x080,
        Pll2RefClockOk = 0x100,
        RefModeInternal = 0x800, // clear: external reference mode
    };

    QString name;
    QString serial;
    quint16 rawWord0 = 0;
    quint16 deviceType = 0;
    quint16 versionMajor = 0;
    quint16 versionMinor = 0;
    quint32 rawValue8 = 0;
    quint32 rawValue16 = 0;
    QString id;
    quint32 statusFlags = 0;
    quint32 pcbRevision = 0;
};

namespace receiverinfo {

constexpr int kBlockBytes = 36;

// Fills the numeric fields and `id` from the 36-byte device-information block. `name` and `serial`
// come from the connection, not from the block, and stay empty here.
ReceiverInfo fromBlock(const quint8 *block);

} // namespace receiverinfo
