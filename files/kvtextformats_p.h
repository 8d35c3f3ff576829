// Internal to the format registry; not installed and not part of the API.
#ifndef KVTEXTFORMATS_P_H
#define KVTEXTFORMATS_P_H

#include "kvframereader.h"
#include "kvframewriter.h"
#include "kvlogwords_p.h"

#include <QtCore/QByteArray>

namespace kavri {

// Lines of a file read in large blocks: LF, CR LF and a lone CR all end a line. A line longer
// than MaxLength bytes is dropped whole and reported once, as too long, so a file of endless
// lines costs no more memory than a short one.
class BlockLines
{
public:
    static const int MaxLength = 4095;

    explicit BlockLines(QFile &file) : file(file) {}
    // The next line without its end; false at the end of the file.
    bool next(TextField &line, bool &tooLong);
    qint64 position() const { return base + pos; }
    bool readFailed() const { return failedRead; }

private:
    bool fill();

    QFile &file;
    QByteArray block;
    int pos = 0;
    int end = 0;
    qint64 base = 0;
    bool eof = false;
    bool failedRead = false;
};

// What one line of a text recording is.
enum class LineKind { Frame, Bad, Other, Unsupported, EndOfData };

// Reads one line of an ASC recording, with the "base" and relative-time state of the file.
struct AscLineParser
{
    bool decimal = false;
    bool relativeTimes = false;
    quint64 clockMicros = 0; // time of the last line with a time
    qint64 epochNs = 0;      // from a date or Begin Triggerblock line
    // Our own form ends at a line that starts with a capital E.
    bool endAtE = false;

    LineKind parse(const TextField &line, KvFrame &frame);
};

// "(1436509052.249713) can0 123#11223344 [R|T]" -> frame with timeNs 1436509052249713000
LineKind parseCandumpLine(const TextField &line, KvFrame &frame);

// The CSV time column by the header's mode, in nanoseconds since midnight.
struct CsvLineParser
{
    int timeMode = 0;
    LineKind parse(const TextField &line, KvFrame &frame) const;
    // "No.,Dir,Time-2,..." -> 2; -1 when the line is not a header of nine columns with a mode.
    static int headerMode(const TextField &line);
};

class TextFrameReader : public KvFrameReader
{
protected:
    TextFrameReader() : lines(file) {}
    Result next(KvFrame &frame) override;
    qint64 consumed() const override { return lines.position(); }
    virtual LineKind parse(const TextField &line, KvFrame &frame) = 0;

    BlockLines lines;
    bool ended = false; // an end line was read: nothing after it belongs to the recording
};

class AscFrameReader : public TextFrameReader
{
public:
    explicit AscFrameReader(bool ownForm) { parser.endAtE = ownForm; }

protected:
    bool start() override;
    LineKind parse(const TextField &line, KvFrame &frame) override
    {
        return parser.parse(line, frame);
    }
    AscLineParser parser;
};

class CandumpFrameReader : public TextFrameReader
{
protected:
    bool start() override;
    LineKind parse(const TextField &line, KvFrame &frame) override;
    bool haveOrigin = false;
};

class CsvFrameReader : public TextFrameReader
{
protected:
    bool start() override;
    LineKind parse(const TextField &line, KvFrame &frame) override
    {
        return parser.parse(line, frame);
    }
    CsvLineParser parser;
};

// Payload bytes only: eight per frame, no time, identifier 0.
class BinFrameReader : public KvFrameReader
{
protected:
    Result next(KvFrame &frame) override;
};

// Writers. Text is formatted by hand into the buffer: a conversion writes millions of lines.

// The whole seconds of the last time stamp written, as text: a bus carries thousands of frames a
// second, so consecutive lines nearly always share them and only the micros need formatting.
struct SecondsText
{
    quint64 seconds = ~quint64(0);
    int length = 0; // digits in `text`
    char text[24] = {};
};

class AscFrameWriter : public KvFrameWriter
{
public:
    // ownForm: the strict form ASCFile reads (single spaces); else as other tools write it.
    explicit AscFrameWriter(bool ownForm) : ownForm(ownForm) {}
    ~AscFrameWriter() override { close(); }

protected:
    void begin() override;
    bool put(const KvFrame &frame) override;
    bool putComment(const QByteArray &text) override;
    void end() override;

private:
    bool ownForm;
    SecondsText secondsText;
};

class CandumpFrameWriter : public KvFrameWriter
{
public:
    ~CandumpFrameWriter() override { close(); }

protected:
    bool put(const KvFrame &frame) override;

private:
    SecondsText secondsText;
};

class CsvFrameWriter : public KvFrameWriter
{
public:
    ~CsvFrameWriter() override { close(); }

protected:
    void begin() override;
    bool put(const KvFrame &frame) override;

private:
    qint64 index = 0;
};

// Content checks over the first bytes of a file.
bool looksLikeText(const QByteArray &head);
bool looksLikeCandump(const QByteArray &head);
bool looksLikeCsv(const QByteArray &head);
bool looksLikeOwnAsc(const QByteArray &head);
bool looksLikeAscLog(const QByteArray &head);

} // namespace kavri

#endif // KVTEXTFORMATS_P_H
