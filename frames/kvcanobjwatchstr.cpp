#include "kvcanobjwatchstr.h"

KvCanObjWatchStr::KvCanObjWatchStr() : changed(8) {}
