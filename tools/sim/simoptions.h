#pragma once

// The command line of tarnix-sim.

#include "tools/sim/simconfig.h"

#include <QStringList>

namespace sim {

enum class ParseResult { Run, Help, Error };

// args excludes the program name.
ParseResult parseOptions(const QStringList &args, SimConfig *config, QString *error);
QString usage();

} // namespace sim
