#include "kvcanobjwatch.h"

KvCanObjWatch::KvCanObjWatch() : changed(8) {}

KvCanObjWatch::KvCanObjWatch(const KvCanObj &first) : changed(8), frame(first) {}
