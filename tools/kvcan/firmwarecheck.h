#ifndef FIRMWARECHECK_H
#define FIRMWARECHECK_H

#include <QtCore/QByteArray>
#include <QtCore/QCryptographicHash>
#include <QtCore/QString>

// Checks a firmware download from the frames a node received: the image from the 0x111 data
// frames, the digest from the 0x113 frames, and whether the 0x110 start and 0x114 finish commands
// framed them. Fed with the display texts of the receiving channel's trace. The image is hashed
// as it arrives and never held, so an image of any size costs the same memory.
class FirmwareCheck
{
public:
    void add(const QString &idText, const QString &direction, const QString &dataText);
    bool complete() const { return started && finished; }
    bool digestMatches() const;
    // SHA-1 of the image bytes received so far.
    QByteArray imageDigest() const { return hash.result(); }
    qint64 imageBytes() const { return bytes; }
    QByteArray digest() const { return sha; }
    qint64 imageFrames() const { return frames; }

private:
    bool started = false;
    bool finished = false;
    qint64 frames = 0;
    qint64 bytes = 0;
    QCryptographicHash hash{QCryptographicHash::Sha1};
    QByteArray sha;
};

#endif // FIRMWARECHECK_H
