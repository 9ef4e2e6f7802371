#include "loading/PacketSocket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace vb::helper {

void CloseQuietly(int fd)
{
    if (fd >= 0)
        close(fd);
}

bool Send(int socket, const QByteArray& bytes, int fd, bool wait)
{
    iovec part{const_cast<char*>(bytes.constData()), size_t(bytes.size())};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (fd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &fd, sizeof(int));
    }
    ssize_t sent;
    do
        sent = sendmsg(socket, &message, MSG_NOSIGNAL | (wait ? 0 : MSG_DONTWAIT));
    while (sent < 0 && errno == EINTR);
    return sent == bytes.size();
}

std::optional<Packet> Receive(int socket)
{
    Packet packet;
    packet.bytes.resize(MaxMessageBytes);
    iovec part{packet.bytes.data(), size_t(packet.bytes.size())};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)] = {};
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    ssize_t received;
    do
        received = recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    while (received < 0 && errno == EINTR);
    if (received <= 0)
        return std::nullopt;
    // Every descriptor that came is taken, so none leaks; only a lone one is kept.
    int count = 0;
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header; header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level != SOL_SOCKET || header->cmsg_type != SCM_RIGHTS)
            continue;
        const size_t fds = (header->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (size_t i = 0; i < fds; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(header) + i * sizeof(int), sizeof(int));
            if (count++ == 0)
                packet.fd = fd;
            else
                CloseQuietly(fd);
        }
    }
    if (count > 1 || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC))) {
        CloseQuietly(packet.fd);
        packet.fd = -1;
        packet.bytes.clear();
        return packet;
    }
    packet.bytes.resize(received);
    return packet;
}

} // namespace vb::helper
