#pragma once

#include <QString>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace vbbench {

// What every figure gets: where bench/run put the corpora, and how often to measure.
struct Context
{
    QString corpus;
    int repetitions = 5;
    // The whole program's figures run it under the X server of DISPLAY.
    QString program;
};

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
    QString goal;                    // as printed, e.g. "<= 1.5 x"
    double maxRatio = 0;             // a goal on ours / reference; 0 for none
    std::optional<double> maxOurs{}; // a goal on ours itself
};

void PrintTable(const std::vector<Row>& rows);

// The figures, one file each; a figure whose corpus is missing adds no row.
void CatalogueFigures(const Context& context, std::vector<Row>& rows);
void PictureChangeFigures(const Context& context, std::vector<Row>& rows);
void HelperChangeFigures(const Context& context, std::vector<Row>& rows);
void HelperPeakMemoryFigures(const Context& context, std::vector<Row>& rows);
void PeakMemoryFigures(const Context& context, std::vector<Row>& rows);
void HeifPeakMemoryFigures(const Context& context, std::vector<Row>& rows);
void ProgramFigures(const Context& context, std::vector<Row>& rows);
void ShuffleFigures(const Context& context, std::vector<Row>& rows);
void IndexFigures(const Context& context, std::vector<Row>& rows);
void WarmIndexFigures(const Context& context, std::vector<Row>& rows);
void IdleFigures(const Context& context, std::vector<Row>& rows);
void PhotoFigures(const Context& context, std::vector<Row>& rows);
// Corpus files only this program can make: a tiled HEIC, a Display P3 profile.
int MakeCorpusFile(const QString& what, const QString& from, const QString& to);

// The child side of the peak-memory figure (a process of its own per sample).
int PeakMemoryChild(const QString& work, const QString& path, const QString& warmUp);
// The child that runs a command and reports its peak memory.
int CommandPeakChild(const QStringList& command);
// For a profiler: `count` picture changes of one file on a canvas of the given size.
int ChangesForProfiler(const QString& path, const QString& size, const QString& mode, int count);

} // namespace vbbench
