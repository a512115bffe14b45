#include "FieldMask.h"

namespace sorvanto {

// ---------------------------------------------------------------------------------------------
// TFieldMask

TFieldMask::TFieldMask(const std::vector<bool>& flags) {
    resize(flags.size());
    for (std::size_t i = 0; i < flags.size(); ++i)
        if (flags[i])
            Set(i);
}

void TFieldMask::Set(std::size_t i) noexcept {
    if (i >= size_)
        return;
    const std::uint64_t bit = std::uint64_t{1} << (i % 64);
    if (size_ <= 64)
        inline_ |= bit;
    else
        more_[i / 64] |= bit;
}

void TFieldMask::resize(std::size_t count) {
    // The flags of the first `bits` fields of a word.
    auto low = [](std::size_t bits) {
        return bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
    };
    if (count <= 64) {
        std::uint64_t first = size_ <= 64 ? inline_ : more_.front();
        more_.clear();
        more_.shrink_to_fit();
        inline_ = first & low(count);
    } else {
        if (size_ <= 64)
            more_.assign(1, inline_);
        inline_ = 0;
        more_.resize((count + 63) / 64, 0);
        more_.back() &= low(count - 64 * (more_.size() - 1));
    }
    size_ = count;
}

void TFieldMask::clear() noexcept {
    size_ = 0;
    inline_ = 0;
    more_.clear();
}

bool operator==(const TFieldMask& a, const TFieldMask& b) noexcept {
    if (a.size_ != b.size_)
        return false;
    return a.size_ <= 64 ? a.inline_ == b.inline_ : a.more_ == b.more_;
}

bool operator==(const TFieldMask& a, const std::vector<bool>& b) {
    return a == TFieldMask(b);
}

} // namespace sorvanto
