#pragma once

#include <cstdint>
#include <utility>

namespace zlt::platform {

// The system's handle of an open file or folder: a descriptor on POSIX, a HANDLE on Windows.
using TNativeHandle = std::intptr_t;
inline constexpr TNativeHandle InvalidHandle = -1;

// Closes AHandle; never throws, and ignores an invalid one.
void CloseHandle(TNativeHandle AHandle) noexcept;

// Owns one open file or folder and closes it once. Move-only. The one owner of such handles
// in the system: every service that opens something holds it in one of these.
class TUniqueHandle {
public:
    TUniqueHandle() noexcept = default;
    explicit TUniqueHandle(TNativeHandle AHandle) noexcept : FHandle(AHandle) {}
    TUniqueHandle(TUniqueHandle&& AOther) noexcept : FHandle(AOther.Release()) {}
    TUniqueHandle& operator=(TUniqueHandle&& AOther) noexcept {
        if (this != &AOther) Reset(AOther.Release());
        return *this;
    }
    TUniqueHandle(const TUniqueHandle&) = delete;
    TUniqueHandle& operator=(const TUniqueHandle&) = delete;
    ~TUniqueHandle() { Reset(); }

    TNativeHandle Get() const noexcept { return FHandle; }
    bool Valid() const noexcept { return FHandle != InvalidHandle; }
    TNativeHandle Release() noexcept { return std::exchange(FHandle, InvalidHandle); }
    void Reset(TNativeHandle AHandle = InvalidHandle) noexcept { CloseHandle(std::exchange(FHandle, AHandle)); }

private:
    TNativeHandle FHandle = InvalidHandle;
};

} // namespace zlt::platform
