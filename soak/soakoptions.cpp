#include "soakoptions.h"

bool parseSoakOptions(const QStringList &args, SoakOptions *o, QString *error)
{
    for (int i = 1; i < args.size(); ++i) {
        const QString name = args.at(i);
        if (name == QLatin1String("--look-alike")) {
            o->lookAlike = true;
            continue;
        }
        const QString value = args.value(++i);
        bool ok = !value.isNull();
        if (name == QLatin1String("--commands"))
            o->commands = value.toLongLong(&ok);
        else if (name == QLatin1String("--seed"))
            o->seed = value.toULongLong(&ok);
        else if (name == QLatin1String("--faults"))
            o->faults = value;
        else if (name == QLatin1String("--timeout"))
            o->timeoutMs = value.toInt(&ok);
        else if (name == QLatin1String("--stations"))
            o->stations = value;
        else if (name == QLatin1String("--trace"))
            o->trace = value;
        else if (name == QLatin1String("--max-growth"))
            o->maxGrowthKiB = value.toLongLong(&ok);
        else if (name == QLatin1String("--unplug")) {
            o->unplugRate = value.toDouble(&ok);
            ok = ok && o->unplugRate >= 0 && o->unplugRate <= 1;
        } else if (name == QLatin1String("--retries")) {
            bool ok2 = false;
            o->minRetries = value.section(QLatin1Char('-'), 0, 0).toInt(&ok);
            o->maxRetries = value.section(QLatin1Char('-'), 1, 1).toInt(&ok2);
            ok = ok && ok2 && o->minRetries >= 0 && o->maxRetries >= o->minRetries;
        } else
            ok = false;
        if (!ok || o->commands < 1 || o->timeoutMs < 1) {
            *error = QStringLiteral("usage: servo_soak [--commands N] [--seed S] [--faults PLAN] "
                                    "[--timeout MS] [--stations LIST] [--retries MIN-MAX] "
                                    "[--unplug RATE] [--look-alike] [--trace FILE] "
                                    "[--max-growth KIB]");
            return false;
        }
    }
    return true;
}
