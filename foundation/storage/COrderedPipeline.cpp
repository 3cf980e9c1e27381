#include "foundation/storage/COrderedPipeline.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

enum SlotState { kFree, kReady, kFinished };

struct Slot {
    uint64_t item = 0;
    SlotState state = kFree;
};

}  // namespace

COrderedPipeline::Result COrderedPipeline::run(size_t slotCount, unsigned workers, uint64_t limit,
                                               const Prepare& prepare, const Work& work, const Consume& consume) {
    if (slotCount == 0 || limit == 0) return kDone;
    if (!work) workers = 0;
    if (workers == 0 && !prepare) return kDone;

    std::vector<Slot> slots(slotCount);
    std::mutex lock;
    // slotFreed: the producer (or, without one, the workers) wait for room;
    // ready: the workers wait for prepared items; finished: the consumer.
    std::condition_variable slotFreed, ready, finished;
    uint64_t produced = prepare ? 0 : limit;  // items prepared
    uint64_t nextWork = 0, consumed = 0;
    bool ended = !prepare, prepareFailed = false, stop = false;

    auto producerMain = [&] {
        for (uint64_t item = 0; item < limit; ++item) {
            Slot& slot = slots[item % slotCount];
            {
                std::unique_lock<std::mutex> g(lock);
                slotFreed.wait(g, [&] { return stop || item < consumed + slotCount; });
                if (stop) break;
            }
            int rc = prepare(item, item % slotCount);
            std::lock_guard<std::mutex> g(lock);
            if (rc < 0) prepareFailed = true;
            if (rc <= 0) break;
            slot.item = item;
            slot.state = workers > 0 ? kReady : kFinished;
            ++produced;
            if (workers > 0)
                ready.notify_one();
            else
                finished.notify_one();
        }
        std::lock_guard<std::mutex> g(lock);
        ended = true;
        ready.notify_all();
        finished.notify_all();
    };

    auto workerMain = [&](unsigned worker) {
        for (;;) {
            uint64_t item;
            {
                std::unique_lock<std::mutex> g(lock);
                ready.wait(g, [&] {
                    return stop || (nextWork < produced && nextWork < consumed + slotCount) ||
                           (ended && nextWork >= produced);
                });
                if (stop || nextWork >= produced) return;
                item = nextWork++;
                if (!prepare) slots[item % slotCount].item = item;
            }
            work(item, item % slotCount, worker);
            std::lock_guard<std::mutex> g(lock);
            slots[item % slotCount].state = kFinished;
            finished.notify_one();
        }
    };

    std::thread producer;
    std::vector<std::thread> threads;
    auto joinAll = [&] {
        {
            std::lock_guard<std::mutex> g(lock);
            stop = true;
        }
        slotFreed.notify_all();
        ready.notify_all();
        if (producer.joinable()) producer.join();
        for (auto& t : threads)
            if (t.joinable()) t.join();
    };
    try {
        threads.reserve(workers);
        if (prepare) producer = std::thread(producerMain);
        for (unsigned w = 0; w < workers; ++w) threads.emplace_back(workerMain, w);
    } catch (const std::system_error&) {
        joinAll();
        return kThreadFailed;
    }

    Result result = kDone;
    for (uint64_t item = 0;; ++item) {
        Slot& slot = slots[item % slotCount];
        {
            std::unique_lock<std::mutex> g(lock);
            finished.wait(
                g, [&] { return (slot.state == kFinished && slot.item == item) || (ended && item >= produced); });
            if (!(slot.state == kFinished && slot.item == item)) {
                if (prepareFailed) result = kPrepareFailed;
                break;
            }
        }
        if (!consume(item, item % slotCount)) {
            result = kStopped;
            break;
        }
        std::lock_guard<std::mutex> g(lock);
        slot.state = kFree;
        ++consumed;
        slotFreed.notify_one();
        if (!prepare) ready.notify_all();
    }
    joinAll();
    return result;
}
