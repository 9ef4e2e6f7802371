#include "app/IdleMain.h"

#include "idle/IdleWatcher.h"
#include "idle/SaverProcess.h"
#include "platform/display/IdleSourceChoice.h"
#include "platform/files/IdleInstance.h"
#include "platform/runtime/Conversions.h"
#include "platform/runtime/RuntimeError.h"
#include "platform/runtime/TerminationSignals.h"
#include "platform/session/ScreenSaverService.h"
#include "platform/session/SessionChecks.h"
#include "settings/IdleSettings.h"
#include "settings/SettingsStore.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <csignal>
#include <cstdio>
#include <cstring>

namespace vb {

namespace {

void Say(const QString& line)
{
    std::fprintf(stderr, "vellumbright: %s\n", qPrintable(line));
}

// VELLUMBRIGHT_IDLE_SECONDS, for tests, else the stored minutes.
qint64 ChosenIdleMs(const SettingsStore& store)
{
    const QString seconds = qEnvironmentVariable("VELLUMBRIGHT_IDLE_SECONDS");
    if (!seconds.isEmpty()) {
        try {
            const qint32 value = TextToInt32(seconds);
            if (value > 0)
                return qint64(value) * 1000;
        } catch (const RuntimeError&) {
        }
        Say(QStringLiteral("VELLUMBRIGHT_IDLE_SECONDS=\"%1\" is not a number of seconds; using the settings")
                .arg(seconds));
    }
    return qint64(ReadStartAfterMinutes(store)) * 60 * 1000;
}

} // namespace

int RunIdleWatcher(int argc, char** argv)
{
    bool verbose = false;
    QString saver;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--verbose") == 0)
            verbose = true;
        else if (std::strcmp(argv[i], "--saver") == 0 && i + 1 < argc)
            saver = QString::fromLocal8Bit(argv[++i]);
    }
    if (saver.isEmpty()) {
        Say(QStringLiteral("usage: vellumbright-idle [--verbose] --saver PROGRAM"));
        return 2;
    }
    QCoreApplication app(argc, argv);

    IdleInstanceLock instance;
    QString error;
    if (!instance.Take(&error)) {
        if (!error.isEmpty()) {
            Say(error);
            return 1;
        }
        Say(QStringLiteral("an idle watcher already runs for this session (%1)").arg(IdleLockPath()));
        return 0;
    }

    QDBusConnection bus = QDBusConnection::sessionBus();
    std::unique_ptr<IdleSource> source = ChooseIdleSource(bus, &error);
    if (!source) {
        Say(error);
        return 1;
    }
    if (verbose)
        Say(QStringLiteral("idle source: ") + source->Name());

    SaverProcess launcher(saver);
    IdleWatcher* watcher = nullptr;
    std::vector<std::unique_ptr<InhibitCheck>> checks;
    QString owner;
    auto service = ScreenSaverService::Own(
        bus,
        {[&watcher] { return watcher && watcher->state() == IdleWatcher::State::Showing; },
         [&watcher] { return watcher ? quint32(watcher->ShowingSeconds()) : 0u; },
         [&watcher] { return watcher ? quint32(watcher->IdleSeconds()) : 0u; },
         [&watcher] {
             if (watcher)
                 watcher->SimulateUserActivity();
         }},
        &owner);
    ScreenSaverService* ownService = service.get();
    if (service) {
        if (verbose)
            Say(QStringLiteral("inhibits: our own org.freedesktop.ScreenSaver"));
        checks.push_back(std::move(service));
    } else if (verbose) {
        Say(owner.isEmpty() ? QStringLiteral("inhibits: no session bus")
                            : QStringLiteral("inhibits: org.freedesktop.ScreenSaver is %1's").arg(owner));
    }
    // Asked also where the name is ours: a player may inhibit through the desktop's own interface.
    if (auto desktop = DesktopInhibitCheck(bus)) {
        if (verbose)
            Say(QStringLiteral("inhibits: asked of the desktop's session too"));
        checks.push_back(std::move(desktop));
    }
    if (auto logind = LogindCheck(QDBusConnection::systemBus())) {
        if (verbose)
            Say(QStringLiteral("session lock: asked of logind"));
        checks.push_back(std::move(logind));
    }

    std::vector<InhibitCheck*> checkList;
    for (const auto& check : checks)
        checkList.push_back(check.get());
    IdleWatcher idleWatcher(*source, checkList, launcher);
    watcher = &idleWatcher;
    if (ownService)
        QObject::connect(&idleWatcher, &IdleWatcher::showingChanged, ownService,
                         &ScreenSaverService::ReportActive);
    QObject::connect(&idleWatcher, &IdleWatcher::note, &app, [verbose](const QString& line) {
        if (verbose)
            Say(line);
    });
    QObject::connect(&idleWatcher, &IdleWatcher::showingChanged, &app, [verbose](bool showing) {
        if (verbose)
            Say(showing ? QStringLiteral("the saver started") : QStringLiteral("the saver ended"));
    });
    QObject::connect(source.get(), &IdleSource::failed, &app, [](const QString& cause) {
        Say(cause);
        QCoreApplication::exit(1);
    });

    const SettingsStore store(SettingsStore::DefaultFilePath());
    idleWatcher.SetIdleTime(ChosenIdleMs(store));
    if (verbose)
        Say(QStringLiteral("starting the saver after %1 s without input").arg(idleWatcher.IdleTime() / 1000));

    TerminationSignals terminations(nullptr, true);
    QObject::connect(&terminations, &TerminationSignals::received, &app, [&](int number) {
        if (number != SIGHUP) {
            QCoreApplication::exit(0);
            return;
        }
        const qint64 ms = ChosenIdleMs(store);
        if (ms != idleWatcher.IdleTime()) {
            idleWatcher.SetIdleTime(ms);
            if (verbose)
                Say(QStringLiteral("starting the saver after %1 s without input").arg(ms / 1000));
        }
    });
    return QCoreApplication::exec();
}

} // namespace vb
