#ifndef KVNAMEMAPPING_H
#define KVNAMEMAPPING_H

#include "kavri_global.h"

#include <QtCore/QList>
#include <QtCore/QMap>
#include <QtCore/QObject>
#include <QtCore/QPair>
#include <QtCore/QString>

// Readable names for frame identifiers, for the application to label traffic. An identifier is
// a bare number (a standard and an extended frame with the same number share one name), and the
// entries are kept in ascending unsigned order. The library never consults the table itself.
//
// No lock: the table belongs to the application's thread; a caller that shares it between
// threads serialises access itself.
class KAVRI_EXPORT KvNameMapping : public QObject
{
    Q_OBJECT
public:
    // The process-wide table.
    static KvNameMapping &getSingleton();

    KvNameMapping();
    explicit KvNameMapping(QObject *parent);
    ~KvNameMapping() override;

    // Sets the name of `id`, replacing an earlier one; an empty name is a name like any other.
    void add(unsigned int id, QString name);
    // The name of `id`, or an empty string when it has none. Does not add an entry.
    QString find(unsigned int id) const;
    void clear();
    int size() const;
    // All entries as (identifier, name), ascending by identifier.
    QList<QPair<unsigned int, QString>> getList() const;
    // The table itself, to read or change in place.
    QMap<unsigned int, QString> &getNameList();

private:
    QMap<unsigned int, QString> names;
};

#endif // KVNAMEMAPPING_H
