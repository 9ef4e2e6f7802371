#pragma once

#include <QByteArray>
#include <optional>

namespace vb::helper {

// The program and its loading helper talk over a Unix socket of packets: one message per packet,
// never longer than MaxMessageBytes, a descriptor passed along with some.
inline constexpr qsizetype MaxMessageBytes = 60 * 1024;

// A packet as read: its bytes, and the descriptor that came with it (-1 for none; owned by the
// receiver).
struct Packet
{
    QByteArray bytes;
    int fd = -1;
};

// Sends one packet, with `fd` passed along when it is not -1. `wait`: whether to wait for room in
// the socket. False when the packet could not be sent whole.
bool Send(int socket, const QByteArray& bytes, int fd = -1, bool wait = true);
// Waits for the next packet. None when the other end has gone or the socket failed. A packet that
// came cut short, or with more than one descriptor, is returned empty, its descriptors closed.
std::optional<Packet> Receive(int socket);

void CloseQuietly(int fd);

} // namespace vb::helper
