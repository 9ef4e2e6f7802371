#pragma once

#include "platform/x11/X11Windows.h"

#include <QRect>
#include <optional>

class QScreen;

namespace vb::x11 {

// Qt keeps window geometry in logical pixels and rounds it to device pixels, so at a fractional
// scale factor a window it places can be a pixel short of a monitor, or a pixel over it onto the
// next. These place our own windows on device pixels instead.

// The monitor a screen stands for, in device pixels, as RandR reports it; nullopt where the
// server has no RandR 1.5 or no monitor matches.
std::optional<QRect> MonitorGeometry(const QScreen& screen);

// Places our window at `geometry`, in device pixels relative to its parent, and gives it a black
// background, so that a pixel that Qt's drawing does not reach shows black, never what lies below.
void PlaceOnDevicePixels(WindowId window, const QRect& geometry);

} // namespace vb::x11
