#include "loadfile/LineReader.h"

#include <QFileInfo>

namespace {
constexpr qint64 ChunkSize = 64 * 1024;
}

bool LineReader::Open(const QString& path) {
    Forget();
    // Only a plain file: a directory cannot be read, and opening a pipe or a
    // device would wait for a writer that may never come.
    if (!QFileInfo(path).isFile())
        return false;
    file_.setFileName(path);
    return file_.open(QIODevice::ReadOnly);
}

void LineReader::Close() {
    if (file_.isOpen())
        file_.close();
    buffer_.clear();
    pos_ = 0;
}

void LineReader::Forget() {
    Close();
    sha256_.reset();
    read_ = 0;
}

bool LineReader::fill() {
    if (pos_ < buffer_.size())
        return true;
    if (!file_.isOpen())
        return false;
    buffer_ = file_.read(ChunkSize);
    sha256_.addData(buffer_);
    read_ += buffer_.size();
    pos_ = 0;
    return !buffer_.isEmpty();
}

qint64 LineReader::LongLine(QFile& file, qint64 longest) {
    qint64 line = 1;
    qint64 length = 0;    // of the line so far
    bool afterCr = false; // a piece ended in CR: an LF beginning the next belongs to it
    for (QByteArray piece; !(piece = file.read(ChunkSize)).isEmpty();) {
        qsizetype pos = afterCr && piece.front() == '\n' ? 1 : 0;
        afterCr = false;
        while (pos < piece.size()) {
            const qsizetype cr = piece.indexOf('\r', pos);
            length += (cr < 0 ? piece.size() : cr) - pos;
            if (length > longest)
                return line;
            if (cr < 0)
                break;
            ++line;
            length = 0;
            pos = cr + 1;
            if (pos < piece.size() && piece.at(pos) == '\n')
                ++pos;
            afterCr = pos == piece.size() && piece.back() == '\r';
        }
    }
    return 0;
}

bool LineReader::AtEnd() {
    return !fill();
}

QByteArray LineReader::ReadLine() {
    QByteArray line;
    while (fill()) {
        const qsizetype cr = buffer_.indexOf('\r', pos_);
        if (cr < 0) {
            line.append(buffer_.constData() + pos_, buffer_.size() - pos_);
            pos_ = buffer_.size();
            continue;
        }
        line.append(buffer_.constData() + pos_, cr - pos_);
        pos_ = cr + 1;
        if (fill() && buffer_.at(pos_) == '\n')
            ++pos_;
        break;
    }
    return line;
}
