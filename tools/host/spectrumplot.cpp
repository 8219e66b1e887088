#include "tools/host/spectrumplot.h"

#include "tools/host/spectrum.h"

#include <QFont>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace {

const QColor kBackground(0x12, 0x16, 0x1c);
const QColor kPlotArea(0x18, 0x1e, 0x26);
const QColor kGrid(0x2e, 0x37, 0x42);
const QColor kText(0xd8, 0xde, 0xe6);
const QColor kDimText(0x9a, 0xa5, 0xb1);
const QColor kTrace(0x4f, 0xc3, 0xf7);
const QColor kCentre(0xff, 0xb3, 0x47);

QString frequencyText(double hz, double step, bool megahertz)
{
    const double unit = megahertz ? 1e6 : 1e3;
    int decimals = 0;
    while (decimals < 6 && std::fabs(step / unit * std::pow(10.0, decimals) -
                                     std::round(step / unit * std::pow(10.0, decimals))) > 1e-6)
        ++decimals;
    return QString::number(hz / unit, 'f', decimals);
}

QString groupedNumber(double v)
{
    QLocale c = QLocale::c();
    c.setNumberOptions(QLocale::DefaultNumberOptions);
    return c.toString(qlonglong(std::llround(v))).replace(QLatin1Char(','), QChar(0x2009));
}

} // namespace

double niceStep(double span, int wanted)
{
    if (span <= 0 || wanted < 1)
        return 1;
    const double raw = span / wanted;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * power >= raw)
            return m * power;
    }
    return 10 * power;
}

