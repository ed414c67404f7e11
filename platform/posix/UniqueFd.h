#pragma once

#include <unistd.h>

#include <utility>

namespace zlt::platform {

// Owns one file descriptor and closes it once. Move-only.
class TUniqueFd {
public:
    TUniqueFd() noexcept = default;
    explicit TUniqueFd(int AHandle) noexcept : FHandle(AHandle) {}
    TUniqueFd(TUniqueFd&& AOther) noexcept : FHandle(AOther.Release()) {}
    TUniqueFd& operator=(TUniqueFd&& AOther) noexcept {
        if (this != &AOther) Reset(AOther.Release());
        return *this;
    }
    TUniqueFd(const TUniqueFd&) = delete;
    TUniqueFd& operator=(const TUniqueFd&) = delete;
    ~TUniqueFd() { Reset(); }

    int Get() const noexcept { return FHandle; }
    bool Valid() const noexcept { return FHandle >= 0; }
    int Release() noexcept { return std::exchange(FHandle, -1); }
    void Reset(int AHandle = -1) noexcept {
        const int old = std::exchange(FHandle, AHandle);
        if (old >= 0) ::close(old);
    }

private:
    int FHandle = -1;
};

} // namespace zlt::platform
