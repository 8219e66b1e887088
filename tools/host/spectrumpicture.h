#pragma once

#include <QString>

#include "tools/host/plainfile.h"

struct HostOptions;
class HostRun;

// The spectrum picture, drawn by a child copy of this program. Builds without FFTW have none:
// spectrumpicture_none.cpp answers for them.
bool spectrumSupported();

// The drawing child's whole work (--render-spectrum DATA PNG); returns the exit code.
int renderSpectrumChild(const HostOptions &options, char *argv0, PlainStream &err);

// Saves the run's spectrum and has a child copy of `self` draw it to options.spectrumPath.
bool drawSpectrum(const QString &self, const HostOptions &options, const HostRun &run, QString *error);
