#pragma once

// Ownership of the Firebird client's interfaces, for the driver and for code that talks to the
// client library directly (the benchmarks). Not part of the data layer's interface.

#include <firebird/Interface.h>

#include <string>
#include <type_traits>
#include <utility>

namespace sorvanto::fbdrv {

// Owns an IStatus for the calls of one object.
class Status {
public:
    explicit Status(Firebird::IMaster* master) : status_(master->getStatus()), wrapper_(status_) {}
    ~Status() { status_->dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;
    Firebird::ThrowStatusWrapper* operator&() { return &wrapper_; }
    Firebird::ThrowStatusWrapper* get() { return &wrapper_; }

private:
    Firebird::IStatus* status_;
    Firebird::ThrowStatusWrapper wrapper_;
};

// Owns one Firebird interface: releases it (disposes it, for a parameter-block builder) unless
// it was taken. commit, detach, close and free release the interface themselves when they
// succeed: call them through Finish, or Take the pointer after them.
template <typename T> class Handle {
public:
    Handle() = default;
    explicit Handle(T* object) noexcept : object_(object) {}
    ~Handle() { Reset(); }
    Handle(Handle&& other) noexcept : object_(other.Take()) {}
    Handle& operator=(Handle&& other) noexcept {
        Reset(other.Take());
        return *this;
    }

    T* get() const noexcept { return object_; }
    T* operator->() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Gives up ownership without releasing.
    T* Take() noexcept { return std::exchange(object_, nullptr); }

    // Releases what is held and holds object instead.
    void Reset(T* object = nullptr) noexcept {
        if (T* old = std::exchange(object_, object))
            Drop(old);
    }

    // Ends the interface with a call that releases it on success (close, free, rollback,
    // detach); when that call fails, releases it all the same. Never throws.
    template <typename F> void Finish(F&& end) noexcept {
        if (!object_)
            return;
        try {
            end(object_);
            object_ = nullptr;
        } catch (const Firebird::FbException&) {
            Reset();
        }
    }

private:
    static void Drop(T* object) noexcept {
        if constexpr (std::is_base_of_v<Firebird::IReferenceCounted, T>)
            object->release();
        else
            object->dispose();
    }

    T* object_ = nullptr;
};

// The client's text of a failed call's status.
inline std::string StatusText(Firebird::IUtil* util, Firebird::IStatus* status) {
    char text[4096] = {};
    util->formatStatus(text, sizeof text - 1, status);
    return text;
}

} // namespace sorvanto::fbdrv
