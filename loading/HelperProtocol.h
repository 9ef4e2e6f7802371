#pragma once

#include "picture/PictureLoader.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace vb {

// The messages between the program and its loading helper, over a Unix socket of packets: one
// message per packet, never longer than MaxMessageBytes. A frame travels as a memfd passed with
// its answer; everything else is in the packet.
namespace helper {

inline constexpr qsizetype MaxMessageBytes = 60 * 1024;

enum class Kind : quint8 {
    // Program to helper.
    Frame = 1,
    List = 2,
    // Helper to program.
    FrameDone = 3,
    ListPart = 4,
    ListDone = 5,
};

// How a listing ended.
enum class ListStatus : quint8 { Listed = 0, Missing = 1, Unreadable = 2 };

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
// Waits for the next packet. None when the other end has gone or the socket failed.
std::optional<Packet> Receive(int socket);

QByteArray EncodeFrameRequest(const FrameRequest& request);
// The request as the program made it; none for a malformed packet.
std::optional<FrameRequest> DecodeFrameRequest(const QByteArray& bytes);

// A finished frame's answer: its image goes into a sealed memfd (returned through `fd`, -1 when
// the picture cannot be shown or the memfd cannot be made).
QByteArray EncodeFrameDone(const Frame& frame, int* fd);
// The frame, its image mapped read-only from `fd` (which it takes over); a null image when the
// answer says so or the memfd is not sealed against shrinking and writing, or is too small.
std::optional<Frame> DecodeFrameDone(const QByteArray& bytes, int fd);

quint64 IdOf(const QByteArray& bytes);
Kind KindOf(const QByteArray& bytes);

} // namespace helper
} // namespace vb
