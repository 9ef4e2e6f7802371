#pragma once

#include <QObject>

namespace vb::x11 {

// Before the application is made: when Qt is going to use its xcb plugin, checks that the X
// server can be reached, and throws RuntimeError (Device I/O error) when not. Qt's plugin would
// abort the process with a core dump instead.
void RequireDisplay();

// Ends the process cleanly when its connection to the X server breaks: the server was killed or
// crashed. Qt's xcb plugin notices as well, but then prints a warning of its own and calls
// exit(), which runs the destructors of windows whose server is gone. Instead, this writes the
// runtime's one-line report and ends the process at once with status 1.
//
// Qt warns before it gives up, so every message Qt writes first passes a check of the
// connection's error state. No timer polls it: a screen saver that waits for an hour must not
// wake up for nothing. One instance at a time, made after the application; without an X
// connection it does nothing.
class ConnectionWatch final : public QObject
{
    Q_OBJECT

public:
    explicit ConnectionWatch(QObject* parent = nullptr);
    ~ConnectionWatch() override;

private:
    bool m_installed = false;
};

} // namespace vb::x11
