#include "canobjstr.h"

CanObjStr::CanObjStr() : QObject(nullptr) {}

CanObjStr::CanObjStr(QObject *parent) : QObject(parent) {}

CanObjStr::CanObjStr(const CanObjStr &other) : QObject(nullptr)
{
    *this = other;
}

CanObjStr &CanObjStr::operator=(const CanObjStr &other)
{
    index = other.index;
    id = other.id;
    spare1 = other.spare1;
    timeStamp = other.timeStamp;
    systemTime = other.systemTime;
    spare2 = other.spare2;
    spare3 = other.spare3;
    frameType = other.frameType;
    frameFormat = other.frameFormat;
    dataLen = other.dataLen;
    data = other.data;
    spare4 = other.spare4;
    direction = other.direction;
    return *this;
}

CanObjStr::~CanObjStr() = default;
