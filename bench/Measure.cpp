#include "Measure.h"

#include <QProcess>
#include <cstdio>

namespace vbbench {

double Seconds(const std::function<void()>& work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double CommandSeconds(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    const auto start = std::chrono::steady_clock::now();
    process.start(program, arguments);
    if (!process.waitForStarted() || !process.waitForFinished(-1))
        return -1;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 ? seconds : -1;
}

double Median(std::vector<double> samples)
{
    if (samples.empty())
        return 0;
    std::sort(samples.begin(), samples.end());
    const size_t mid = samples.size() / 2;
    return samples.size() % 2 ? samples[mid] : (samples[mid - 1] + samples[mid]) / 2;
}

void PrintTable(const std::vector<Row>& rows)
{
    std::printf("| figure | ours (median) | reference (median) | ratio | goal | result |\n");
    std::printf("|---|---|---|---|---|---|\n");
    for (const Row& row : rows) {
        const bool hasReference = row.reference > 0;
        const double ratio = hasReference ? row.ours / row.reference : 0;
        QString result = QStringLiteral("report");
        if (row.maxRatio > 0 || row.maxOurs) {
            const bool pass = (row.maxRatio <= 0 || (hasReference && ratio <= row.maxRatio)) &&
                              (!row.maxOurs || row.ours <= *row.maxOurs);
            result = pass ? QStringLiteral("pass") : QStringLiteral("falls short");
        }
        // Counts have no unit and no fraction.
        const auto value = [&](double v) {
            return row.unit.isEmpty() ? QString::number(v, 'f', 0)
                                      : QString::asprintf("%.3f %s", v, qPrintable(row.unit));
        };
        std::printf("| %s | %s | %s | %s | %s | %s |\n", qPrintable(row.figure), qPrintable(value(row.ours)),
                    hasReference ? qPrintable(value(row.reference)) : "-",
                    hasReference ? qPrintable(QString::asprintf("%.2f x", ratio)) : "-",
                    qPrintable(row.goal.isEmpty() ? QStringLiteral("-") : row.goal), qPrintable(result));
    }
}

} // namespace vbbench
