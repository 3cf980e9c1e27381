// An ordered parallel pipeline over numbered items held in a ring of slots.
// Items 0, 1, 2, ... go through up to three stages:
//   prepare  in item order on one thread of its own (e.g. read the input);
//   work     on any of `workers` threads, in any order (e.g. deflate);
//   consume  in item order on the calling thread (e.g. write the output).
// A slot is reused once its item is consumed, so at most `slots` items are
// in flight. The stage functions get the item number and its slot index and
// keep their data in slot-indexed storage of their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

class COrderedPipeline {
public:
    // Fills the slot for an item: 1 an item is ready, 0 there are no more
    // items (the slot stays unused), -1 failure (no more items either).
    // Without a prepare stage every item below the limit is ready at once.
    typedef std::function<int(uint64_t item, size_t slot)> Prepare;
    // Works on one item; `worker` (0 .. workers-1) tells which thread runs it.
    typedef std::function<void(uint64_t item, size_t slot, unsigned worker)> Work;
    // Takes one finished item; false stops the run.
    typedef std::function<bool(uint64_t item, size_t slot)> Consume;

    enum Result {
        kDone = 0,           // every item was consumed
        kStopped = 1,        // consume returned false
        kPrepareFailed = 2,  // prepare returned -1 (the items before it were consumed)
        kThreadFailed = 3    // a thread could not be started
    };

    // Runs items 0 .. limit-1 at most. With no work stage (or no workers) a
    // prepared item goes straight to consume. Every thread is joined before
    // run returns.
    static Result run(size_t slots, unsigned workers, uint64_t limit, const Prepare& prepare, const Work& work,
                      const Consume& consume);
};
