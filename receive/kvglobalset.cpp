#include "kvglobalset.h"

#include <QtCore/QSettings>

KvGlobalSet &KvGlobalSet::instance()
{
    static KvGlobalSet settings;
    return settings;
}

KvGlobalSet::KvGlobalSet()
{
    const QSettings store(QSettings::NativeFormat, QSettings::UserScope,
                          QStringLiteral("DrevoSoft"), QStringLiteral("INIT"));
    bool ok = false;
    const int value = store.value(QStringLiteral("IDFORMAT")).toInt(&ok);
    idFormat = ok ? value : 0;
}

KvGlobalSet::KvGlobalSet(const KvGlobalSet &other)
{
    *this = other;
}

KvGlobalSet &KvGlobalSet::operator=(const KvGlobalSet &other)
{
    idFormat = other.idFormat;
    watch.store(other.watch.load(std::memory_order_relaxed), std::memory_order_relaxed);
    for (int c = 0; c < ChannelCount; ++c)
        channelSets[c] = other.channelSets[c];
    return *this;
}

void KvGlobalSet::onWatch()
{
    bool now = watch.load(std::memory_order_relaxed);
    while (!watch.compare_exchange_weak(now, !now, std::memory_order_relaxed))
        ;
}
