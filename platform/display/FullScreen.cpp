#include "platform/display/FullScreen.h"

#include "platform/display/DisplayServer.h"
#include "platform/x11/X11DevicePixels.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>
#include <optional>

namespace vb {

namespace {

// A monitor in device pixels, near enough to tell which lies inside which: Qt keeps a screen's
// origin in device pixels and its size in logical ones.
QRect DeviceArea(const QScreen& screen)
{
    const QRect logical = screen.geometry();
    return QRect(logical.topLeft(), (QSizeF(logical.size()) * screen.devicePixelRatio()).toSize());
}

qint64 Pixels(const QRect& area)
{
    return qint64(area.width()) * area.height();
}

// The scale of the monitor a window's Wayland surface was made for, kept on the window.
constexpr char SurfaceScale[] = "vbSurfaceScale";

} // namespace

bool NeedsNewWindow(const QWidget& window, const QScreen& screen)
{
    const QVariant madeFor = window.property(SurfaceScale);
    return CurrentDisplayServer() == DisplayServer::Wayland && window.isVisible() && madeFor.isValid() &&
           madeFor.toReal() != screen.devicePixelRatio();
}

void ShowFullScreen(QWidget& window, QScreen& screen)
{
    const bool wayland = CurrentDisplayServer() == DisplayServer::Wayland;
    const bool moved = window.screen() != &screen;
    if (moved)
        window.setScreen(&screen);
    // The geometry goes first: setting it afterwards takes the full-screen state away again, and
    // a compositor such as sway then tiles the window (through Xwayland). On Wayland it also
    // decides the output whose scale a surface made now takes.
    if (window.geometry() != screen.geometry())
        window.setGeometry(screen.geometry());
    // At a fractional scale factor the logical geometry comes out a pixel off the monitor in
    // device pixels: the native window is placed on the monitor's own, before the window shows,
    // so that its first resize already has them.
    if (CurrentDisplayServer() == DisplayServer::X11)
        if (const auto device = x11::MonitorGeometry(screen))
            x11::PlaceOnDevicePixels(x11::WindowId(window.winId()), *device);
    // On Wayland a client cannot place its windows: the full-screen request names the output, the
    // one of the window's screen when the request is made. A shown window asks anew for its new one.
    if (moved && window.isVisible() && wayland)
        window.setWindowState(window.windowState() & ~Qt::WindowFullScreen);
    window.setWindowState(window.windowState() | Qt::WindowFullScreen);
    if (!window.isVisible())
        window.show();
    window.setProperty(SurfaceScale, screen.devicePixelRatio());
}

QSize DeviceSize(const QWidget& window)
{
    if (CurrentDisplayServer() != DisplayServer::X11 || !window.internalWinId())
        return QSize();
    const std::optional<QSize> size = x11::ClientSize(x11::WindowId(window.internalWinId()));
    if (!size)
        return QSize();
    // The server's size lags behind the widget's while a window manager has yet to apply the
    // geometry asked for (sway full-screens an Xwayland window after it maps, and its configure
    // then matches what Qt already has, so no resize follows). Only a size that is the widget's in
    // device pixels, give or take the rounding of a fractional scale, is the window's own.
    const qreal ratio = window.devicePixelRatioF();
    const qreal slack = std::ceil(ratio);
    if (std::abs(size->width() - window.width() * ratio) > slack ||
        std::abs(size->height() - window.height() * ratio) > slack)
        return QSize();
    return *size;
}

QScreen* CoveringScreen(QScreen* screen)
{
    if (!screen || CurrentDisplayServer() != DisplayServer::X11)
        return screen;
    // Of monitors with the same area, the first listed covers the others.
    const QList<QScreen*> screens = QGuiApplication::screens();
    const QRect area = DeviceArea(*screen);
    QScreen* covering = screen;
    for (QScreen* other : screens) {
        const QRect larger = DeviceArea(*other);
        const qint64 pixels = Pixels(larger), coveringPixels = Pixels(DeviceArea(*covering));
        // A pixel's slack: the sizes above are rounded.
        if (larger.adjusted(-1, -1, 1, 1).contains(area) &&
            (pixels > coveringPixels ||
             (pixels == coveringPixels && screens.indexOf(other) < screens.indexOf(covering))))
            covering = other;
    }
    return covering;
}

QList<QScreen*> ScreensToCover()
{
    QList<QScreen*> covered;
    for (QScreen* screen : QGuiApplication::screens())
        if (CoveringScreen(screen) == screen)
            covered.append(screen);
    return covered;
}

} // namespace vb
