#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace sorvanto {

// Compares two names without regard to letter case (ASCII letters fold; other characters compare
// as they are).
bool SameText(std::string_view a, std::string_view b) noexcept;

// Removes every character with code 32 or below from both ends.
std::string_view TrimControls(std::string_view text) noexcept;

// An ordered list of "name=value" text lines. Names compare without regard to letter case and a
// lookup finds the first matching line; a line without "=" has no name and is never found by name.
class TParamList {
public:
    TParamList() = default;
    TParamList(std::initializer_list<std::string> lines) : lines_(lines) {}

    int Count() const noexcept { return static_cast<int>(lines_.size()); }
    const std::string& operator[](int index) const { return lines_.at(static_cast<size_t>(index)); }
    const std::vector<std::string>& Lines() const noexcept { return lines_; }

    void Clear() noexcept { lines_.clear(); }
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    void AddStrings(const TParamList& other);
    void Delete(int index);
    // Replaces line i.
    void Put(int index, std::string line);

    // Position of the first line whose name matches, or -1.
    int IndexOfName(std::string_view name) const noexcept;
    // The value of the first line whose name matches; empty text when none does.
    std::string ValueOfName(std::string_view name) const;
    // Sets, adds, or (with an empty value) removes the first line of that name.
    void SetValueOfName(std::string_view name, std::string_view value);

    // Line i split at its first "=": the name (the whole line when it has no "=") and the value.
    std::string_view Name(int index) const;
    std::string_view Value(int index) const;
    bool HasSeparator(int index) const;

    bool operator==(const TParamList&) const = default;

private:
    std::vector<std::string> lines_;
};

} // namespace sorvanto
