#include "candata.h"

CanData::CanData() : QObject(nullptr) {}

CanData::CanData(QObject *parent) : QObject(parent) {}

CanData::CanData(const CanData &other) : QObject(nullptr), frames(other.frames) {}

CanData &CanData::operator=(const CanData &other)
{
    frames = other.frames;
    return *this;
}

CanData::~CanData() = default;

void CanData::push(const CanObj &frame)
{
    frames.append(frame);
}

void CanData::push(const CanObj &&frame)
{
    frames.append(frame);
}

CanObj CanData::pop()
{
    if (frames.isEmpty())
        return CanObj();
    return frames.takeFirst();
}

const CanObj &CanData::at(int i) const
{
    return frames.at(i);
}

int CanData::size() const
{
    return frames.size();
}

bool CanData::isEmpty() const
{
    return frames.size() < 1;
}

void CanData::clear()
{
    frames.clear();
}
