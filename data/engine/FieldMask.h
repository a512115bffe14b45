#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace sorvanto {

// One flag per field of a row. Rows of up to 64 fields keep their flags inline, so that a log
// entry costs no allocation of its own to make, copy or free.
class TFieldMask {
public:
    TFieldMask() = default;
    // One flag a field, from a list of them.
    TFieldMask(const std::vector<bool>& flags);
    TFieldMask(std::initializer_list<bool> flags) : TFieldMask(std::vector<bool>(flags)) {}

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    bool operator[](std::size_t i) const noexcept {
        return i < size_ && ((Word(i) >> (i % 64)) & 1u) != 0;
    }
    // Sets the flag of field i; a field past the size is ignored.
    void Set(std::size_t i) noexcept;
    // Flags added by growing start unset.
    void resize(std::size_t count);
    void clear() noexcept;

    friend bool operator==(const TFieldMask& a, const TFieldMask& b) noexcept;
    friend bool operator==(const TFieldMask& a, const std::vector<bool>& b);

private:
    std::uint64_t Word(std::size_t i) const noexcept {
        return size_ <= 64 ? inline_ : more_[i / 64];
    }
    std::size_t size_ = 0;
    std::uint64_t inline_ = 0;        // the flags while there are at most 64
    std::vector<std::uint64_t> more_; // all of them when there are more
};

} // namespace sorvanto
