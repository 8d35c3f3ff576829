#ifndef KVIDFILTER_H
#define KVIDFILTER_H

#include "kavri_global.h"

#include <QtCore/QObject>
#include <QtCore/QString>

// One range of frame identifiers, both bounds inclusive and compared as unsigned numbers, with
// the application's note. Identifiers are compared as they stand in the frame record, standard
// or extended alike. A range whose start lies above its end matches nothing.
//
// A default-constructed range is such an empty range (start 0xFFFFFFFF, end 0), so a filter
// added before its bounds were set drops or admits nothing by accident.
//
// A value: copies carry the bounds and the note, never the parent.
class KAVRI_EXPORT KvIdFilter : public QObject
{
    Q_OBJECT
public:
    KvIdFilter();
    KvIdFilter(const KvIdFilter &other);
    KvIdFilter &operator=(const KvIdFilter &other);
    ~KvIdFilter() override;

    bool matches(quint32 id) const { return startId <= id && id <= endId; }

    quint32 startId = 0xFFFFFFFFu;
    quint32 endId = 0;
    QString note;
};

#endif // KVIDFILTER_H
