#pragma once

#include <string>

namespace sorvanto {

// A named part of a window or of another component. While its stored layout is being read
// (Loading), some property writes are only noted and take effect in Loaded().
class TComponent {
public:
    explicit TComponent(std::string name = {}) : name_(std::move(name)) {}
    virtual ~TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    const std::string& Name() const noexcept { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }

    bool Loading() const noexcept { return loading_; }
    void BeginLoading() noexcept { loading_ = true; }
    // Ends reading the stored layout and lets the component act on what it noted.
    void EndLoading() {
        loading_ = false;
        Loaded();
    }

protected:
    virtual void Loaded() {}

private:
    std::string name_;
    bool loading_ = false;
};

} // namespace sorvanto
