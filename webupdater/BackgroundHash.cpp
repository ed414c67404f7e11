#include "webupdater/BackgroundHash.h"

#include <utility>

namespace zlt::webupdater {

TBackgroundHash::TBackgroundHash() : FThread([this] { Run(); }) {}

TBackgroundHash::~TBackgroundHash() {
    {
        const std::lock_guard<std::mutex> lock(FLock);
        FStop = true;
    }
    FChanged.notify_all();
    FThread.join();
}

void TBackgroundHash::Run() {
    std::unique_lock<std::mutex> lock(FLock);
    for (;;) {
        FChanged.wait(lock, [this] { return FStop || !FQueue.empty(); });
        if (FStop) return;
        QByteArray block = std::move(FQueue.front());
        FQueue.pop_front();
        FHashing = true;
        lock.unlock();
        FHash.Update(block.constData(), static_cast<std::size_t>(block.size()));
        block.resize(0); // keeps the room
        lock.lock();
        FFree.push_back(std::move(block));
        FHashing = false;
        FChanged.notify_all();
    }
}

void TBackgroundHash::Hand(QByteArray& ABlock) {
    const qsizetype room = ABlock.capacity();
    std::unique_lock<std::mutex> lock(FLock);
    FQueue.push_back(std::move(ABlock));
    ++FBlocks; // the caller's block is the hasher's now
    FChanged.notify_all();
    if (FFree.empty() && FBlocks < MaxBlocks) {
        ABlock = QByteArray();
        ABlock.reserve(room);
        return;
    }
    FChanged.wait(lock, [this] { return !FFree.empty(); });
    ABlock = std::move(FFree.back());
    FFree.pop_back();
    --FBlocks;
}

void TBackgroundHash::WaitIdle(std::unique_lock<std::mutex>& ALock) {
    FChanged.wait(ALock, [this] { return FQueue.empty() && !FHashing; });
}

void TBackgroundHash::Reset() {
    std::unique_lock<std::mutex> lock(FLock);
    WaitIdle(lock);
    FHash.Reset();
}

signature::TDigest TBackgroundHash::Final() {
    std::unique_lock<std::mutex> lock(FLock);
    WaitIdle(lock);
    return FHash.Final();
}

} // namespace zlt::webupdater
