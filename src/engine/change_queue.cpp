#include "engine/change_queue.h"

#include <algorithm>
#include <unordered_set>

#include "store/modification_time.h"

namespace {

bool saw(const std::optional<int64_t> &seen, int64_t indexed) {
    return seen && same_modification_time(*seen, indexed);
}

} // namespace

void ChangeQueue::report(const std::string &key, std::optional<int64_t> seen) {
    std::lock_guard<std::mutex> lock(queue_mutex);
    const auto indexed = indexed_times.find(key);
    // A file the host wrote and indexed at once leaves nothing to do.
    const bool done =
        running_calls.count(key) == 0 && indexed != indexed_times.end() && saw(seen, indexed->second);
    if (!done) pending_files.push_back({key, queued_count++, seen});
    add_progress(done ? 1 : 0, 1);
}

void ChangeQueue::report_gone() {
    std::lock_guard<std::mutex> lock(queue_mutex);
    add_progress(1, 1);
}

ChangeQueue::Queued ChangeQueue::queued(const std::string &key, const std::string &below) {
    Queued found;
    std::unordered_set<std::string> listed;
    std::lock_guard<std::mutex> lock(queue_mutex);
    for (const Report &r : pending_files)
        if ((r.key == key || r.key.compare(0, below.size(), below) == 0) && listed.insert(r.key).second)
            found.keys.push_back(r.key);
    found.mark = queued_count;
    return found;
}

void ChangeQueue::settle_gone(const std::vector<std::string> &keys, uint64_t mark) {
    if (keys.empty()) return;
    const std::unordered_set<std::string> gone(keys.begin(), keys.end());
    std::lock_guard<std::mutex> lock(queue_mutex);
    settle([&](const Report &r) { return r.seq < mark && gone.count(r.key) > 0; });
}

ChangeQueue::Call ChangeQueue::begin(const std::string &key) {
    Call call{key, 0};  // copied first: a failed copy leaves nothing counted
    std::lock_guard<std::mutex> lock(queue_mutex);
    ++running_calls[key].calls;
    call.mark = queued_count;
    return call;
}

void ChangeQueue::end(const Call &call, const std::function<Outcome()> &read) {
    const auto before_call = [&](const Report &r) { return r.key == call.key && r.seq < call.mark; };
    for (;;) {
        uint64_t ended_before;
        {
            std::lock_guard<std::mutex> lock(queue_mutex);
            Running &running = running_calls.at(call.key);
            if (running.calls > 1) {
                // The last call on the key to end judges the rest.
                --running.calls;
                ++running.ended;
                settle(before_call);
                return;
            }
            ended_before = running.ended;
        }
        Outcome outcome;
        try {
            outcome = read();
        } catch (...) {
            // Left as nothing indexed.
        }
        std::lock_guard<std::mutex> lock(queue_mutex);
        const auto running = running_calls.find(call.key);
        // Another call on the key began or ended during the read, which may
        // then predate its outcome.
        if (running->second.calls > 1 || running->second.ended != ended_before) continue;
        running_calls.erase(running);
        const std::optional<int64_t> indexed = outcome.indexed;
        if (indexed) indexed_times[call.key] = *indexed;
        else indexed_times.erase(call.key);
        const bool current = indexed && saw(outcome.now, *indexed);
        settle([&](const Report &r) {
            return r.key == call.key && (r.seq < call.mark || (current && saw(r.seen, *indexed)));
        });
        return;
    }
}

ChangeQueue::Counts ChangeQueue::counts() const noexcept {
    const uint64_t both = progress.load();
    const auto done = static_cast<uint32_t>(both), total = static_cast<uint32_t>(both >> 32);
    return {static_cast<int32_t>(done), static_cast<int32_t>(total), done != total};
}

void ChangeQueue::settle(const std::function<bool(const Report &)> &settles) {
    const auto done = std::remove_if(pending_files.begin(), pending_files.end(), settles);
    add_progress(static_cast<uint32_t>(pending_files.end() - done), 0);
    pending_files.erase(done, pending_files.end());
}

void ChangeQueue::add_progress(uint32_t done, uint32_t total) {
    // Each half wraps on its own, as a 32-bit count would.
    const uint64_t both = progress.load(std::memory_order_relaxed);
    const uint32_t d = static_cast<uint32_t>(both) + done, t = static_cast<uint32_t>(both >> 32) + total;
    progress.store(uint64_t{t} << 32 | d);
}
