#include "download/LineReader.h"

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
