#include "ParamList.h"

#include <stdexcept>

namespace sorvanto {

namespace {
constexpr char FoldAscii(char c) noexcept {
    return (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
}
} // namespace

bool SameText(std::string_view a, std::string_view b) noexcept {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i]))
            return false;
    return true;
}

std::string_view TrimControls(std::string_view text) noexcept {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32)
        ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32)
        --end;
    return text.substr(begin, end - begin);
}

void TParamList::AddStrings(const TParamList& other) {
    lines_.insert(lines_.end(), other.lines_.begin(), other.lines_.end());
}

void TParamList::Delete(int index) {
    if (index < 0 || index >= Count())
        throw std::out_of_range("TParamList::Delete");
    lines_.erase(lines_.begin() + index);
}

void TParamList::Put(int index, std::string line) {
    if (index < 0 || index >= Count())
        throw std::out_of_range("TParamList::Put");
    lines_[static_cast<size_t>(index)] = std::move(line);
}

bool TParamList::HasSeparator(int index) const {
    return (*this)[index].find('=') != std::string::npos;
}

std::string_view TParamList::Name(int index) const {
    std::string_view line = (*this)[index];
    return line.substr(0, line.find('='));
}

std::string_view TParamList::Value(int index) const {
    std::string_view line = (*this)[index];
    size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string_view() : line.substr(eq + 1);
}

int TParamList::IndexOfName(std::string_view name) const noexcept {
    for (size_t i = 0; i < lines_.size(); ++i) {
        std::string_view line = lines_[i];
        size_t eq = line.find('=');
        if (eq != std::string_view::npos && SameText(line.substr(0, eq), name))
            return static_cast<int>(i);
    }
    return -1;
}

std::string TParamList::ValueOfName(std::string_view name) const {
    int index = IndexOfName(name);
    return index < 0 ? std::string() : std::string(Value(index));
}

void TParamList::SetValueOfName(std::string_view name, std::string_view value) {
    int index = IndexOfName(name);
    if (value.empty()) {
        if (index >= 0)
            Delete(index);
        return;
    }
    std::string line;
    line.reserve(name.size() + 1 + value.size());
    line.append(name).append("=").append(value);
    if (index >= 0)
        lines_[static_cast<size_t>(index)] = std::move(line);
    else
        lines_.push_back(std::move(line));
}

} // namespace sorvanto
