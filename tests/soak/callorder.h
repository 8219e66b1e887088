#pragma once

// Random orders of the twelve host calls for the robustness soak, in extio_probe's call syntax.

#include <QStringList>

#include <random>

// Up to `maxCalls` export calls (at least one) in a random order, with repeats and with calls before
// OpenHW and after CloseHW; short waits between some of them let a started stream run.
QStringList randomCallSequence(std::mt19937 &random, int maxCalls);
