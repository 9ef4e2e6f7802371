#pragma once

#include "platform/X11Windows.h"

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QTimer>
#include <chrono>

namespace vb::x11 {

// Tells a preview that its host window is gone: destroyed by its program, or with it when that
// program died (the X server then destroys its windows). Qt says nothing in either case.
//
// Our window inside the host is destroyed with it, and the X server reports that as a
// DestroyNotify, which this filter sees first. As a fallback, and for a host id that named no
// window to begin with, the host is also looked up every `pollInterval`.
//
// Once the host is gone, X errors about it or about our window (Qt may still draw into the
// destroyed window before the run ends) are expected and kept away from Qt's error warnings.
class HostWatch final : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    HostWatch(WindowId host, WindowId embedded,
              std::chrono::milliseconds pollInterval = std::chrono::milliseconds(250),
              QObject* parent = nullptr);
    ~HostWatch() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    // Emitted once.
    void hostGone();

private:
    void Poll();
    void Report();

    WindowId m_host;
    WindowId m_embedded;
    bool m_gone = false;
    QTimer m_poll;
};

} // namespace vb::x11
