#pragma once

// Little-endian field access on byte buffers. Every multi-byte field on the wire is little-endian;
// read and write them only through these helpers, after checking the buffer is long enough.

#include <QByteArray>
#include <QtEndian>
#include <QtGlobal>

#include <cstring>

namespace wire {

inline quint16 readU16(const uchar *d)
{
    return qFromLittleEndian<quint16>(d);
}
inline quint32 readU32(const uchar *d)
{
    return qFromLittleEndian<quint32>(d);
}
inline quint64 readU64(const uchar *d)
{
    return qFromLittleEndian<quint64>(d);
}
inline double readF64(const uchar *d)
{
    const quint64 bits = readU64(d);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}
inline void writeU16(uchar *d, quint16 v)
{
    qToLittleEndian<quint16>(v, d);
}
inline void writeU32(uchar *d, quint32 v)
{
    qToLittleEndian<quint32>(v, d);
}
inline void writeU64(uchar *d, quint64 v)
{
    qToLittleEndian<quint64>(v, d);
}
inline void writeF64(uchar *d, double v)
{
    quint64 bits;
    std::memcpy(&bits, &v, sizeof bits);
    writeU64(d, bits);
}

inline const uchar *bytes(const QByteArray &d)
{
    return reinterpret_cast<const uchar *>(d.constData());
}
inline uchar *bytes(QByteArray &d)
{
    return reinterpret_cast<uchar *>(d.data());
}

// QByteArray forms; the caller has checked that at + width <= d.size().
inline quint16 readU16(const QByteArray &d, int at)
{
    return readU16(bytes(d) + at);
}
inline quint32 readU32(const QByteArray &d, int at)
{
    return readU32(bytes(d) + at);
}
inline quint64 readU64(const QByteArray &d, int at)
{
    return readU64(bytes(d) + at);
}
inline double readF64(const QByteArray &d, int at)
{
    return readF64(bytes(d) + at);
}
inline void writeU16(QByteArray &d, int at, quint16 v)
{
    writeU16(bytes(d) + at, v);
}
inline void writeU32(QByteArray &d, int at, quint32 v)
{
    writeU32(bytes(d) + at, v);
}
inline void writeU64(QByteArray &d, int at, quint64 v)
{
    writeU64(bytes(d) + at, v);
}
inline void writeF64(QByteArray &d, int at, double v)
{
    writeF64(bytes(d) + at, v);
}

} // namespace wire
