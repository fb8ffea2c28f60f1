// servosim's command-line words: the description, the options and the
// completion script made from them.
#include "servosimoptions.h"

#include <cstdio>

#include <QCoreApplication>
#include <QMap>

#include "drivemodel.h"

namespace {

QList<QCommandLineOption> simOptions()
{
    return {
        {QStringLiteral("stations"),
         QStringLiteral("Station numbers of the drives, 1 to 247, e.g. 1,5,7 or 1-3 "
                        "(default 1)."),
         QStringLiteral("LIST"), QStringLiteral("1")},
        {QStringLiteral("device"),
         QStringLiteral("Serve this serial device instead of a pseudo-terminal "
                        "(refused while another program holds it)."),
         QStringLiteral("PATH")},
        {QStringLiteral("line"),
         QStringLiteral("Line settings (default RS485,9600,NONE,8,2; "
                        "DATA is 8, as Modbus RTU frames are)."),
         QStringLiteral("MODE,BAUD,PARITY,DATA,STOP"), QStringLiteral("RS485,9600,NONE,8,2")},
        {QStringLiteral("tcp"),
         QStringLiteral("Serve over TCP instead, RTU frames as they are (CRC "
                        "included, no header), as an Ethernet-to-RS-485 "
                        "converter passes them: one master at a time, a "
                        "second one refused; HOST defaults to 127.0.0.1, PORT "
                        "0 takes a free one (the first line of standard "
                        "output names it as tcp://HOST:PORT)."),
         QStringLiteral("[HOST:]PORT")},
        {QStringLiteral("link"),
         QStringLiteral("Also make PATH a symbolic link to the pseudo-terminal, "
                        "where nothing is or replacing a link into /dev/pts/ "
                        "(anything else is refused; taking over a link to a "
                        "terminal that still exists is said); removed at exit "
                        "while it is still this one's."),
         QStringLiteral("PATH")},
        {QStringLiteral("tap"),
         QStringLiteral("Also make PATH a symbolic link, taken as the line's own is, "
                        "to a second pseudo-terminal that hears every byte of the line, "
                        "requests and answers, as a listen-only adapter wired in "
                        "parallel would; what is written to it never reaches the "
                        "line. Answers are then paced, so that the tap hears the "
                        "line's timing."),
         QStringLiteral("PATH")},
        {QStringLiteral("pace"), QStringLiteral("Send answers at the line's baud rate, after the silent interval.")},
        {QStringLiteral("echo"),
         QStringLiteral("Echo every byte heard (any station, any CRC, noise too) back "
                        "at once, before the answer, as an RS-485 adapter without "
                        "receiver disable hands the master its own request.")},
        {QStringLiteral("faults"),
         QStringLiteral("Inject faults, e.g. drop=0.1,corrupt=0.05,truncate=0.05,"
                        "station=0.02,exception=0.02,delay=0.1:300,late=0.01:1500,"
                        "unheard=0.02,twin=0.02,noise=0.02,twice=0.02 "
                        "(rates from 0 to 1, together at most 1; delay and late "
                        "in ms after the colon, default 200 and 1000: a delay "
                        "within the master's time-out, a late answer after it; "
                        "drop loses the answer of an executed request, unheard "
                        "the request itself; twin is a second drive with the "
                        "same station answering at once; noise a burst between "
                        "frames or inside the answer; twice the answer sent "
                        "again a silent interval after it)."),
         QStringLiteral("LIST")},
        {QStringLiteral("seed"), QStringLiteral("Seed of the fault draws and of the model's noise (default 1)."),
         QStringLiteral("N"), QStringLiteral("1")},
        {QStringLiteral("model"),
         QStringLiteral("What the drives do between requests: static (default: "
                        "values change only when written) or servo."),
         QStringLiteral("NAME"), QStringLiteral("static")},
        {QStringLiteral("holding"), QStringLiteral("Number of holding registers (default 65536)."),
         QStringLiteral("N"), QStringLiteral("65536")},
        {QStringLiteral("input"), QStringLiteral("Number of input registers (default 65536)."),
         QStringLiteral("N"), QStringLiteral("65536")},
        {QStringLiteral("coils"), QStringLiteral("Number of coils (default 65536)."), QStringLiteral("N"),
         QStringLiteral("65536")},
        {QStringLiteral("discrete"), QStringLiteral("Number of discrete inputs (default 65536)."),
         QStringLiteral("N"), QStringLiteral("65536")},
        {QStringLiteral("load"),
         QStringLiteral("Start the drives with the values of a servoctl backup FILE "
                        "(see above)."),
         QStringLiteral("FILE")},
        {QStringLiteral("trace"), QStringLiteral("Print every frame on standard error.")},
    };
}

} // namespace

