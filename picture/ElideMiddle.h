#pragma once

#include <QString>
#include <QStringView>
#include <functional>

namespace vb {

// The text shortened in the middle with "..." so that it is at most `room` wide, as measured by
// `width`: as many whole characters (grapheme clusters) as fit are kept, half from the start and
// half from the end, so that both ends stay visible. Text that fits comes back unchanged; where
// not even the dots fit, the dots alone.
QString ElideMiddle(const QString& text, qreal room, const std::function<qreal(QStringView)>& width);

} // namespace vb
