#include "ui/display_text.h"

#include <QFontMetrics>
#include <QPainter>
#include <QTextDocument>

namespace DisplayText {
namespace {

// No window is wider than this many characters; shaping more only costs time on every paint.
constexpr qsizetype kMaxChars = 400;

bool isLineBreak(char32_t c)
{
    return c == u'\n' || c == u'\r' || c == 0x0b || c == 0x0c || c == 0x85 || c == 0x2028 ||
           c == 0x2029;
}

bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7f && c < 0xa0);
}

int widestDigit(const QFontMetrics& metrics)
{
    int widest = 0;
    for (char digit = '0'; digit <= '9'; ++digit)
        widest = qMax(widest, metrics.horizontalAdvance(QLatin1Char(digit)));
    return widest;
}

int advance(const QFontMetrics& metrics, QChar c, int digitWidth)
{
    return c.isDigit() && c.unicode() < 0x80 ? digitWidth : metrics.horizontalAdvance(c);
}

} // namespace

QString singleLine(const QString& text)
{
    QString shown = text;
    if (shown.size() > kMaxChars) {
        qsizetype cut = kMaxChars;
        // Never split a surrogate pair.
        if (shown.at(cut - 1).isHighSurrogate()) --cut;
        shown.truncate(cut);
        shown.append(QChar(0x2026));
    }
    for (QChar& c : shown) {
        const char32_t code = c.unicode();
        if (isLineBreak(code))
            c = QChar(0x21b5);
        else if (code == u'\t')
            c = QLatin1Char(' ');
        else if (isControl(code))
            c = QChar(QChar::ReplacementCharacter);
    }
    return shown;
}

QString isolated(const QString& text)
{
    return QChar(0x2068) + text + QChar(0x2069);
}

QString toolTip(const QString& text)
{
    // A tooltip guesses whether its text is markup: text that looks like markup is escaped.
    const QString line = singleLine(text);
    return Qt::mightBeRichText(line) ? Qt::convertFromPlainText(line, Qt::WhiteSpaceNormal) : line;
}

int tabularWidth(const QFontMetrics& metrics, const QString& text)
{
    const int digitWidth = widestDigit(metrics);
    int width = 0;
    for (QChar c : text)
        width += advance(metrics, c, digitWidth);
    return width;
}

void drawTabular(QPainter& painter, const QRect& rect, Qt::Alignment alignment, const QString& text)
{
    const QFontMetrics metrics = painter.fontMetrics();
    const int digitWidth = widestDigit(metrics);
    const int width = tabularWidth(metrics, text);
    int x = alignment & Qt::AlignRight ? rect.right() + 1 - width : rect.left();
    const int baseline = rect.top() + (rect.height() - metrics.height()) / 2 + metrics.ascent();
    for (QChar c : text) {
        const int cell = advance(metrics, c, digitWidth);
        // A narrow digit sits in the middle of its cell, as in a tabular font.
        const int inset = (cell - metrics.horizontalAdvance(c)) / 2;
        painter.drawText(QPoint(x + inset, baseline), QString(c));
        x += cell;
    }
}

} // namespace DisplayText
