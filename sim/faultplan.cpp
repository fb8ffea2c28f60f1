#include "faultplan.h"

#include <QStringList>

namespace {

const char *const kNames[FaultPlan::KindCount] = {"none",    "drop",      "corrupt", "truncate",
                                                  "station", "exception", "delay"};

} // namespace

const char *FaultPlan::name(Kind kind)
{
    return kind >= None && kind < KindCount ? kNames[kind] : "?";
}

bool FaultPlan::parse(const QString &text, FaultPlan *plan, QString *error)
{
    FaultPlan result;
    const QStringList items = text.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (const QString &item : items) {
        const QString name = item.section(QLatin1Char('='), 0, 0).trimmed().toLower();
        QString value = item.section(QLatin1Char('='), 1).trimmed();
        int kind = Drop;
        while (kind < KindCount && name != QLatin1String(kNames[kind]))
            ++kind;
        if (kind == KindCount || !item.contains(QLatin1Char('='))) {
            *error = QStringLiteral("unknown fault: %1 (known: drop, corrupt, truncate, "
                                    "station, exception, delay)").arg(item.trimmed());
            return false;
        }
        if (kind == Delay && value.contains(QLatin1Char(':'))) {
            bool ok = false;
            const int ms = value.section(QLatin1Char(':'), 1).toInt(&ok);
            if (!ok || ms < 0 || ms > 60000) {
                *error = QStringLiteral("invalid fault delay: %1").arg(item.trimmed());
                return false;
            }
            result.delayMs = ms;
            value = value.section(QLatin1Char(':'), 0, 0);
        }
        bool ok = false;
        const double rate = value.toDouble(&ok);
        if (!ok || !(rate >= 0.0 && rate <= 1.0)) {
            *error = QStringLiteral("invalid fault rate: %1 (a number from 0 to 1)")
                         .arg(item.trimmed());
            return false;
        }
        result.rate[kind] = rate;
    }
    double sum = 0;
    for (int kind = Drop; kind < KindCount; ++kind)
        sum += result.rate[kind];
    if (sum > 1.0 + 1e-9) {
        *error = QStringLiteral("fault rates add up to more than 1: %1").arg(text);
        return false;
    }
    *plan = result;
    return true;
}

QString FaultPlan::toString() const
{
    QStringList items;
    for (int kind = Drop; kind < KindCount; ++kind) {
        if (rate[kind] <= 0)
            continue;
        QString item = QStringLiteral("%1=%2").arg(QLatin1String(kNames[kind])).arg(rate[kind]);
        if (kind == Delay)
            item += QStringLiteral(":%1").arg(delayMs);
        items.append(item);
    }
    return items.isEmpty() ? QStringLiteral("none") : items.join(QLatin1Char(','));
}

bool FaultPlan::isEmpty() const
{
    for (int kind = Drop; kind < KindCount; ++kind) {
        if (rate[kind] > 0)
            return false;
    }
    return true;
}

FaultInjector::FaultInjector(const FaultPlan &plan, quint64 seed)
    : m_plan(plan), m_random(seed)
{
}

double FaultInjector::uniform()
{
    return double(m_random() >> 11) * (1.0 / 9007199254740992.0);
}

quint32 FaultInjector::below(quint32 bound)
{
    return bound <= 1 ? 0 : quint32(m_random() % bound);
}

FaultPlan::Kind FaultInjector::draw()
{
    if (m_plan.isEmpty())
        return FaultPlan::None;
    const double u = uniform();
    double edge = 0;
    for (int kind = FaultPlan::Drop; kind < FaultPlan::KindCount; ++kind) {
        edge += m_plan.rate[kind];
        if (u < edge)
            return FaultPlan::Kind(kind);
    }
    return FaultPlan::None;
}