// What the program is, for --help.
void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Simulated TECO servo drives sharing one Modbus RTU line.\n\n"
        "Each drive answers functions 1, 2, 3, 4, 5, 6, 15 and 16 with Modbus\n"
        "exceptions 1 (illegal function), 2 (illegal data address) and 3 (illegal\n"
        "data value). Holding registers and coils hold 0 until written. Input\n"
        "register IRn (as servoctl writes it; IR1 is register 0 on the wire)\n"
        "holds station x 1000 + n - 1, and discrete input DIn is on when n - 1\n"
        "is a multiple of 3. Requests to station 0 are broadcasts: every drive\n"
        "executes the writes, none answers.\n\n"
        "--load FILE starts the drives with the values of a servoctl backup (or a\n"
        "file of its lines, ADDRESS TYPE VALUE): those of the station its header\n"
        "names (# station: N; without --stations that drive alone is simulated),\n"
        "or of every drive when it names none. The file is checked whole first:\n"
        "a mistake, a station not simulated or an address beyond --holding or\n"
        "--coils is one line naming the file and its line, status 2.\n\n"
        "--model servo makes each drive a servo whose speed follows a set-point\n"
        "(addresses as servoctl writes them; HR1 is register 0 on the wire): HR1\n"
        "set-point in rpm (signed; beyond +-3000 it trips the drive, until reset),\n"
        "HR2 ramp time constant in ms (200; 0 none), IR1 actual speed in rpm (+-2\n"
        "rpm noise while running, drawn from --seed), IR2-IR3 position in 10000\n"
        "counts a revolution (signed 32-bit, low word first), IR4 status (bit 0\n"
        "ready, 1 running, 2 fault, 3 at speed), DO1 servo on, DO2 fault reset\n"
        "(write 1). Other addresses as above.\n\n"
        "Without --device or --tcp it opens a pseudo-terminal and prints its path\n"
        "as the first line of standard output; point the client at that path.\n"
        "With --tcp it prints tcp://HOST:PORT there instead (servoctl -d takes it).\n"
        "It serves until interrupted and then prints its counters.\n\n"
        "The reference is " TECO_SERVO_DOCS "/servosim.md."));
    parser.addHelpOption();
    parser.addVersionOption();
}

// --help names the program as a person types it, not by the path it was
// started from (the manual page is made from this text).
int printHelp(const QCommandLineParser &parser)
{
    QString text = parser.helpText();
    const QString started = QCoreApplication::arguments().constFirst();
    const int at = text.indexOf(started);
    if (at >= 0)
        text.replace(at, started.size(), QCoreApplication::applicationName());
    std::fputs(qPrintable(text), stdout);
    return 0;
}

void addOptions(QCommandLineParser &parser)
{
    parser.addOptions(simOptions());
    // The installed completion is written by this at build time.
    QCommandLineOption completion(QStringLiteral("completion"),
                                  QStringLiteral("Print the shell's completion script."), QStringLiteral("SHELL"));
    completion.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(completion);
}

// servosim --completion bash, from the options above: files where a value
// is a PATH or FILE, the models for --model.
QString bashCompletion()
{
    QStringList words{QStringLiteral("--help"), QStringLiteral("--version")};
    QStringList completions; // a case of the script each, its options joined
    QMap<QString, QStringList> optionsOf;
    for (const QCommandLineOption &option : simOptions()) {
        const QString word = QStringLiteral("--") + option.names().constFirst();
        words.append(word);
        if (option.valueName().isEmpty())
            continue;
        QString what = QStringLiteral(":");
        if (option.valueName() == QLatin1String("PATH") || option.valueName() == QLatin1String("FILE")) {
            what = QStringLiteral("compopt -o filenames 2>/dev/null; mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")");
        } else if (option.names().constFirst() == QLatin1String("model")) {
            what = QStringLiteral("mapfile -t COMPREPLY < <(compgen -W '%1 %2' -- \"$cur\")")
                       .arg(QLatin1String(driveModelName(DriveModel::Static)),
                            QLatin1String(driveModelName(DriveModel::Servo)));
        }
        if (!completions.contains(what))
            completions.append(what);
        optionsOf[what].append(word);
    }
    QString values;
    for (const QString &what : completions)
        values += QStringLiteral("        %1) %2; return ;;\n").arg(optionsOf[what].join(QLatin1Char('|')), what);
    return QStringLiteral("# bash completion for servosim, written by servosim --completion bash\n"
                          "_servosim() {\n"
                          "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}\n"
                          "    # --name=value: bash splits at the \"=\".\n"
                          "    if [[ $cur == = ]]; then\n"
                          "        prev=${COMP_WORDS[COMP_CWORD-1]} cur=\n"
                          "    elif [[ $prev == = ]]; then\n"
                          "        prev=${COMP_WORDS[COMP_CWORD-2]}\n"
                          "    fi\n"
                          "    COMPREPLY=()\n"
                          "    case $prev in\n"
                          "%1"
                          "    esac\n"
                          "    mapfile -t COMPREPLY < <(compgen -W '%2' -- \"$cur\")\n"
                          "}\n"
                          "complete -F _servosim servosim\n")
        .arg(values, words.join(QLatin1Char(' ')));
}
