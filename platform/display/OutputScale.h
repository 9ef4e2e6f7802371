#pragma once

#include <QByteArray>

class QWidget;

namespace vb {

// How many of the monitor's device pixels one pixel of the window's drawing covers: the window
// is drawn at its device-pixel ratio, and the monitor may show that drawing reduced.
//
// 1 on X11, and on Wayland wherever the drawing is shown one to one: at whole-number scales, and
// where Qt draws at the output's own fractional scale (wp_fractional_scale_v1 with wp_viewporter,
// Qt 6.5 on). Below 1 where Qt draws at the next whole-number scale and the compositor reduces
// it: 0.75 at scale 1.5 (Qt 6.4, or a compositor without fractional scaling for clients, such as
// sway 1.7). A picture meant to cover its own size in device pixels is drawn larger by the inverse.
double DevicePixelsPerBufferPixel(const QWidget& window);

} // namespace vb

namespace vb {

// The ICC profile of the monitor that shows the window, where the desktop publishes one (on X11:
// colord or the desktop's settings, on the root window); empty elsewhere, and on Wayland, where
// the compositor manages colours itself.
QByteArray MonitorColourProfile(const QWidget& window);

} // namespace vb
