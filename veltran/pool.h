#pragma once
// The files of one run, converted by up to N threads at once while the main thread
// delivers them strictly in argument order. At most N + 1 files are in flight (being
// converted, or converted and waiting for their turn), each in a slot of its own with
// its held records and spill file, so memory grows with N, not with the number of
// files. The pool owns the slots and the threads, all in tracked memory.

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <span>

#include <pthread.h>

#include "veltran/command_line.h"
#include "veltran/convert.h"
#include "veltran/tracked.h"

// Converts one file job the way its settings and the run ask; the pool's workers call
// it, or the main thread when the run has one job.
void convert_job(const run_plan &plan, const job &file, conversion &found);

class file_pool
{
  public:
    // The files of plan, converted by at most plan.jobs threads; with one job (or one
    // file, or when no thread or memory can be had) each file is converted by the main
    // thread when it is taken. plan must outlive the pool.
    explicit file_pool(const run_plan &plan);
    ~file_pool();
    file_pool(const file_pool &) = delete;
    file_pool &operator=(const file_pool &) = delete;

    void start();
    // The conversion of the next file in argument order, file, once it is done.
    conversion &take(const job &file);
    // The taken file is delivered: its slot goes to a later file.
    void done();
    // No file is started from now on; the workers finish the one they hold.
    void stop();

  private:
    struct slot {
        conversion found;
        bool converted = false; // by a worker, and not yet delivered
    };
    static void *work(void *pool);
    void run_worker();
    // The next file job after plan_.list[from]; plan_.count when none is left.
    std::size_t next_file(std::size_t from) const;
    slot &slot_of(std::size_t file) { return slots_[file % slots_.size()]; }

    const run_plan &plan_;
    slot single_;                 // the one slot when files are converted one at a time
    tracked_array<slot> several_; // the slots of a parallel run
    std::span<slot> slots_;       // the slots in use: single_ or several_
    tracked_array<pthread_t> threads_;
    std::size_t workers_ = 0;

    std::mutex lock_;
    std::condition_variable converted_, freed_;
    std::size_t next_job_ = 0;  // the plan's job the next file to start is in
    std::size_t next_ = 0;      // the number of the next file to start
    std::size_t delivered_ = 0; // files taken and done
    bool stopping_ = false;
};
