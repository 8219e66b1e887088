// tarnix-sim: plays network I/Q receivers for tests, benchmarks and trying the plug-in without hardware.

#include "tools/sim/simoptions.h"
#include "tools/sim/simulator.h"
#include "tools/sim/udpsocket.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {
constexpr int kExitBadUsage = 2;

void printErr(const QString &s)
{
    std::fprintf(stderr, "tarnix-sim: %s\n", qPrintable(s));
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments();
    args.removeFirst();

    sim::SimConfig config;
    QString error;
    switch (sim::parseOptions(args, &config, &error)) {
    case sim::ParseResult::Help:
        std::fputs(qPrintable(sim::usage()), stdout);
        return 0;
    case sim::ParseResult::Error:
        printErr(error);
        return kExitBadUsage;
    case sim::ParseResult::Run:
        break;
    }

    // Signals arrive as readable data on a descriptor the poll loop watches, so the loop ends cleanly
    // and the summary is written.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    const int stopFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);

    sim::Simulator simulator(config);
    if (!simulator.open(&error)) {
        printErr(error);
        return kExitBadUsage;
    }
    // The log tells resends by arrival stamps, so they must be live before anyone may send.
    if (!sim::waitForArrivalStamps(2000))
        printErr(QStringLiteral("arrival stamps are not working; resends will not be marked in the log"));
    for (const QString &line : simulator.describe())
        std::printf("%s\n", qPrintable(line));
    std::printf("tarnix-sim: ready\n");
    std::fflush(stdout);

    simulator.run(stopFd);

    int rc = 0;
    if (!simulator.writeSummary(&error)) {
        printErr(error);
        rc = 1;
    }
    std::fprintf(stderr, "%s\n", qPrintable(simulator.stats().summaryLine()));
    if (stopFd >= 0)
        ::close(stopFd);
    return rc;
}
