// One move-only owner for every kind of handle: a traits type names the handle type, its
// "nothing" value and how to release it, so each release happens exactly once on every path.
// Standard C++ only; the traits of each platform API sit beside the code that uses that API.
#pragma once

#include <utility>

template <typename Traits>
class UniqueHandle {
  public:
    using Type = typename Traits::Type;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Type value) noexcept : value_(value) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }

    Type get() const noexcept { return value_; }
    bool valid() const noexcept { return value_ != Traits::Invalid(); }
    explicit operator bool() const noexcept { return valid(); }

    // For APIs that hand a new handle back through an out parameter.
    Type* put() noexcept {
        reset();
        return &value_;
    }

    Type release() noexcept { return std::exchange(value_, Traits::Invalid()); }

    void reset(Type value = Traits::Invalid()) noexcept {
        Type old = std::exchange(value_, value);
        if (old != Traits::Invalid())
            Traits::Close(old);
    }

  private:
    Type value_ = Traits::Invalid();
};

// The traits of most kinds: `Release(handle)` frees it, and `Invalid` (a null value unless given)
// means nothing is held.
template <typename T, auto Release>
struct ReleasedBy {
    using Type = T;
    static Type Invalid() noexcept { return Type(); }
    static void Close(Type h) noexcept { Release(h); }
};
