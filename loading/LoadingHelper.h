#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace vb {

// The loading helper's side: a process of its own, started by the program with one end of a Unix
// socket of packets, that lists folders and reads and decodes pictures for it, so that a file
// system that stops answering, or a decoder that faults, holds or ends this process and never
// the program's. It locks itself down first (no network, no new processes, no writes), then
// answers each request on a thread of its own, and ends when the program's end of the socket
// closes.
struct LoadingHelperOptions
{
    int socket = -1;
    // The picture decode limit: the address space is limited a little above it.
    int decodeLimitMegabytes = 0;
    // The program's first helper: it says what the kernel's sandbox lacks, once for the run.
    bool first = false;
    // The folders it may read (besides the system's): the chosen ones, and those links in them
    // lead to that the program has let it read.
    QStringList folders;
    // Tests only: Landlock as on a kernel of this ABI at most (0: none); -1 as the kernel has it.
    // And the system-call filter or the limits left out, to see what each protection holds.
    int landlockAbiAtMost = -1;
    bool withoutFilter = false;
    bool withoutLimits = false;
    // Test builds only: runs on the request's thread before a picture is loaded or a folder
    // listed, with the request's id.
    std::function<void(const QString& path, quint64 id)> beforeLoad;
};

// The helper's main; returns only when it cannot start (a status for the process).
int RunLoadingHelper(const LoadingHelperOptions& options);

// The argument that starts the program as its loading helper, with its socket as descriptor 3.
inline constexpr char LoadingHelperArgument[] = "--loading-helper";
inline constexpr int LoadingHelperSocket = 3;
// The argument after the decode limit: the first helper of a run, or a later one. The folders it
// may read follow.
inline constexpr char LoadingHelperFirst[] = "first";
inline constexpr char LoadingHelperLater[] = "later";

} // namespace vb
