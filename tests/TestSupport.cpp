#include "TestSupport.h"

#include "platform/runtime/RuntimeError.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <cstdio>
#include <mutex>
#include <unistd.h>

namespace vbtest {

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void FakeLister::List(const QString& folder, const Wanted& wanted, const Found& found) const
{
    ListWithSubfolders(folder, wanted, found, FoundFolder());
}

std::optional<vb::FolderId> FakeLister::ListWithSubfolders(const QString& folder, const Wanted& wanted,
                                                           const Found& found,
                                                           const FoundFolder& subfolder) const
{
    {
        // A walk asks from several threads.
        static std::mutex askedMutex;
        const std::lock_guard lock(askedMutex);
        asked.append(folder);
    }
    const auto it = folders.find(folder);
    if (it == folders.end())
        return std::nullopt;
    if (it->silentMs > 0)
        QThread::msleep(unsigned(it->silentMs));
    int index = 0;
    for (const Entry& entry : it->entries) {
        if (it->failAfter >= 0 && index == it->failAfter)
            throw vb::RuntimeError(vb::ErrorCode::DeviceIO,
                                   QStringLiteral("cannot list folder \"%1\": fake failure").arg(folder));
        ++index;
        if (entry.name.empty() || entry.name.front() == '.')
            continue;
        if (entry.folder && subfolder)
            subfolder(entry.name, {1, qHash(folder + QString::fromStdString(entry.name) + u'/')});
        else if (!entry.folder && wanted(entry.name) && entry.ordinary)
            found(entry.name);
    }
    if (it->failAfter >= 0 && index == it->failAfter)
        throw vb::RuntimeError(vb::ErrorCode::DeviceIO,
                               QStringLiteral("cannot list folder \"%1\": fake failure").arg(folder));
    return vb::FolderId{1, qHash(folder)};
}

QStringList StoredFolders(const QString& file)
{
    const vb::IniDocument doc = vb::SettingsStore(file).Read();
    const int count = doc.Value("Settings", "NumDirs").value_or("0").toInt();
    QStringList folders;
    for (int i = 1; i <= count + 8; ++i) {
        const std::optional<QString> folder = doc.Value("Settings", QString("Dir%1").arg(i));
        if (i <= count || folder)
            folders.append(folder.value_or("<absent>"));
    }
    return folders;
}

QStringList ErrorLines(const QByteArray& err)
{
    return QString::fromLocal8Bit(err).split(u'\n', Qt::SkipEmptyParts);
}

StderrCapture::StderrCapture()
{
    std::fflush(stderr);
    char name[] = "/tmp/vb-stderr.XXXXXX";
    m_file = mkstemp(name);
    unlink(name);
    m_saved = dup(2);
    dup2(m_file, 2);
}

QString StderrCapture::Finish()
{
    if (m_saved < 0)
        return m_text;
    std::fflush(stderr);
    dup2(m_saved, 2);
    close(m_saved);
    m_saved = -1;
    QByteArray bytes;
    lseek(m_file, 0, SEEK_SET);
    char buffer[4096];
    for (ssize_t n; (n = read(m_file, buffer, sizeof buffer)) > 0;)
        bytes.append(buffer, n);
    close(m_file);
    m_text = QString::fromLocal8Bit(bytes);
    return m_text;
}

StderrCapture::~StderrCapture()
{
    Finish();
}

} // namespace vbtest
