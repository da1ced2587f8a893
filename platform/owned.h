// Small owners for handles and heap blocks: each releases what it holds on
// every path, through the platform table. `release()` hands the value out
// when a caller wants to close it itself and see the result.
#pragma once

#include "platform/win32.h"

// Traits: `Type`, `Invalid()` and `Close(Type)`.
template <typename Traits>
class Owned {
    typedef typename Traits::Type T;

public:
    Owned() = default;
    explicit Owned(T value) : value_(value) {}
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    Owned(Owned&& other) noexcept : value_(other.release()) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    ~Owned() { reset(); }

    T get() const { return value_; }
    T* put() {
        reset();
        return &value_;
    }
    explicit operator bool() const { return value_ != Traits::Invalid(); }
    T release() {
        T value = value_;
        value_ = Traits::Invalid();
        return value;
    }
    void reset(T value = Traits::Invalid()) {
        if (value_ != Traits::Invalid()) Traits::Close(value_);
        value_ = value;
    }

private:
    T value_ = Traits::Invalid();
};

namespace owned_detail {
template <typename T, typename Fn, Fn* Closer>
struct NullTraits {
    typedef T Type;
    static T Invalid() { return nullptr; }
    static void Close(T value) { Closer(value); }
};
inline void CloseRegKey(HKEY key) { win32.RegCloseKey(key); }
inline void CloseFind(HANDLE find) { win32.FindClose(find); }
inline void CloseFileHandle(HANDLE file) { win32.CloseHandle(file); }
inline void FreeBlock(void* block) { win32.free(block); }
inline void ReleasePages(void* block) { win32.VirtualFree(block, 0, MEM_RELEASE); }
inline void FreeLocal(wchar_t* text) { win32.LocalFree(text); }

template <void (*Closer)(HANDLE)>
struct InvalidHandleTraits {
    typedef HANDLE Type;
    static HANDLE Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE value) { Closer(value); }
};
}  // namespace owned_detail

typedef Owned<owned_detail::NullTraits<HKEY, void(HKEY), owned_detail::CloseRegKey>> OwnedKey;
typedef Owned<owned_detail::InvalidHandleTraits<owned_detail::CloseFind>> OwnedFind;
typedef Owned<owned_detail::InvalidHandleTraits<owned_detail::CloseFileHandle>> OwnedFile;
typedef Owned<owned_detail::NullTraits<HANDLE, void(HANDLE), owned_detail::CloseFileHandle>> OwnedToken;
typedef Owned<owned_detail::NullTraits<void*, void(void*), owned_detail::FreeBlock>> OwnedBlock;
typedef Owned<owned_detail::NullTraits<void*, void(void*), owned_detail::ReleasePages>> OwnedPages;
typedef Owned<owned_detail::NullTraits<wchar_t*, void(wchar_t*), owned_detail::FreeLocal>> OwnedLocalText;

// Allocates `bytes` from the table's allocator; empty when the allocation fails.
inline OwnedBlock AllocateBlock(size_t bytes) { return OwnedBlock(win32.malloc(bytes)); }

template <typename T>
T* BlockAs(const OwnedBlock& block) {
    return static_cast<T*>(block.get());
}
