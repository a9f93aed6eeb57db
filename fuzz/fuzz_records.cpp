// The load file as the download reads it: lines cut by the line reader (from
// a file on disk, so its buffering is in play) and records cut from them the
// way DownloadFile does, one line read and one record cut per cycle.
#include "download/LineReader.h"
#include "download/Records.h"
#include "fuzz/FuzzPeer.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

namespace {

QTemporaryDir* dir = nullptr;

// The lines of `text` by the rule, done the plain way: a line ends at CR or
// CR LF; a last line without an end still counts, an empty tail does not.
QList<QByteArray> ExpectedLines(const QByteArray& text) {
    QList<QByteArray> lines;
    qsizetype from = 0;
    for (;;) {
        const qsizetype cr = text.indexOf('\r', from);
        if (cr < 0)
            break;
        lines << text.mid(from, cr - from);
        from = cr + 1 < text.size() && text[cr + 1] == '\n' ? cr + 2 : cr + 1;
    }
    if (from < text.size())
        lines << text.mid(from);
    return lines;
}

QByteArray WithoutBlanks(QByteArray text) {
    return text.replace(' ', QByteArray());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    dir = new QTemporaryDir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // With the first byte's high bit set the text is pushed to just before the
    // reader's 64 KiB read boundary, so a CR LF or a line can straddle it.
    QByteArray text;
    if (data[0] & 0x80)
        text = "%" + QByteArray(64 * 1024 - 1 - (data[0] & 0x3f), 'x');
    text.append(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));

    const QString path = dir->filePath(QStringLiteral("LOAD.ROM"));
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size())
            std::abort();
    }
    LineReader reader;
    FUZZ_CHECK(reader.Open(path));

    const QList<QByteArray> expected = ExpectedLines(text);
    QList<QByteArray> lines;
    QList<QByteArray> records;
    PendingText pending;
    const qsizetype percents = text.count('%');
    // Each cycle either reads a line or cuts a record that begins with "%".
    const qsizetype cycleBound = expected.size() + percents + 2;
    for (qsizetype cycle = 0; !reader.AtEnd() || !pending.Text().isEmpty(); ++cycle) {
        FUZZ_CHECK(cycle < cycleBound);
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
        FUZZ_CHECK(!record.startsWith(' ') && !record.endsWith(' '));
        FUZZ_CHECK(!record.contains('\r'));
        // What stays behind is the start of the next record, or nothing.
        FUZZ_CHECK(pending.Text().isEmpty() || pending.Text().startsWith('%'));
        records << record;
    }
    FUZZ_CHECK(reader.AtEnd());
    FUZZ_CHECK(reader.ReadLine().isEmpty());

    if (lines.isEmpty()) {
        FUZZ_CHECK(expected.isEmpty());
        return 0;
    }
    // The reader gives the lines the rule gives...
    FUZZ_CHECK(lines == expected);
    // ...and the records carry all of their text but blanks, in order.
    FUZZ_CHECK(WithoutBlanks(records.join()) == WithoutBlanks(lines.join()));
    qsizetype recordsWithPercent = 0;
    for (const QByteArray& record : records)
        recordsWithPercent += record.startsWith('%');
    FUZZ_CHECK(recordsWithPercent == percents);
    return 0;
}
