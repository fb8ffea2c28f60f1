#include "scanplan.h"

#include <climits>

#include <QSet>

#include "options.h"
#include "stationlist.h"
#include "values.h"

namespace {

// A one-register read and its answer, in characters.
const int kProbeRequestChars = 8;
const int kProbeAnswerChars = 7;
// What a drive takes to turn round between request and answer.
const qint64 kTurnaroundNs = 20000000;

const struct
{
    const char *name;
    LineSettings::Parity parity;
} kParities[] = {
    {"none", LineSettings::NoParity},
    {"even", LineSettings::EvenParity},
    {"odd", LineSettings::OddParity},
};

bool parseStations(const QString &text, QList<int> *stations, QString *error)
{
    QList<int> withBroadcast;
    if (parseStationList(text, kBroadcastStation, kLastStation, &withBroadcast, error)
        && withBroadcast.contains(kBroadcastStation)) {
        *error = QStringLiteral("%1: station 0 is the broadcast address, which no drive answers").arg(text);
        return false;
    }
    return parseStationList(text, 1, kLastStation, stations, error);
}

// "9600,19200": each item read by parseItem, none twice.
template <typename T>
bool parseList(const QString &keyword, const QString &text, bool (*parseItem)(const QString &, T *),
               const char *expected, QList<T> *list, QString *error)
{
    for (const QString &word : text.split(QLatin1Char(','))) {
        T value{};
        if (!parseItem(word, &value)) {
            *error = QStringLiteral("%1 %2: %3").arg(keyword, word, QLatin1String(expected));
            return false;
        }
        if (list->contains(value)) {
            *error = QStringLiteral("%1 %2: listed twice").arg(keyword, word);
            return false;
        }
        list->append(value);
    }
    return true;
}

bool parseKeywordList(const QString &keyword, const QString &text, ScanRequest *request, QString *error)
{
    if (keyword == QLatin1String("baud")) {
        return parseList(keyword, text, parseBaudRate, "not a baud rate the port can set (such as 9600, 19200 or 115200)",
                         &request->baudRates, error);
    }
    if (keyword == QLatin1String("parity"))
        return parseList(keyword, text, parseParity, "parity is none, even or odd", &request->parities, error);
    return parseList(keyword, text, parseStopBits, "stop bits are 1 or 2", &request->stopBits, error);
}

// The words that start a list of line settings, and an example list each.
const struct
{
    const char *word;
    const char *example;
} kKeywords[] = {
    {"baud", "9600,19200"},
    {"parity", "none,even"},
    {"stop", "1,2"},
};

// The example list of keyword word; null when the word is no keyword.
const char *keywordExample(const QString &word)
{
    for (const auto &keyword : kKeywords) {
        if (word == QLatin1String(keyword.word))
            return keyword.example;
    }
    return nullptr;
}

} // namespace

bool parseBaudRate(const QString &word, int *baudRate)
{
    quint64 value = 0;
    if (!parseDecimal(word, 1, INT_MAX, &value) || !isStandardBaudRate(int(value)))
        return false;
    *baudRate = int(value);
    return true;
}

bool parseParity(const QString &word, LineSettings::Parity *parity)
{
    for (const auto &entry : kParities) {
        if (word.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0) {
            *parity = entry.parity;
            return true;
        }
    }
    return false;
}

bool parseStopBits(const QString &word, int *stopBits)
{
    if (word != QLatin1String("1") && word != QLatin1String("2"))
        return false;
    *stopBits = word.toInt();
    return true;
}

QList<LineSettings> ScanRequest::settingsToTry(const LineSettings &line) const
{
    const QList<int> bauds = baudRates.isEmpty() ? QList<int>{line.baudRate} : baudRates;
    const QList<LineSettings::Parity> paritiesTried = parities.isEmpty() ? QList<LineSettings::Parity>{line.parity} : parities;
    const QList<int> stops = stopBits.isEmpty() ? QList<int>{line.stopBits} : stopBits;
    QList<LineSettings> tried;
    for (const int baud : bauds) {
        for (const LineSettings::Parity parity : paritiesTried) {
            for (const int stop : stops) {
                LineSettings settings = line;
                settings.baudRate = baud;
                settings.parity = parity;
                settings.stopBits = stop;
                tried.append(settings);
            }
        }
    }
    int front = 0;
    for (const LineSettings &settings : heard) {
        for (int i = front; i < tried.size(); ++i) {
            if (tried[i].toString() == settings.toString()) {
                tried.move(i, front++);
                break;
            }
        }
    }
    return tried;
}

bool parseScanArguments(const QStringList &args, ScanRequest *request, QString *error)
{
    ScanRequest result;
    bool stationsGiven = false;
    QSet<QString> keywordsGiven;
    for (int i = 0; i < args.size(); ++i) {
        const QString &word = args[i];
        const char *example = keywordExample(word);
        if (!example) {
            if (stationsGiven) {
                *error = QStringLiteral("%1: a second station list (scan [STATIONS] [baud LIST] "
                                        "[parity LIST] [stop LIST])")
                             .arg(word);
                return false;
            }
            stationsGiven = true;
            if (!parseStations(word, &result.stations, error))
                return false;
            continue;
        }
        if (keywordsGiven.contains(word)) {
            *error = QStringLiteral("%1 given twice").arg(word);
            return false;
        }
        keywordsGiven.insert(word);
        if (++i >= args.size()) {
            *error = QStringLiteral("%1 needs a list, such as %1 %2").arg(word, QLatin1String(example));
            return false;
        }
        if (!parseKeywordList(word, args[i], &result, error))
            return false;
    }
    if (!stationsGiven) {
        for (int station = 1; station <= kLastStation; ++station)
            result.stations.append(station);
    }
    *request = result;
    return true;
}

int defaultScanTimeoutMs(const LineSettings &settings)
{
    const qint64 wireNs = (kProbeRequestChars + kProbeAnswerChars) * settings.characterTimeNs();
    const qint64 totalNs = wireNs + 2 * settings.silentIntervalNs() + kTurnaroundNs;
    return int((totalNs + 999999) / 1000000);
}
