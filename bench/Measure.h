#pragma once

#include <QString>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

namespace vbbench {

// Wall-clock seconds of one call.
double Seconds(const std::function<void()>& work);

// Wall-clock seconds of running a command with its output sent to /dev/null; negative when the
// command could not be run or failed.
double CommandSeconds(const QString& program, const QStringList& arguments);

double Median(std::vector<double> samples);

// One row of the benchmark's table: our median against the reference's median, in the same run.
struct Row
{
    QString figure;
    double ours = 0;      // median, in `unit`
    double reference = 0; // median, in `unit`; 0 when the row has no reference
    QString unit;
    QString goal;        // human-readable goal, e.g. "<= 1.5 x"
    double maxRatio = 0; // the goal as a ratio; 0 for "report only"
};

void PrintTable(const std::vector<Row>& rows);

} // namespace vbbench
