// The load file as the download reads it: lines cut by the line reader (from
// a file on disk, so its buffering is in play) and records cut from them the
// way DownloadFile does, one line read and one record cut per cycle.
#include "fuzz/FuzzPeer.h"
#include "loadfile/LineReader.h"
#include "loadfile/Records.h"

#include <QTemporaryDir>

namespace {

// The lines of `text` by the rule, done the plain way: a line ends at CR or
// CR LF; a last line without an end still counts, an empty tail does not.
QList<QByteArray> ExpectedLines(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\r');
    for (qsizetype i = 1; i < lines.size(); ++i)
        if (lines[i].startsWith('\n')) // the LF of a CR LF
            lines[i].remove(0, 1);
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir dir;
    if (size == 0)
        return 0;
    // With the first byte's high bit set the text is pushed to just before the
    // reader's 64 KiB read boundary, so a CR LF or a line can straddle it.
    QByteArray text;
    if (data[0] & 0x80)
        text = "%" + QByteArray(64 * 1024 - 1 - (data[0] & 0x3f), 'x');
    text.append(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    const QString path = dir.filePath(QStringLiteral("LOAD.ROM"));
    FUZZ_CHECK(WriteFile(path, text));
    LineReader reader;
    FUZZ_CHECK(reader.Open(path));

    const QList<QByteArray> expected = ExpectedLines(text);
    QList<QByteArray> lines, records;
    PendingText pending;
    const qsizetype percents = text.count('%');
    for (qsizetype cycle = 0; !reader.AtEnd() || !pending.Text().isEmpty(); ++cycle) {
        // Each cycle either reads a line or cuts a record that begins with "%".
        FUZZ_CHECK(cycle < expected.size() + percents + 2);
        if (!reader.AtEnd()) {
            const QByteArray line = reader.ReadLine();
            FUZZ_CHECK(!line.contains('\r'));
            if (lines.isEmpty() && !line.startsWith('%')) {
                // "Invalid File Type": nothing is sent.
                FUZZ_CHECK(expected.front() == line);
                return 0;
            }
            lines << line;
            pending.Append(line);
        }
        const QByteArray record = pending.CutRecord();
        // A "%" only ever starts a record; blanks never stand at either end.
        FUZZ_CHECK(record.lastIndexOf('%') <= 0);
        FUZZ_CHECK(!record.startsWith(' ') && !record.endsWith(' ') && !record.contains('\r'));
        // What stays behind is the start of the next record, or nothing.
        FUZZ_CHECK(pending.Text().isEmpty() || pending.Text().startsWith('%'));
        records << record;
    }
    FUZZ_CHECK(reader.AtEnd() && reader.ReadLine().isEmpty());

    // The reader gives the lines the rule gives...
    FUZZ_CHECK(lines == expected);
    // ...and the records carry all of their text but blanks, in order.
    FUZZ_CHECK(records.join().replace(' ', "") == lines.join().replace(' ', ""));
    FUZZ_CHECK(std::count_if(records.begin(), records.end(),
                             [](const QByteArray& r) { return r.startsWith('%'); }) == percents);
    return 0;
}
