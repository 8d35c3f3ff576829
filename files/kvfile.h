#ifndef KVFILE_H
#define KVFILE_H

#include "kavri_global.h"

#include <QtCore/QFile>

class CanData;
class CanObj;

// The interface of a frame-file reader: a QFile that hands out frames. The replay thread drives
// a reader as open(name), size(), prepare(), then atEnd() / getFrame() / pos() until atEnd() or
// getFrame() says stop, then close() and delete.
//
// This base reads nothing: all four operations return false and leave their arguments as they
// were. QFile's own open overloads stay usable beside open(QString).
class KAVRI_EXPORT KvFile : public QFile
{
    Q_OBJECT
public:
    explicit KvFile(QObject *parent = nullptr);
    ~KvFile() override;

    using QFile::open;
    virtual bool open(QString fileName);
    virtual bool prepare();
    virtual bool getFrames(CanData &frames, int count);
    virtual bool getFrame(CanObj &frame);

protected:
    // Sets the name and opens the file read-only, without Qt's text-mode translation (the text
    // readers translate line ends themselves). Refuses, without opening anything, an empty name,
    // a reader that is already open and anything but a regular file: opening a pipe may block
    // and a device may never end.
    bool openRecording(const QString &fileName);
};

#endif // KVFILE_H
