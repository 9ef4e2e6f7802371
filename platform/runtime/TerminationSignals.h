#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;

namespace vb {

// Turns SIGTERM and SIGINT into a Qt signal on the event loop, so that a run stopped by a
// screen locker (xss-lock, xautolock) or by Ctrl+C can tidy up and end normally.
//
// The signal handler only writes the signal's number into a pipe (write(2) is safe in a signal
// handler); a socket notifier reads it on the event loop. One instance at a time; destroying
// it puts the previous handlers back. With `hangUp`, SIGHUP comes the same way (a program that
// rereads its settings on it).
class TerminationSignals final : public QObject
{
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr, bool hangUp = false);
    ~TerminationSignals() override;

    // False when the pipe or the handlers could not be set up.
    bool IsActive() const { return m_active; }

signals:
    void received(int signalNumber);

private:
    void ReadPipe();

    bool m_active = false;
    bool m_hangUp = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace vb
