#include "ScreenChecks.h"

#include "PictureFiles.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QWindow>

namespace vbtest {

QImage Screenshot(const QString& window, const QString& display)
{
    QProcess import;
    if (!display.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", display);
        import.setProcessEnvironment(env);
    }
    import.start("import", {"-window", window, "png:-"});
    if (!import.waitForFinished(10000) || import.exitCode() != 0)
        return QImage();
    return QImage::fromData(import.readAllStandardOutput(), "png").convertToFormat(QImage::Format_RGB32);
}

bool Xdotool(const QStringList& arguments)
{
    return QProcess::execute("xdotool", arguments) == 0;
}

bool NearAt(const QImage& image, QPoint p, QRgb colour)
{
    return image.rect().contains(p) && Near(image.pixel(p), colour, 40);
}

bool ShowsQuadrants(const QImage& image, const QRect& rect)
{
    const int qx = rect.width() / 4, qy = rect.height() / 4;
    const QPoint c = rect.topLeft();
    return NearAt(image, c + QPoint(qx, qy), qRgb(255, 0, 0)) &&
           NearAt(image, c + QPoint(3 * qx, qy), qRgb(0, 255, 0)) &&
           NearAt(image, c + QPoint(qx, 3 * qy), qRgb(0, 0, 255)) &&
           NearAt(image, c + QPoint(3 * qx, 3 * qy), qRgb(255, 255, 0)) &&
           NearAt(image, rect.topLeft() + QPoint(-2, rect.height() / 2), qRgb(0, 0, 0)) &&
           NearAt(image, rect.topRight() + QPoint(2, rect.height() / 2), qRgb(0, 0, 0)) &&
           NearAt(image, rect.topLeft() + QPoint(rect.width() / 2, -2), qRgb(0, 0, 0)) &&
           NearAt(image, rect.bottomLeft() + QPoint(rect.width() / 2, 2), qRgb(0, 0, 0));
}

bool SetMonitor(const QString& name, const QRect& r, const QString& output)
{
    // Sizes in millimetres at 96 dots per inch.
    const QString geometry = QString("%1/%2x%3/%4+%5+%6")
                                 .arg(r.width())
                                 .arg(r.width() * 254 / 960)
                                 .arg(r.height())
                                 .arg(r.height() * 254 / 960)
                                 .arg(r.x())
                                 .arg(r.y());
    return QProcess::execute("xrandr", {"--setmonitor", name, geometry, output}) == 0;
}

bool DeleteMonitor(const QString& name)
{
    return QProcess::execute("xrandr", {"--delmonitor", name}) == 0;
}

MapWatch::~MapWatch()
{
    m_xev.kill();
    m_xev.waitForFinished();
}

bool MapWatch::Start()
{
    m_xev.start("xev", {"-root", "-event", "substructure"});
    if (!m_xev.waitForStarted())
        return false;
    // xev listens some time after it starts; until then probes go unreported.
    for (int i = 0; i < 20; ++i)
        if (Probe(300))
            return true;
    return false;
}

bool MapWatch::Probe(int waitMs)
{
    QWindow probe;
    probe.resize(1, 1);
    probe.show();
    const QByteArray mark = "window 0x" + QByteArray::number(qulonglong(probe.winId()), 16) + ", override";
    QElapsedTimer timer;
    timer.start();
    while (!m_seen.contains(mark) && timer.elapsed() < waitMs) {
        m_xev.waitForReadyRead(50);
        m_seen += m_xev.readAllStandardOutput();
    }
    m_probesSeen += m_seen.contains(mark) ? 1 : 0;
    return m_seen.contains(mark);
}

int MapWatch::Maps()
{
    return Probe(10000) ? int(m_seen.count("MapNotify event")) - m_probesSeen : -1;
}

} // namespace vbtest
