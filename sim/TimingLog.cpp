#include "sim/TimingLog.h"

#include <QFile>
#include <algorithm>

namespace {

// The log writes CR, LF and bytes outside printable ASCII escaped.
QByteArray Unescape(QByteArrayView text) {
    QByteArray bytes;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            bytes += text[i];
        } else if (text[i + 1] == 'x') {
            bytes += static_cast<char>(text.sliced(i + 2, 2).toByteArray().toInt(nullptr, 16));
            i += 3;
        } else {
            bytes += text[++i] == 'r' ? '\r' : '\n';
        }
    }
    return bytes;
}

// A record of the load, not one of the logon's commands.
bool IsRecord(const QByteArray& bytes) {
    return bytes.startsWith('%') && !bytes.startsWith("%B");
}

} // namespace

LoadTiming ReadTimingLog(const QString& path) {
    LoadTiming t;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return t;
    QByteArray sinceRead; // what the loader said since it last heard anything
    double lastWrite = -1;
    bool endSent = false;
    while (!file.atEnd() && !t.Complete()) {
        QByteArray line = file.readLine();
        if (line.endsWith('\n'))
            line.chop(1);
        const qsizetype gap = line.indexOf(' ', 2);
        if (line.size() < 3 || gap < 0 || line[1] != ' ' || (line[0] != 'R' && line[0] != 'W'))
            continue;
        const double at = line.mid(2, gap - 2).toDouble();
        const QByteArray bytes = Unescape(QByteArrayView(line).sliced(gap + 1));
        if (t.start >= 0)
            t.characters += bytes.size();
        if (line[0] == 'W') {
            sinceRead += bytes;
            lastWrite = at;
            if (endSent && sinceRead.contains("$BEND\r"))
                t.end = at;
            continue;
        }
        if (IsRecord(bytes)) {
            if (t.start < 0) {
                t.start = at;
                t.characters = bytes.size();
            }
            ++t.records;
            if (sinceRead == "$BOK\r\n")
                t.turns.push_back(at - lastWrite);
            endSent = bytes.startsWith("%E");
        }
        sinceRead.clear();
    }
    return t;
}

double Quantile(std::vector<double> values, double q) {
    if (values.empty())
        return -1;
    const auto k = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}
