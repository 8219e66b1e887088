#include "ui/richtext.h"

QString richText(const QString &text, const QColor &colour, int pointSize, bool bold, bool lineBreak)
{
    QString html = QStringLiteral("<html><span style=\" font-size:") + QString::number(pointSize) +
                   QStringLiteral("pt; ");
    if (bold)
        html += QStringLiteral("font-weight:600; ");
    html += QStringLiteral("color:rgb( ") + QString::number(colour.red()) + QLatin1Char(',') +
            QString::number(colour.green()) + QLatin1Char(',') + QString::number(colour.blue()) +
            QStringLiteral(");\">") + text;
    if (lineBreak)
        html += QStringLiteral("<br/>");
    return html + QStringLiteral("</span></html>");
}
