#include "engine/change_queue.h"

#include <algorithm>

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
    ++progress_total;
    if (done) ++progress_done;
}

ChangeQueue::Call ChangeQueue::begin(const std::string &key) {
    Call call{key, 0};  // copied first: a failed copy leaves nothing counted
    std::lock_guard<std::mutex> lock(queue_mutex);
    ++running_calls[key].calls;
    call.mark = queued_count;
    return call;
}

void ChangeQueue::end(const Call &call, const std::function<Outcome()> &read) {
    const auto before_call = [&](const Report &r) { return r.seq < call.mark; };
    for (;;) {
        uint64_t ended_before;
        {
            std::lock_guard<std::mutex> lock(queue_mutex);
            Running &running = running_calls.at(call.key);
            if (running.calls > 1) {
                // The last call on the key to end judges the rest.
                --running.calls;
                ++running.ended;
                settle(call.key, before_call);
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
        settle(call.key, [&](const Report &r) { return before_call(r) || (current && saw(r.seen, *indexed)); });
        return;
    }
}

ChangeQueue::Counts ChangeQueue::counts() {
    std::lock_guard<std::mutex> lock(queue_mutex);
    return {progress_done, progress_total, !pending_files.empty()};
}

void ChangeQueue::settle(const std::string &key, const std::function<bool(const Report &)> &settles) {
    const auto done = std::remove_if(pending_files.begin(), pending_files.end(),
                                     [&](const Report &r) { return r.key == key && settles(r); });
    progress_done += static_cast<int32_t>(pending_files.end() - done);
    pending_files.erase(done, pending_files.end());
}
