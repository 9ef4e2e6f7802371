#pragma once

#include "platform/display/DisplayServer.h"
#include "platform/x11/X11Windows.h"

#include <QHash>
#include <QObject>
#include <QSize>
#include <memory>
#include <optional>

namespace vb {

class InstanceRegistry;

namespace x11 {
class ConnectionWatch;
}

// The window services of one run, chosen once for the display server in use.
//
// X11: the window search reads the titles on the X server, a preview host's size comes from the
// X server, and a broken X connection ends the run with one line (x11::ConnectionWatch).
// Wayland: no X connection is opened. The window search finds a live run of this program that
// recorded the caption in the instance registry; no window id of another program can be measured
// (a preview always runs on X11), so ClientSize finds nothing; a compositor that goes away ends
// the run through Qt's Wayland plugin, with status 1. Other platforms (offscreen) find nothing.
//
// On every server the run's mode and the captions of its top-level windows are recorded in the
// registry, from the moment a caption is set until the window is gone.
class DisplaySession final : public QObject
{
    Q_OBJECT

public:
    // Made after the application, with a registry this process has registered in.
    DisplaySession(InstanceRegistry& registry, QString mode, QObject* parent = nullptr);
    ~DisplaySession() override;

    DisplayServer Server() const { return m_server; }
    // `FindWindowA` with no class, as the single-instance guard asks it: whether a window of
    // another program bears the caption (on Wayland, of another live run of this program).
    bool FindWindow(const QString& caption) const;
    // `GetClientRect`: nullopt when the id names no window.
    std::optional<QSize> ClientSize(x11::WindowId window) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void RecordCaptions();

    InstanceRegistry& m_registry;
    const QString m_mode;
    const DisplayServer m_server;
    std::unique_ptr<x11::ConnectionWatch> m_connectionWatch;
    QHash<QObject*, QString> m_captions;
};

} // namespace vb
