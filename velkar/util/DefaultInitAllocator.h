#pragma once

// The standard allocator, except that elements made without a value are default-initialised
// rather than value-initialised: resizing a std::vector<double> that uses it leaves the new
// elements unset instead of writing zeros over them. A large block that its users fill whole
// is then first written by the threads that fill it, in parallel, and not once more before.
// Elements made from a value are made as the standard allocator makes them.

#include <memory>
#include <new>
#include <type_traits>
#include <utility>

namespace velkar::util {

template <typename T>
class DefaultInitAllocator : public std::allocator<T> {
  public:
    template <typename U>
    struct rebind {
        using other = DefaultInitAllocator<U>;
    };

    DefaultInitAllocator() = default;
    template <typename U>
    DefaultInitAllocator(const DefaultInitAllocator<U>&) noexcept {}

    template <typename U>
    void construct(U* place) noexcept(std::is_nothrow_default_constructible_v<U>) {
        ::new (static_cast<void*>(place)) U;
    }
    template <typename U, typename... Arguments>
    void construct(U* place, Arguments&&... arguments) {
        ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
    }
};

}  // namespace velkar::util
