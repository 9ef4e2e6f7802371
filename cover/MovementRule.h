#pragma once

#include <QtGlobal>

namespace vb {

// The cover window's movement rule: which pointer reports end a full-screen run.
//
// A report at least 5 twips away from the remembered position on either axis is a movement,
// unless nothing has been remembered yet (the remembered position is still (0, 0)): then it is
// taken as the first report of where the pointer is. A report that does not end the run is
// remembered, rounded to whole twips, so the rule follows drift below the threshold.
class MovementRule
{
public:
    static constexpr float Threshold = 5.0f;

    // `Form_MouseMove` in a full-screen run with the pointer at (X, Y) twips: true when the run
    // is to end; the remembered position then stays as it was.
    bool Report(float X, float Y);

    // Whole twips, 32 bits wide: screens wider than 2184 pixels reach beyond 32767 twips.
    qint32 LastMouseX = 0;
    qint32 LastMouseY = 0;
};

} // namespace vb
