#pragma once

#include <QRect>
#include <QSize>

#include <vector>

class QWidget;

// Room for translated captions. The design sizes were made for the English texts; a longer
// translation would be cut off, so its widget grows instead, and the widgets to its right in
// its row move aside. The English screen keeps its design geometry exactly.
namespace tavik::platform::qt {

// The width `widget` needs at `designSize` (a button, check box or label): the design width
// while its caption fits within what the style leaves for it, else the width the style asks
// for the whole caption.
int captionWidth(const QWidget* widget, QSize designSize);

// The design rectangles with the widths given: a widened widget keeps its left edge, a widget
// wholly to the right of it in its row moves right to keep clear of it (at least the gap the
// design left between them, up to kCaptionGap), and a row that would then pass `bounds` is
// pulled left again. Where nothing is widened, nothing moves.
std::vector<QRect> fittedGeometry(const std::vector<QRect>& design, const std::vector<int>& widths,
                                  const QRect& bounds);

inline constexpr int kCaptionGap = 6;

} // namespace tavik::platform::qt
