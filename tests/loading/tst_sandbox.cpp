#include "loading/Sandbox.h"

#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace vb;

namespace {
struct Scene
{
    QByteArray readable, outside; // each holds "picture"; `listening` is outside
    int unixSocket = -1;          // made before the sandbox
    sockaddr_un listening{AF_UNIX, {}};
};
using Attempt = bool (*)(const Scene&); // true when it succeeded
enum Outcome { Refused, Succeeds, RefusedByLandlock };
} // namespace
Q_DECLARE_METATYPE(Attempt)

class tst_Sandbox : public QObject
{
    Q_OBJECT

private slots:
    // Each row enters the sandbox in a child of its own, before any thread starts there.
    void confines_data()
    {
        QTest::addColumn<Attempt>("attempt");
        QTest::addColumn<int>("outcome");
        const auto row = [](Outcome outcome, const char* name, Attempt attempt) {
            QTest::newRow(name) << attempt << int(outcome);
        };
        row(Refused, "write a new file",
            [](const Scene& s) { return open(s.readable + "/n", O_WRONLY | O_CREAT, 0600) >= 0; });
        row(Refused, "open a picture read-write",
            [](const Scene& s) { return open(s.readable + "/picture", O_RDWR) >= 0; });
        row(Refused, "mkdir", [](const Scene& s) { return mkdir(s.readable + "/made", 0700) == 0; });
        row(Refused, "unlink", [](const Scene& s) { return unlink(s.readable + "/picture") == 0; });
        row(Refused, "rename",
            [](const Scene& s) { return rename(s.readable + "/picture", s.readable + "/m") == 0; });
        row(Refused, "socket AF_INET", [](const Scene&) { return socket(AF_INET, SOCK_STREAM, 0) >= 0; });
        row(Refused, "socket AF_UNIX", [](const Scene&) { return socket(AF_UNIX, SOCK_STREAM, 0) >= 0; });
        row(Refused, "connect a socket made before", [](const Scene& s) {
            return ::connect(s.unixSocket, reinterpret_cast<const sockaddr*>(&s.listening),
                             sizeof s.listening) == 0;
        });
        row(Refused, "fork", [](const Scene&) {
            const pid_t child = fork();
            return child == 0 ? (_exit(0), false) : child > 0;
        });
        row(Refused, "posix_spawn", [](const Scene&) {
            pid_t child = 0;
            char* argv[] = {const_cast<char*>("true"), nullptr};
            return posix_spawn(&child, "/bin/true", nullptr, nullptr, argv, environ) == 0;
        });
        // Where execve works, /bin/false ends the child with 1: "succeeded".
        row(Refused, "execve", [](const Scene&) {
            char* argv[] = {const_cast<char*>("false"), nullptr};
            return execve("/bin/false", argv, environ) == 0;
        });
        row(Succeeds, "read a picture", [](const Scene& s) {
            char byte = 0;
            const int fd = open(s.readable + "/picture", O_RDONLY);
            return fd >= 0 && read(fd, &byte, 1) == 1 && byte == 'P';
        });
        row(Succeeds, "start and join a thread",
            [](const Scene&) { return (std::thread([] {}).join(), true); });
        row(Succeeds, "memfd: size, map, write, seal", [](const Scene&) {
            const int fd = memfd_create("frame", MFD_CLOEXEC | MFD_ALLOW_SEALING);
            void* map =
                ftruncate(fd, 4096) == 0 ? mmap(nullptr, 4096, PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
            if (map == MAP_FAILED)
                return false;
            static_cast<char*>(map)[4095] = 1;
            munmap(map, 4096);
            return fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE) == 0;
        });
        row(RefusedByLandlock, "read outside the readable folders",
            [](const Scene& s) { return open(s.outside + "/picture", O_RDONLY) >= 0; });
    }
    void confines()
    {
        QFETCH(Attempt, attempt);
        QFETCH(int, outcome);
        QTemporaryDir readable, outside;
        Scene scene{QFile::encodeName(readable.path()), QFile::encodeName(outside.path())};
        for (const QByteArray& folder : {scene.readable, scene.outside}) {
            QFile picture(QFile::decodeName(folder + "/picture"));
            QVERIFY(picture.open(QIODevice::WriteOnly) && picture.write("P") == 1);
        }
        qstrncpy(scene.listening.sun_path, scene.outside + "/socket", sizeof scene.listening.sun_path);
        const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        QVERIFY(bind(listener, reinterpret_cast<sockaddr*>(&scene.listening), sizeof scene.listening) == 0);
        QVERIFY(listen(listener, 4) == 0);
        scene.unixSocket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const pid_t child = fork();
        if (child == 0) {
            try {
                const SandboxApplied applied = EnterSandbox({{readable.path()}, 0});
                if (outcome == RefusedByLandlock && applied.landlockAbi == 0)
                    _exit(2);
                _exit(applied.seccomp && attempt(scene) ? 1 : 0);
            } catch (...) {
                _exit(3);
            }
        }
        int status = -1;
        QCOMPARE(waitpid(child, &status, 0), child);
        close(listener), close(scene.unixSocket);
        QVERIFY(WIFEXITED(status));
        if (WEXITSTATUS(status) == 2)
            QSKIP("The kernel offers no Landlock");
        QVERIFY2(WEXITSTATUS(status) != 3, "EnterSandbox or the attempt threw");
        QCOMPARE(WEXITSTATUS(status), outcome == Succeeds ? 1 : 0);
    }
};

QTEST_GUILESS_MAIN(tst_Sandbox)
#include "tst_sandbox.moc"
