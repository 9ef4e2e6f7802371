#pragma once

#include <QImage>
#include <QtGlobal>
#include <vector>

namespace vb {

// Averages the rows of a decoded picture into a smaller target as they come: every target pixel
// is the mean of the area of the source it covers, fractions of a pixel counted in proportion.
// The source's rows are summed, weighted, into one row until a target row is complete; that row
// is then reduced across. So no more than one row of the source is ever held. Lengths are
// compared in units of source x target, so that both sides are whole numbers.
class RowReducer
{
public:
    // A source of `fromWidth` x `fromHeight` pixels into a target of `toWidth` x `toHeight`, no
    // larger either way.
    void Prepare(int fromWidth, int fromHeight, int toWidth, int toHeight);

    // One more source row of 32-bit pixels (0xffRRGGBB, as QImage::Format_RGB32 holds them);
    // writes each target row it completes into `into` (Format_RGB32, of the target's size).
    void Take(const uchar* source, QImage& into);

private:
    void Add(const uchar* source, float share);
    void Emit(QImage& into);

    int m_sourceWidth = 0, m_sourceHeight = 0, m_width = 0, m_height = 0;
    // Across: the taps of target column x are m_first[x] .. m_first[x + 1] - 1, each a source
    // column and its weight.
    std::vector<int> m_first, m_column;
    std::vector<float> m_weight;
    // Down: the target row being summed, four channels per source column.
    std::vector<float> m_sum;
    int m_row = 0;      // the target row being summed
    int m_consumed = 0; // source rows taken so far
};

} // namespace vb
