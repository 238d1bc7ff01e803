#pragma once

#include <QRect>
#include <QString>

class QFontMetrics;
class QPainter;

/// Text from the file system is not text meant for a layout: a file name may hold line breaks,
/// control characters, direction overrides or thousands of characters. These helpers make such
/// text safe to draw on one line.
namespace DisplayText {

/// One displayable line: line breaks become "↵", other control characters "�", and the text is
/// capped at a length no window can show. Direction marks are kept; draw the result with
/// `isolated` so they cannot reorder the text around it.
QString singleLine(const QString& text);

/// `text` wrapped in a first-strong isolate, so the direction marks inside it end with it.
QString isolated(const QString& text);

/// A tooltip that shows `text` as it is, on one line: a file name such as "<b>x" is never read as
/// markup.
QString toolTip(const QString& text);

/// Width of `text` when every digit takes the width of the widest digit.
int tabularWidth(const QFontMetrics& metrics, const QString& text);

/// Draws one line of `text` with digits of equal width, vertically centred in `rect` and placed
/// left or right by `alignment`. The current font and pen are used.
void drawTabular(QPainter& painter, const QRect& rect, Qt::Alignment alignment,
                 const QString& text);

} // namespace DisplayText
