// A growable byte buffer with a read/write position, as the mail components use it for
// multi-line replies and decoded output.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

namespace pw {

class TMemoryStream {
public:
    size_t Size() const { return data_.size(); }
    size_t Position() const { return position_; }
    void SetPosition(size_t position) { position_ = std::min(position, data_.size()); }
    void Clear() {
        data_.clear();
        position_ = 0;
    }

    // Writes at the position, overwriting or growing, and moves the position past the bytes.
    void Write(const void* bytes, size_t count) {
        if (count == 0)
            return;
        if (position_ + count > data_.size())
            data_.resize(position_ + count);
        data_.replace(position_, count, static_cast<const char*>(bytes), count);
        position_ += count;
    }
    void Write(std::string_view text) { Write(text.data(), text.size()); }

    // Reads up to count bytes from the position; returns how many were read.
    size_t Read(void* bytes, size_t count) {
        const size_t n = std::min(count, data_.size() - position_);
        data_.copy(static_cast<char*>(bytes), n, position_);
        position_ += n;
        return n;
    }

    const std::string& Data() const { return data_; }

private:
    std::string data_;
    size_t position_ = 0;
};

} // namespace pw
