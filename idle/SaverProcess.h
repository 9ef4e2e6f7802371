#pragma once

#include "idle/IdleSource.h"

#include <QStringList>

class QProcess;

namespace vb {

// Starts the saver as a child process, "PROGRAM /S", with the watcher's standard output and
// error. A saver still running when the watcher ends keeps running: it ends on input as always.
class SaverProcess final : public SaverLauncher
{
    Q_OBJECT

public:
    explicit SaverProcess(QString program, QStringList arguments = {QStringLiteral("/S")},
                          QObject* parent = nullptr);
    ~SaverProcess() override;

    bool Start(QString* error) override;
    bool Running() const;

private:
    QString m_program;
    QStringList m_arguments;
    QProcess* m_process = nullptr;
};

} // namespace vb
