// plot FILE -o OUT.png: a CSV log drawn, no line.
#include "commandwords.h"
#include "plot.h"
#include "session.h"

namespace {

// plot FILE: the log is read when plot runs, as an earlier command of the
// run may write it.
bool parsePlot(const Command &command, Step *step, QString *error)
{
    if (command.args.isEmpty()) {
        *error = QStringLiteral("plot needs a CSV log: plot FILE -o OUT.png");
        return false;
    }
    if (command.args.size() > 1) {
        *error = QStringLiteral("plot takes one CSV log: %1").arg(command.args.join(QLatin1Char(' ')));
        return false;
    }
    step->path = command.args[0];
    return true;
}

// The image goes to -o, so one plot a run, and never without it.
QString plotRefusal(const Options &options)
{
    if (options.outputPath.isEmpty())
        return QStringLiteral("plot needs -o OUT.png, the image to write");
    return QString();
}

bool buildPlot(const Command &command, const Options &options, Chain *chain, Step *step, QString *error)
{
    if (!takeStations(command, *chain, true, step, error) || !parsePlot(command, step, error))
        return false;
    *error = plotRefusal(options);
    // The map is read now, so that a wrong one stops the run before anything is sent.
    return error->isEmpty()
           && (options.mapPath.isEmpty() || readParamFile(options.mapPath, ParamFileKind::Signals, &step->params, error));
}

// A file into a file: no line, no driver call.
int runPlot(Session &session, const Step &step)
{
    return plotCsvLog(step.path, session.options().outputPath, step.params);
}

} // namespace

extern const CommandEntry plotCommand = {
    "plot",
    Step::Plot,
    false,
    true,
    true,
    false,
    buildPlot,
    runPlot,
    "plot FILE -o OUT.png [--map MAP]",
    "draw a CSV log (--csv) with gnuplot into a new\n"
    "PNG of 1200x700 pixels: a panel for each\n"
    "address (or each unit --map names) on one time\n"
    "axis, from the first row in seconds (in minutes\n"
    "past 10 minutes), named as --map says; signals\n"
    "of whole numbers, at most 16 values, as steps;\n"
    "a failed read breaks its line, and each write\n"
    "is marked where it was commanded"};
