// --line auto: listens before it speaks. A monitor takes the settings the
// traffic passes its CRC checks at; a scan, being a master, must not send
// beside another one, so traffic heard stops it.
#include "lineauto.h"

#include <algorithm>
#include <cerrno>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <QStringList>

#include "interrupt.h"
#include "monitor.h"
#include "linelistener.h"
#include "plan.h"
#include "session.h"
#include "systemerror.h"
#include "tcpaddress.h"
#include "termiosline.h"

namespace {

// How long one rate is listened to, and how many frames settle it sooner.
const qint64 kWindowNs = 700000000;
const int kEnoughFrames = 8;
// A pseudo-terminal hears every rate at once: one longer window, more frames.
const qint64 kPtyWindowNs = 1500000000;
const int kPtyEnoughFrames = 24;

const QString kContext = QStringLiteral("line auto");

QString ratesText()
{
    QStringList rates;
    for (const int rate : lineAutoRates())
        rates << QString::number(rate);
    return rates.join(QStringLiteral(", "));
}

struct Heard
{
    QList<HeardFrame> frames;
    int good = 0;
};

// Listens on fd at settings for up to windowNs; false when interrupted.
bool listenAt(int fd, const LineSettings &settings, qint64 windowNs, int enough, Heard *heard, bool pty)
{
    QString error;
    if (!configureTerminal(fd, settings, &error))
        return false;
    tcflush(fd, TCIFLUSH);
    LineListener listener(fd, settings, pty, interruptWakeFd());
    const qint64 endNs = monotonicNs() + windowNs;
    while (monotonicNs() < endNs && heard->frames.size() < enough && !interruptSignal()) {
        if (listener.listen(endNs, &heard->frames) != LineListener::End::Listened) {
            // No writer on a pseudo-terminal yet: nothing to hear, and
            // polling again would spin.
            timespec pause{0, 20000000};
            nanosleep(&pause, nullptr);
        }
    }
    listener.finish(&heard->frames);
    heard->good = int(std::count_if(heard->frames.cbegin(), heard->frames.cend(), [](const HeardFrame &f) {
        return f.crcOk;
    }));
    return !interruptSignal();
}

// A rate is taken when most of what was heard at it is whole frames.
bool passes(const Heard &heard)
{
    return heard.good >= 2 && 2 * heard.good >= heard.frames.size();
}

} // namespace

QList<int> lineAutoRates()
{
    return {9600, 19200, 38400, 57600, 115200, 4800, 2400, 1200};
}

int rateFromPace(const QList<HeardFrame> &frames, const LineSettings &base)
{
    // Each frame began no sooner than the one before it had gone by on the
    // wire and the line had been silent its interval; a read of ours that
    // came late shortens the next gap, so a quarter of them may be short.
    QList<int> rates = lineAutoRates();
    std::sort(rates.begin(), rates.end());
    for (const int rate : qAsConst(rates)) {
        // Characters of the fewest bits (8N1): at the line's own rate no
        // frame can come sooner than that allows, whatever its parity.
        LineSettings settings = base;
        settings.baudRate = rate;
        settings.parity = LineSettings::NoParity;
        settings.stopBits = 1;
        QList<double> ratios;
        for (int i = 1; i < frames.size(); ++i) {
            if (frames[i].silenceBeforeNs < 0)
                continue;
            const double need = double(frames[i - 1].bytes.size()) * settings.characterTimeNs()
                                + settings.silentIntervalNs();
            ratios.append(double(frames[i].beginNs - frames[i - 1].beginNs) / need);
        }
        if (ratios.size() < 4)
            return -1;
        std::sort(ratios.begin(), ratios.end());
        if (ratios[ratios.size() / 4] >= 0.95)
            return rate;
    }
    return -1;
}

int settleLineAuto(Plan *plan)
{
    Options &options = plan->options;
    const QString &path = options.device;
    const bool scan = std::any_of(plan->steps.cbegin(), plan->steps.cend(), [](const Step &step) {
        return step.action == Step::Scan;
    });
    // As the monitor listens: read-only, the device's only reader.
    QString error;
    const int fd = openListening(path, &error);
    if (fd < 0)
        return failure(kContext, error);
    termios saved = {};
    if (tcgetattr(fd, &saved) != 0) {
        closeListening(fd);
        return failure(kContext, systemError("cannot read the line settings of %1", path));
    }
    const bool pty = isPseudoTerminal(fd);
    const LineSettings base;
    LineSettings found = base;
    Heard heard;
    int heardAny = 0; // frames heard at any rate, whole or not
    bool told = false;
    if (pty) {
        listenAt(fd, base, kPtyWindowNs, kPtyEnoughFrames, &heard, true);
        const int rate = rateFromPace(heard.frames, base);
        found.baudRate = rate;
        told = passes(heard) && rate > 0;
        heardAny = heard.frames.size();
    } else {
        for (const int rate : lineAutoRates()) {
            found.baudRate = rate;
            heard = Heard();
            const bool listened = listenAt(fd, found, kWindowNs, kEnoughFrames, &heard, false);
            heardAny += heard.frames.size();
            if (!listened || passes(heard)) {
                told = passes(heard);
                break;
            }
        }
    }
    tcsetattr(fd, TCSANOW, &saved);
    closeListening(fd);
    if (interruptSignal())
        return 0; // the caller says which signal
    if (heardAny == 0) {
        const QString none = QStringLiteral("no traffic heard at %1 baud").arg(ratesText());
        if (!scan)
            return failure(kContext, none);
        // Nobody else speaks: the scan may, and searches the settings itself.
        warn(QStringLiteral("%1: %2; the scan searches the rates").arg(kContext, none));
        for (Step &step : plan->steps) {
            if (step.action == Step::Scan && step.scan.baudRates.isEmpty())
                step.scan.baudRates = lineAutoRates();
        }
        return 0;
    }
    const QString counts = QStringLiteral("%1 frames heard, %2 good CRCs").arg(heard.frames.size()).arg(heard.good);
    if (scan) {
        return failure(kContext, QStringLiteral("traffic heard on %1 (%2): another master is active, and a scan "
                                                "would collide with it (--line auto monitor listens to it)")
                                     .arg(path, counts));
    }
    if (!told) {
        return failure(kContext, pty ? QStringLiteral("%1 but too far apart to tell the rate by their pace (%2)")
                                           .arg(counts, QStringLiteral("a pseudo-terminal carries no baud rate"))
                                     : QStringLiteral("traffic heard but no rate passes its CRC checks (%1 at %2 "
                                                      "baud): not Modbus RTU, or parity the adapter drops")
                                           .arg(counts, ratesText()));
    }
    const QString how = pty ? QStringLiteral("; on a pseudo-terminal only the baud rate can be found, by the "
                                             "frames' pace, not the parity or stop bits")
                            : QStringLiteral("; the parity and stop bits are not told, %1 assumed")
                                  .arg(base.toString().section(QLatin1Char(','), 2));
    warn(QStringLiteral("%1: %2 (%3)%4").arg(kContext, found.toString(), counts, how));
    options.line = found;
    return 0;
}
