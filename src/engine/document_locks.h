#pragma once

#include <condition_variable>
#include <mutex>
#include <set>
#include <string>

// One document's check-remove-store-mark sequence must not interleave with
// another call on the same document (both would store its chunks), while
// calls on different documents go on side by side.
class DocumentLocks {
public:
    // Holds a document's lock until destroyed.
    class Hold {
    public:
        Hold(DocumentLocks &owner, std::string key);
        ~Hold();
        Hold(const Hold &) = delete;
        Hold &operator=(const Hold &) = delete;

    private:
        DocumentLocks &owner;
        std::string key;
    };

    // Waits until no other thread holds key, then holds it.
    Hold lock(const std::string &key) { return Hold(*this, key); }

private:
    std::mutex mutex;
    std::condition_variable released;
    std::set<std::string> held;
};
