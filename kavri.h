#ifndef KAVRI_H
#define KAVRI_H

// The whole public API of the engine library in one include.

#include "kavri_global.h"

#include "vci.h"

#include "candata.h"
#include "canobj.h"
#include "canobjstr.h"
#include "kvcanobj.h"
#include "kvcanobjstrqueue.h"
#include "kvcanobjwatch.h"
#include "kvcanobjwatchstr.h"
#include "kvcommon.h"

#include "devcan.h"
#include "kvdevicesession.h"
#include "kvframesubscription.h"

#include "canreadthread.h"
#include "canthread.h"
#include "kvbuffer.h"
#include "kvchannelset.h"
#include "kvglobalset.h"
#include "kvidfilter.h"
#include "kvidfiltermannger.h"
#include "kvidstatistics.h"
#include "kvnamemapping.h"
#include "kvthread.h"

#include "canwritethread.h"
#include "kvpipe.h"
#include "kvreplay.h"
#include "kvsendfilethread.h"
#include "kvsendfirmwarethread.h"
#include "kvsingletaskthread.h"
#include "kvtaskmanager.h"
#include "taskobj.h"
#include "taskthread.h"

#include "ascfile.h"
#include "kvfile.h"
#include "kvfileasclog.h"
#include "kvfilebin.h"
#include "kvfilecandump.h"
#include "kvfilecsv.h"
#include "kvformatregistry.h"
#include "kvframe.h"
#include "kvframereader.h"
#include "kvframewriter.h"
#include "kvrecorder.h"

#include "kvnamexmlreader.h"
#include "kvnamexmlwriter.h"

#include "kvdbcdatabase.h"
#include "kvdbcformat.h"
#include "kvgbtdecoder.h"
#include "kvgbtjson.h"
#include "kvgbtmessage.h"
#include "kvgbtmonitor.h"
#include "kvgbtsession.h"
#include "kvgbtsimulation.h"
#include "kvj1939id.h"
#include "kvj1939transport.h"
#include "kvsignaldecoder.h"

// A class bearing the library's name; it holds nothing and does nothing. Applications that were
// written against it keep compiling and linking.
class KAVRI_EXPORT Kavri
{
public:
    Kavri();
    ~Kavri();
    Kavri(const Kavri &other);
    Kavri &operator=(const Kavri &other);
};

#endif // KAVRI_H
