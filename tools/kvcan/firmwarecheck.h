#ifndef FIRMWARECHECK_H
#define FIRMWARECHECK_H

#include <QtCore/QByteArray>
#include <QtCore/QString>

// Rebuilds a firmware download from the frames a node received: the image from the 0x111 data
// frames, the digest from the 0x113 frames, and whether the 0x110 start and 0x114 finish commands
// framed them. Fed with the display texts of the receiving channel's trace.
class FirmwareCheck
{
public:
    void add(const QString &idText, const QString &direction, const QString &dataText);
    bool complete() const { return started && finished; }
    bool digestMatches() const;
    QByteArray image() const { return data; }
    QByteArray digest() const { return sha; }
    int imageFrames() const { return frames; }

private:
    bool started = false;
    bool finished = false;
    int frames = 0;
    QByteArray data;
    QByteArray sha;
};

#endif // FIRMWARECHECK_H
