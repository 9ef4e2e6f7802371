#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

namespace vb::x11 {

// Tells when the mouse wheel turns over any window of the program. The X server reports a wheel
// notch as a press of buttons 4 to 7; Qt turns those into wheel events only from the second
// notch on after the pointer arrives (the first one sets its reference for smooth scrolling), so
// a single notch would go unseen. This filter sees the presses themselves, through the input
// extension or the core protocol, and lets Qt have them as before. Without an X connection it
// reports nothing.
class WheelWatch final : public QObject, public QAbstractNativeEventFilter
{
    Q_OBJECT

public:
    explicit WheelWatch(QObject* parent = nullptr);
    ~WheelWatch() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void turned();

private:
    int m_inputOpcode = -1;
};

} // namespace vb::x11
