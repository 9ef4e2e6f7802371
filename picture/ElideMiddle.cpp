#include "picture/ElideMiddle.h"

#include <QTextBoundaryFinder>
#include <vector>

namespace vb {

QString ElideMiddle(const QString& text, qreal room, const std::function<qreal(QStringView)>& width)
{
    if (width(text) <= room)
        return text;
    // Where each character starts, and the end of the text.
    std::vector<qsizetype> bounds;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = 0; at >= 0; at = finder.toNextBoundary())
        bounds.push_back(at);
    const qsizetype characters = qsizetype(bounds.size()) - 1;

    const QString dots = QStringLiteral("...");
    const auto shortened = [&](qsizetype kept) {
        const qsizetype head = (kept + 1) / 2;
        const qsizetype tail = kept / 2;
        const qsizetype tailStart = bounds[size_t(characters - tail)];
        return text.left(bounds[size_t(head)]) + dots + text.mid(tailStart);
    };
    // The widest that fits, by halving: keeping more characters never makes the text narrower.
    qsizetype fits = 0, tooWide = characters;
    while (tooWide - fits > 1) {
        const qsizetype middle = (fits + tooWide) / 2;
        if (width(shortened(middle)) <= room)
            fits = middle;
        else
            tooWide = middle;
    }
    return shortened(fits);
}

} // namespace vb
