#ifndef KAVRI_GLOBAL_H
#define KAVRI_GLOBAL_H

#include <QtCore/qglobal.h>

#if defined(KAVRI_LIBRARY)
#define KAVRI_EXPORT Q_DECL_EXPORT
#else
#define KAVRI_EXPORT Q_DECL_IMPORT
#endif

#endif // KAVRI_GLOBAL_H
