#pragma once

#include <QColor>
#include <QString>

// One styled span of label text in the small HTML subset QLabel renders.
QString richText(const QString &text, const QColor &colour, int pointSize, bool bold, bool lineBreak);
