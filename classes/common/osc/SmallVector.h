#pragma once

// Why this exists: a vector whose first N elements live inside the object, so
// that a decoded message holds its address and arguments, and an argument its
// bytes, without an allocation of their own. With one allocation per argument list
// and per message the codec decoded a bundle of 56 grid messages in 1775 to
// 1924 ns against 1236 to 1255 ns for the zero-copy oscpack (bench/README.md).
//
// A subset of std::vector's interface. Elements move to the heap, all of them,
// once there are more than N. Element pointers are invalidated by any growth
// and, unlike std::vector's, by a move of the whole vector.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <span>
#include <type_traits>
#include <utility>

namespace velto {

template <typename T, std::size_t N>
class SmallVector {
public:
    SmallVector() noexcept {}  // user-provided: the inline room is never zeroed
    SmallVector(const SmallVector& other) : SmallVector() { append(other.begin(), other.end()); }
    SmallVector(SmallVector&& other) noexcept : SmallVector() { take(other); }
    SmallVector& operator=(const SmallVector& other) {
        if (this != &other) {
            SmallVector copy(other);
            release();
            take(copy);
        }
        return *this;
    }
    SmallVector& operator=(SmallVector&& other) noexcept {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }
    ~SmallVector() {
        std::destroy(begin(), end());
        if (!isInline()) std::allocator<T>().deallocate(begin_, capacity_);
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    std::size_t capacity() const { return capacity_; }
    T* data() { return begin_; }
    const T* data() const { return begin_; }
    T* begin() { return begin_; }
    T* end() { return begin_ + size_; }
    const T* begin() const { return begin_; }
    const T* end() const { return begin_ + size_; }
    T& operator[](std::size_t i) { return begin_[i]; }
    const T& operator[](std::size_t i) const { return begin_[i]; }
    std::span<const T> view() const { return {begin_, size_}; }

    void reserve(std::size_t count) {
        if (count > capacity_) moveTo(count);
    }

    template <typename... Args>
    T& emplace_back(Args&&... args) {
        if (size_ == capacity_) {
            // Made before the move: `args` may refer to an element that moves.
            T element(std::forward<Args>(args)...);
            moveTo(capacity_ * 2);
            ::new (static_cast<void*>(begin_ + size_)) T(std::move(element));
        } else {
            ::new (static_cast<void*>(begin_ + size_)) T(std::forward<Args>(args)...);
        }
        return begin_[size_++];
    }
    void push_back(T&& element) { emplace_back(std::move(element)); }
    void push_back(const T& element) { emplace_back(element); }

    // Appends copies of [first, last), which must not lie in this vector.
    void append(const T* first, const T* last) {
        reserve(size_ + static_cast<std::size_t>(last - first));
        if constexpr (std::is_trivially_copyable_v<T>) {
            if (first != last) std::memcpy(begin_ + size_, first, sizeof(T) * (last - first));
            size_ += static_cast<std::uint32_t>(last - first);
        } else {
            for (; first != last; ++first) emplace_back(*first);
        }
    }

    // Appends `count` elements left as they are, for the caller to fill in
    // (bytes and the like only), and returns the first of them.
    T* extend(std::size_t count) requires std::is_trivially_copyable_v<T> {
        reserve(size_ + count);
        T* first = begin_ + size_;
        size_ += static_cast<std::uint32_t>(count);
        return first;
    }

    // `count` elements, each value-initialised (zero for bytes).
    void assignZeroed(std::size_t count) requires std::is_trivially_copyable_v<T> {
        size_ = 0;
        reserve(count);
        std::memset(static_cast<void*>(begin_), 0, sizeof(T) * count);
        size_ = static_cast<std::uint32_t>(count);
    }

    void clear() noexcept {
        std::destroy(begin(), end());
        size_ = 0;
    }

private:
    T* inlineRoom() { return reinterpret_cast<T*>(inline_); }
    bool isInline() const { return begin_ == reinterpret_cast<const T*>(inline_); }

    // Moves the elements into a heap room for `capacity` elements.
    void moveTo(std::size_t capacity) {
        T* room = std::allocator<T>().allocate(capacity);
        std::uninitialized_move(begin(), end(), room);
        std::destroy(begin(), end());
        if (!isInline()) std::allocator<T>().deallocate(begin_, capacity_);
        begin_ = room;
        capacity_ = static_cast<std::uint32_t>(capacity);
    }

    // Destroys the elements and frees the heap room: empty and inline again.
    void release() noexcept {
        clear();
        if (!isInline()) std::allocator<T>().deallocate(begin_, capacity_);
        begin_ = inlineRoom();
        capacity_ = N;
    }

    // Takes `other`'s elements, leaving it empty; this vector holds none.
    void take(SmallVector& other) noexcept {
        if (!other.isInline()) {
            begin_ = std::exchange(other.begin_, other.inlineRoom());
            size_ = std::exchange(other.size_, 0);
            capacity_ = std::exchange(other.capacity_, N);
            return;
        }
        if constexpr (std::is_trivially_copyable_v<T>) {
            // Fixed sizes, copied without a call. Just 4 bytes when no more are
            // used: a word just stored there is then read back as it was
            // stored, not stalled on by a wider read.
            if (other.size_ * sizeof(T) <= 4 && sizeof inline_ >= 4) {
                std::memcpy(inline_, other.inline_, 4);
            } else {
                std::memcpy(inline_, other.inline_, sizeof inline_);
            }
        } else {
            std::uninitialized_move(other.begin(), other.end(), begin_);
        }
        size_ = other.size_;
        other.clear();
    }

    T* begin_ = inlineRoom();
    std::uint32_t size_ = 0;
    std::uint32_t capacity_ = N;
    alignas(T) unsigned char inline_[N * sizeof(T)];
};

}  // namespace velto
