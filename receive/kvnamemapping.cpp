#include "kvnamemapping.h"

KvNameMapping &KvNameMapping::getSingleton()
{
    static KvNameMapping table;
    return table;
}

KvNameMapping::KvNameMapping() : QObject(nullptr) {}

KvNameMapping::KvNameMapping(QObject *parent) : QObject(parent) {}

KvNameMapping::~KvNameMapping() = default;

void KvNameMapping::add(unsigned int id, QString name)
{
    names.insert(id, name);
}

QString KvNameMapping::find(unsigned int id) const
{
    return names.value(id);
}

void KvNameMapping::clear()
{
    names.clear();
}

int KvNameMapping::size() const
{
    return names.size();
}

QList<QPair<unsigned int, QString>> KvNameMapping::getList() const
{
    QList<QPair<unsigned int, QString>> list;
    list.reserve(names.size());
    for (auto it = names.cbegin(); it != names.cend(); ++it)
        list.append(qMakePair(it.key(), it.value()));
    return list;
}

QMap<unsigned int, QString> &KvNameMapping::getNameList()
{
    return names;
}
