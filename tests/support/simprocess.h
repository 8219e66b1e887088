#pragma once

// Runs the receiver simulator (tarnix-sim) as a child process for end-to-end tests: inside the
// receiver network namespace when TARNIX_NETNS_RX is set, on loopback otherwise. Waits for its ready
// line, stops it with SIGTERM and reads back its summary and its log of received datagrams.

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

struct SimReceiverInfo
{
    int index = -1;
    QString identifier; // e.g. RVD010a1f00123
    QHostAddress address;
    quint16 port = 0;
};

struct SimSummary
{
    bool valid = false;
    quint64 sent = 0, resent = 0, acknowledged = 0, abandoned = 0, generated = 0;
    quint64 ackUnmatched = 0, ackMismatch = 0, received = 0, sendErrors = 0;
    QMap<quint16, quint64> commands; // by command code
    QMap<QString, quint64> faults;   // by option name without dashes, e.g. "drop"
    quint64 ackCount = 0, ackMedianUs = 0, ackP99Us = 0, ackMaxUs = 0;
};

struct SimLogEntry
{
    qint64 tUs = 0;
    int receiver = -1; // -1: the shared discovery socket
    QString source;    // a.b.c.d:port
    int length = 0;
    int code = -1;
    QByteArray bytes;    // the logged head of the datagram (whole for commands and acknowledgements)
    bool resend = false; // a command sent again before the simulator's reply to it could arrive
};

class SimProcess
{
public:
    SimProcess();
    ~SimProcess();
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    // TARNIX_SIM from the environment, else the binary this build made.
    static QString program();
    // "--receiver ADDR" for every address in TARNIX_RX_ADDRS (the rig's receiver side), else empty.
    static QStringList rigReceiverArgs();

    // Starts the simulator with args (a log and a summary file are added) and waits for "ready".
    bool start(const QStringList &args, int timeoutMs = 10000);
    // SIGTERM, wait for the exit, read the summary. True when it exited cleanly with a summary.
    bool stop(int timeoutMs = 10000);
    bool isRunning() const;
    qint64 processId() const { return m_process ? m_process->processId() : 0; }

    QList<SimReceiverInfo> receivers() const { return m_receivers; }
    quint16 discoveryPort() const { return m_discoveryPort; }
    SimSummary summary() const { return m_summary; }
    // The log as written so far (the simulator flushes it when it stops).
    QList<SimLogEntry> log() const;
    int exitCode() const { return m_exitCode; }
    QString output() const { return m_output; } // stdout and stderr so far
    QString errorString() const { return m_error; }

    static SimSummary parseSummary(const QByteArray &json);
    static bool parseLogLine(const QByteArray &line, SimLogEntry *entry);

private:
    void readOutput();

    std::unique_ptr<QProcess> m_process;
    QTemporaryDir m_dir;
    QString m_output;
    QString m_error;
    QList<SimReceiverInfo> m_receivers;
    quint16 m_discoveryPort = 0;
    SimSummary m_summary;
    int m_exitCode = -1;
};
