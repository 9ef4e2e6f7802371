#include "picture/RowReducer.h"

#include <QRgb>
#include <algorithm>

namespace vb {

void RowReducer::Prepare(int fromWidth, int fromHeight, int toWidth, int toHeight)
{
    m_sourceWidth = fromWidth;
    m_sourceHeight = fromHeight;
    m_width = toWidth;
    m_height = toHeight;
    m_row = 0;
    m_consumed = 0;
    m_first.assign(size_t(m_width) + 1, 0);
    m_column.clear();
    m_weight.clear();
    for (int x = 0; x < m_width; ++x) {
        m_first[size_t(x)] = int(m_column.size());
        const qint64 from = qint64(x) * m_sourceWidth, to = from + m_sourceWidth;
        for (qint64 s = from / m_width; s * m_width < to; ++s) {
            const qint64 overlap = std::min((s + 1) * m_width, to) - std::max(s * m_width, from);
            m_column.push_back(int(s));
            m_weight.push_back(float(double(overlap) / double(m_sourceWidth)));
        }
    }
    m_first[size_t(m_width)] = int(m_column.size());
    m_sum.assign(size_t(m_sourceWidth) * 4, 0.0f);
}

void RowReducer::Add(const uchar* __restrict source, float share)
{
    float* __restrict total = m_sum.data();
    const size_t count = m_sum.size();
    for (size_t i = 0; i < count; ++i)
        total[i] += share * float(source[i]);
}

void RowReducer::Emit(QImage& into)
{
    auto* out = reinterpret_cast<QRgb*>(into.scanLine(m_row));
    const auto channel = [](float value) {
        return std::clamp(int(value + 0.5f), 0, 255);
    };
    for (int x = 0; x < m_width; ++x) {
        // All four channels alike (the fourth is unused), which the compiler does at once.
        float total[4] = {0, 0, 0, 0};
        for (int k = m_first[size_t(x)]; k < m_first[size_t(x) + 1]; ++k) {
            const float* pixel = m_sum.data() + size_t(m_column[size_t(k)]) * 4;
            const float w = m_weight[size_t(k)];
            for (int c = 0; c < 4; ++c)
                total[c] += w * pixel[c];
        }
        out[x] = qRgb(channel(total[2]), channel(total[1]), channel(total[0]));
    }
    std::fill(m_sum.begin(), m_sum.end(), 0.0f);
    ++m_row;
}

void RowReducer::Take(const uchar* source, QImage& into)
{
    const qint64 from = qint64(m_consumed) * m_height, to = from + m_height;
    ++m_consumed;
    qint64 at = from;
    while (at < to && m_row < m_height) {
        const qint64 rowEnd = qint64(m_row + 1) * m_sourceHeight;
        const qint64 end = std::min(to, rowEnd);
        Add(source, float(double(end - at) / double(m_sourceHeight)));
        at = end;
        if (end == rowEnd)
            Emit(into);
    }
}

} // namespace vb
