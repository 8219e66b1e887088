#pragma once

#include <QImage>
#include <QString>

struct SpectrumData;

// Draws an averaged spectrum as a picture for people: dBFS over frequency around the LO, with a
// grid, labelled axes and a title. Text needs a QGuiApplication (fonts), so this runs in the
// host's drawing child process, never beside a loaded plug-in.
QImage renderSpectrum(const SpectrumData &data, int width = 1280, int height = 720);

// Tick step for `span` so that about `wanted` ticks fit: 1, 2 or 5 times a power of ten.
double niceStep(double span, int wanted);
