#include "faultplan.h"

#include <QStringList>

namespace {

struct KindInfo
{
    const char *name;
    int FaultPlan::*waitMs; // the kinds that wait take milliseconds after a colon
};

const KindInfo kKinds[FaultPlan::KindCount] = {
    {"none", nullptr},
    {"drop", nullptr},
    {"corrupt", nullptr},
    {"truncate", nullptr},
    {"station", nullptr},
    {"exception", nullptr},
    {"delay", &FaultPlan::delayMs},
    {"late", &FaultPlan::lateMs},
    {"unheard", nullptr},
    {"twin", nullptr},
    {"noise", nullptr},
    {"twice", nullptr},
};

QString knownNames()
{
    QStringList names;
    for (int kind = FaultPlan::Drop; kind < FaultPlan::KindCount; ++kind)
        names.append(QLatin1String(kKinds[kind].name));
    return names.join(QStringLiteral(", "));
}

// One "name=rate[:ms]" item into the plan; false with a text. named: the
// kinds the items before named.
bool parseItem(const QString &item, FaultPlan *plan, bool *named, QString *error)
{
    const QString name = item.section(QLatin1Char('='), 0, 0).trimmed().toLower();
    QString value = item.section(QLatin1Char('='), 1).trimmed();
    int kind = FaultPlan::Drop;
    while (kind < FaultPlan::KindCount && name != QLatin1String(kKinds[kind].name))
        ++kind;
    if (kind == FaultPlan::KindCount || !item.contains(QLatin1Char('='))) {
        *error = QStringLiteral("unknown fault: %1 (known: %2)").arg(item.trimmed(), knownNames());
        return false;
    }
    if (named[kind]) {
        *error = QStringLiteral("fault named twice: %1").arg(name);
        return false;
    }
    named[kind] = true;
    // A delay or late answer of no time would be no fault at all.
    if (kKinds[kind].waitMs && value.contains(QLatin1Char(':'))) {
        bool ok = false;
        const int ms = value.section(QLatin1Char(':'), 1).toInt(&ok);
        if (!ok || ms < 1 || ms > 60000) {
            *error = QStringLiteral("invalid fault time: %1 (milliseconds from 1 to 60000)").arg(item.trimmed());
            return false;
        }
        plan->*kKinds[kind].waitMs = ms;
        value = value.section(QLatin1Char(':'), 0, 0);
    }
    bool ok = false;
    const double rate = value.toDouble(&ok);
    if (!ok || !(rate >= 0.0 && rate <= 1.0)) {
        *error = QStringLiteral("invalid fault rate: %1 (a number from 0 to 1)").arg(item.trimmed());
        return false;
    }
    plan->rate[kind] = rate;
    return true;
}

} // namespace

const char *FaultPlan::name(Kind kind)
{
    return kind >= None && kind < KindCount ? kKinds[kind].name : "?";
}

bool FaultPlan::parse(const QString &text, FaultPlan *plan, QString *error)
{
    FaultPlan result;
    bool named[KindCount] = {};
    // An empty text is no faults; an empty item among others a slip.
    const QStringList items = text.isEmpty() ? QStringList() : text.split(QLatin1Char(','));
    for (const QString &item : items) {
        if (item.trimmed().isEmpty()) {
            *error = QStringLiteral("empty fault in %1 (faults are NAME=RATE separated by single "
                                    "commas)")
                         .arg(text);
            return false;
        }
        if (!parseItem(item, &result, named, error))
            return false;
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

int FaultPlan::waitMs(Kind kind) const
{
    return kind >= None && kind < KindCount && kKinds[kind].waitMs ? this->*kKinds[kind].waitMs : 0;
}

QString FaultPlan::toString() const
{
    QStringList items;
    for (int kind = Drop; kind < KindCount; ++kind) {
        if (rate[kind] <= 0)
            continue;
        QString item = QStringLiteral("%1=%2").arg(QLatin1String(kKinds[kind].name)).arg(rate[kind]);
        if (kKinds[kind].waitMs)
            item += QStringLiteral(":%1").arg(this->*kKinds[kind].waitMs);
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

FaultInjector::FaultInjector(const FaultPlan &plan, quint64 seed) : m_plan(plan), m_random(seed)
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
