#pragma once

#include "signature/Minisign.h"

#include <QByteArray>

#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace zlt::webupdater {

// The BLAKE2b-512 digest of a package, computed on a thread of its own while the transfer goes
// on: hashing takes about as long as receiving over a fast link, so done in turn it would
// double the time to the verdict. The blocks written to the file are handed over as they are,
// and a few of them are recycled, so memory stays flat whatever the package's size.
class TBackgroundHash {
public:
    TBackgroundHash();
    ~TBackgroundHash(); // stops the thread; what was not hashed yet is dropped
    TBackgroundHash(const TBackgroundHash&) = delete;
    TBackgroundHash& operator=(const TBackgroundHash&) = delete;

    // Takes ABlock's bytes to hash after everything handed before; ABlock comes back empty, with
    // room for as much again. Waits only while every block is still in the hasher's hands.
    void Hand(QByteArray& ABlock);
    // Forgets everything handed so far.
    void Reset();
    // The digest of everything handed since the start or the last Reset, once it is hashed.
    signature::TDigest Final();

private:
    static constexpr std::size_t MaxBlocks = 4;

    void Run();
    // Holding ALock: until the thread has hashed every block handed.
    void WaitIdle(std::unique_lock<std::mutex>& ALock);

    signature::TPrehash FHash;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::deque<QByteArray> FQueue; // handed, not yet hashed
    std::vector<QByteArray> FFree; // hashed, ready for the caller again
    std::size_t FBlocks = 0;       // made so far, at most MaxBlocks
    bool FHashing = false;         // the thread holds a block
    bool FStop = false;
    std::thread FThread; // last: starts once everything above exists
};

} // namespace zlt::webupdater
