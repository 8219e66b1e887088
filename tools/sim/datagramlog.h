#pragma once

// Every datagram the simulator received, one JSON object per line:
// {"t_us":..,"rx":..,"src":"a.b.c.d:p","len":..,"code":..,"hex":"..","resend":false}
// code is -1 for datagrams too short to carry one; hex holds at most kLogHexBytes bytes; resend
// marks a command that arrived before the reply to an identical earlier one was sent.

#include <QString>
#include <QtGlobal>

#include <cstdio>

namespace sim {

struct Endpoint;

constexpr int kLogHexBytes = 96; // whole commands and acknowledgements, the head of anything larger

class DatagramLog
{
public:
    DatagramLog() = default;
    ~DatagramLog();
    DatagramLog(const DatagramLog &) = delete;
    DatagramLog &operator=(const DatagramLog &) = delete;

    bool open(const QString &path, QString *error);
    bool isOpen() const { return m_file != nullptr; }
    // receiver -1: the shared discovery socket.
    void record(qint64 tUs, int receiver, const Endpoint &from, const uchar *d, int len, bool resend = false);
    void flush();

private:
    std::FILE *m_file = nullptr;
};

} // namespace sim
