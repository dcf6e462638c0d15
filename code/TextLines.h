#pragma once
// Reads a file held in memory the way a text-mode line read does: CR LF
// arrives as a single LF, and a physical line longer than the read buffer
// arrives in several pieces. Views only, so a large file costs no allocations.
#include <cstddef>
#include <string_view>

namespace veldrix {

struct TextPiece {
    std::string_view text;  // without the line end
    bool lineEnd = false;   // a LF ends this piece
    size_t Length() const { return text.size() + (lineEnd ? 1 : 0); }
};

class TextLineReader {
public:
    // maxChars: characters per read, line end included (buffer size - 1).
    TextLineReader(std::string_view data, size_t maxChars) : data_(data), max_(maxChars ? maxChars : 1) {}

    bool Next(TextPiece& piece) {
        if (!inLine_) {
            if (pos_ >= data_.size()) return false;
            size_t nl = data_.find('\n', pos_);
            if (nl == std::string_view::npos) {
                contentEnd_ = next_ = data_.size();
                hasEnd_ = false;
            } else {
                contentEnd_ = (nl > pos_ && data_[nl - 1] == '\r') ? nl - 1 : nl;
                next_ = nl + 1;
                hasEnd_ = true;
            }
            inLine_ = true;
        }
        size_t avail = contentEnd_ - pos_;
        if (avail + (hasEnd_ ? 1 : 0) <= max_) {
            piece.text = data_.substr(pos_, avail);
            piece.lineEnd = hasEnd_;
            pos_ = next_;
            inLine_ = false;
        } else {
            piece.text = data_.substr(pos_, max_);
            piece.lineEnd = false;
            pos_ += max_;
        }
        return true;
    }

private:
    std::string_view data_;
    size_t max_;
    size_t pos_ = 0, contentEnd_ = 0, next_ = 0;
    bool hasEnd_ = false, inLine_ = false;
};

}  // namespace veldrix
