#pragma once

#include <QByteArray>
#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

namespace vbtest {

// What the test's X server shows, and input sent to it, for tests of the real program.

// A screenshot of a window ("root" for the screen) of DISPLAY, or of `display`.
QImage Screenshot(const QString& window = "root", const QString& display = QString());

bool Xdotool(const QStringList& arguments);

// The pixel at `p` is near `colour`; false outside the image.
bool NearAt(const QImage& image, QPoint p, QRgb colour);

// The quadrant picture drawn into `rect` of `image`, with black just outside it.
bool ShowsQuadrants(const QImage& image, const QRect& rect);

// A monitor as RandR 1.5 defines it, on `output` ("none" for a monitor of its own), at 96 dots
// per inch; and one taken away.
bool SetMonitor(const QString& name, const QRect& geometry, const QString& output);
bool DeleteMonitor(const QString& name);

// Counts the windows mapped on the screen while it lives, as xev reports them on the root window.
class MapWatch
{
public:
    ~MapWatch();
    bool Start();
    // The windows mapped since Start, its own probes left out; -1 when xev stopped answering.
    int Maps();

private:
    // Maps a window of its own and waits for xev to report it; every window mapped before it has
    // been reported by then.
    bool Probe(int waitMs);

    QProcess m_xev;
    QByteArray m_seen;
    int m_probesSeen = 0;
};

} // namespace vbtest
