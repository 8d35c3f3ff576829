#include "canobj.h"

#include <cstring>

CanObj::CanObj() : QObject(nullptr) {}

CanObj::CanObj(QObject *parent) : QObject(parent) {}

CanObj::CanObj(const CanObj &other) : QObject(nullptr)
{
    copyFields(other);
}

CanObj &CanObj::operator=(const CanObj &other)
{
    if (this != &other)
        copyFields(other);
    return *this;
}

CanObj::~CanObj() = default;

void CanObj::copyFields(const CanObj &other)
{
    ID = other.ID;
    TimeStamp = other.TimeStamp;
    TimeFlag = other.TimeFlag;
    SendType = other.SendType;
    RemoteFlag = other.RemoteFlag;
    ExternFlag = other.ExternFlag;
    DataLen = other.DataLen;
    std::memcpy(Data, other.Data, sizeof Data);
    std::memcpy(Reserved, other.Reserved, sizeof Reserved);
    UserData = other.UserData;
    UserFlag = other.UserFlag;
    TailFlag = other.TailFlag;
    BatchEndFlag = other.BatchEndFlag;
}

VCI_CAN_OBJ CanObj::toTransmit() const
{
    VCI_CAN_OBJ record{};
    record.ID = ID;
    record.SendType = SendType;
    record.RemoteFlag = RemoteFlag;
    record.ExternFlag = ExternFlag;
    record.DataLen = DataLen;
    std::memcpy(record.Data, Data, sizeof record.Data);
    return record;
}
