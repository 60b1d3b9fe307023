#include "engine/document_locks.h"

#include <utility>

DocumentLocks::Hold::Hold(DocumentLocks &owner_, std::string key_) : owner(owner_), key(std::move(key_)) {
    std::unique_lock<std::mutex> lock(owner.mutex);
    owner.released.wait(lock, [&] { return owner.held.count(key) == 0; });
    owner.held.insert(key);
}

DocumentLocks::Hold::~Hold() {
    {
        std::lock_guard<std::mutex> lock(owner.mutex);
        owner.held.erase(key);
    }
    owner.released.notify_all();
}