QImage renderSpectrum(const SpectrumData &data, int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(kBackground);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);

    QFont titleFont(QStringLiteral("DejaVu Sans"));
    titleFont.setPixelSize(20);
    titleFont.setBold(true);
    QFont labelFont(QStringLiteral("DejaVu Sans"));
    labelFont.setPixelSize(13);
    const QFontMetrics labelMetrics(labelFont);

    const QRect plot(86, 78, width - 86 - 28, height - 78 - 66);
    p.fillRect(plot, kPlotArea);

    // Title and subtitle.
    const bool megahertz = data.loHz >= 1e6;
    p.setPen(kText);
    p.setFont(titleFont);
    const QString lo = megahertz ? QStringLiteral("%1 MHz").arg(data.loHz / 1e6, 0, 'f', 6)
                                 : QStringLiteral("%1 kHz").arg(data.loHz / 1e3, 0, 'f', 3);
    p.drawText(QRect(0, 12, width, 28), Qt::AlignHCenter | Qt::AlignVCenter,
               QStringLiteral("Spectrum at LO %1, %2 samples/s").arg(lo, groupedNumber(data.sampleRateHz)));
    p.setFont(labelFont);
    p.setPen(kDimText);
    p.drawText(QRect(0, 42, width, 22), Qt::AlignHCenter | Qt::AlignVCenter,
               QStringLiteral("Average of %1 FFTs of %2 points (Blackman-Harris), %3")
                   .arg(groupedNumber(double(data.frames)))
                   .arg(data.points)
                   .arg(data.span));

    if (data.dbfs.empty()) {
        p.setPen(kText);
        p.drawText(plot, Qt::AlignCenter, QStringLiteral("No samples were received"));
        return image;
    }

    // Vertical range: from a little above the strongest bin down to below the noise floor.
    std::vector<double> sorted = data.dbfs;
    std::sort(sorted.begin(), sorted.end());
    const double peak = sorted.back();
    const double floorDb = sorted[sorted.size() / 10];
    double top = std::ceil((peak + 5) / 10) * 10;
    double bottom = std::floor((floorDb - 15) / 10) * 10;
    bottom = std::clamp(bottom, top - 160, top - 60);
    top = std::min(top, 10.0);
    if (bottom >= top)
        bottom = top - 60;
    // Whole grid steps, so every horizontal line carries a round label.
    const double dbStep = std::max(10.0, niceStep(top - bottom, 8));
    top = std::ceil(top / dbStep) * dbStep;
    bottom = std::floor(bottom / dbStep) * dbStep;

    const double fLow = data.loHz - data.sampleRateHz / 2;
    const double fHigh = data.loHz + data.sampleRateHz / 2;
    auto xOf = [&](double hz) { return plot.left() + (hz - fLow) / (fHigh - fLow) * plot.width(); };
    auto yOf = [&](double db) { return plot.top() + (top - db) / (top - bottom) * plot.height(); };

    // Grid and axis labels.
    p.setFont(labelFont);
    QPen gridPen(kGrid);
    gridPen.setWidthF(1);
    for (double db = top; db >= bottom - 1e-9; db -= dbStep) {
        const double y = yOf(db);
        p.setPen(gridPen);
        p.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
        p.setPen(kDimText);
        p.drawText(QRectF(0, y - 10, plot.left() - 8, 20), Qt::AlignRight | Qt::AlignVCenter,
                   QString::number(db, 'f', 0));
    }
    const double fStep = niceStep(fHigh - fLow, 10);
    for (double f = std::ceil(fLow / fStep) * fStep; f <= fHigh + 1e-6; f += fStep) {
        const double x = xOf(f);
        p.setPen(gridPen);
        p.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        const QString text = frequencyText(f, fStep, megahertz);
        const int w = labelMetrics.horizontalAdvance(text);
        if (x - w / 2.0 < 0 || x + w / 2.0 > width)
            continue;
        p.setPen(kDimText);
        p.drawText(QRectF(x - w / 2.0 - 2, plot.bottom() + 6, w + 4, 18), Qt::AlignCenter, text);
    }
    p.setPen(kText);
    p.drawText(QRect(plot.left(), height - 30, plot.width(), 22), Qt::AlignCenter,
               megahertz ? QStringLiteral("Frequency (MHz)") : QStringLiteral("Frequency (kHz)"));
    p.save();
    p.translate(22, plot.center().y());
    p.rotate(-90);
    p.drawText(QRect(-100, -11, 200, 22), Qt::AlignCenter, QStringLiteral("Power (dBFS)"));
    p.restore();

    // LO marker.
    QPen centrePen(kCentre);
    centrePen.setStyle(Qt::DashLine);
    p.setPen(centrePen);
    p.drawLine(QPointF(xOf(data.loHz), plot.top()), QPointF(xOf(data.loHz), plot.bottom()));
    p.drawText(QRectF(xOf(data.loHz) + 4, plot.bottom() - 20, 40, 18), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("LO"));

    // The trace: the strongest bin under each pixel column, so narrow tones are never lost.
    const int n = int(data.dbfs.size());
    QPainterPath trace;
    for (int column = 0; column < plot.width(); ++column) {
        const int first = int(double(column) * n / plot.width());
        const int last = std::max(first + 1, int(double(column + 1) * n / plot.width()));
        double v = -1e9;
        for (int k = first; k < std::min(last, n); ++k)
            v = std::max(v, data.dbfs[size_t(k)]);
        const QPointF point(plot.left() + column + 0.5,
                            std::clamp(yOf(v), double(plot.top()), double(plot.bottom())));
        if (column == 0)
            trace.moveTo(point);
        else
            trace.lineTo(point);
    }
    QPainterPath fill = trace;
    fill.lineTo(plot.right() + 0.5, plot.bottom());
    fill.lineTo(plot.left() + 0.5, plot.bottom());
    fill.closeSubpath();
    QLinearGradient gradient(0, plot.top(), 0, plot.bottom());
    gradient.setColorAt(0, QColor(0x4f, 0xc3, 0xf7, 110));
    gradient.setColorAt(1, QColor(0x4f, 0xc3, 0xf7, 15));
    p.setClipRect(plot);
    p.fillPath(fill, gradient);
    QPen tracePen(kTrace);
    tracePen.setWidthF(1.4);
    p.setPen(tracePen);
    p.drawPath(trace);
    p.setClipping(false);

    // Name the strongest signal, so the picture answers "what is where" without a cursor.
    const std::vector<int> peaks = strongestPeaks(data.dbfs, 1);
    if (!peaks.empty()) {
        const int k = peaks[0];
        const double offset = binOffsetHz(k, n, data.sampleRateHz);
        const QPointF at(xOf(data.loHz + offset),
                         std::clamp(yOf(data.dbfs[size_t(k)]), double(plot.top()), double(plot.bottom())));
        const QString text =
            QStringLiteral("%1 dBFS at %2 %3 (%4%5 kHz)")
                .arg(data.dbfs[size_t(k)], 0, 'f', 1)
                .arg((data.loHz + offset) / (megahertz ? 1e6 : 1e3), 0, 'f', megahertz ? 6 : 3)
                .arg(megahertz ? QStringLiteral("MHz") : QStringLiteral("kHz"))
                .arg(offset >= 0 ? QStringLiteral("+") : QString())
                .arg(offset / 1e3, 0, 'f', 2);
        const int w = labelMetrics.horizontalAdvance(text) + 12;
        const bool left = at.x() + 10 + w > plot.right();
        const QRectF box(left ? at.x() - 10 - w : at.x() + 10, std::max(at.y() - 10, double(plot.top() + 4)),
                         w, 20);
        p.setPen(kCentre);
        p.setBrush(kCentre);
        p.drawEllipse(at, 3, 3);
        p.setBrush(QColor(0x12, 0x16, 0x1c, 210));
        p.drawRoundedRect(box, 4, 4);
        p.setPen(kText);
        p.drawText(box, Qt::AlignCenter, text);
    }

    p.setPen(kGrid);
    p.setBrush(Qt::NoBrush);
    p.drawRect(plot);
    return image;
}
