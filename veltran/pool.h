#pragma once
// The files of one run, converted by up to N threads at once while the main thread
// delivers them strictly in argument order. At most N files are in flight (being
// converted, or converted and waiting for their turn), each with its own held records
// and spill file, so memory grows with N, not with the number of files.

#include <condition_variable>
#include <cstddef>
#include <mutex>

#include <pthread.h>

#include "veltran/convert.h"

constexpr int max_jobs = 256;

// Converts one file the way its settings ask; the pool's workers call it, or the
// main thread when the run has one job.
void convert_any(const char *path, const settings &options, conversion &found);

class file_pool
{
  public:
    // Room for files files, converted by at most jobs threads; with one job (or one
    // file, or when no thread or memory can be had) each file is converted by the
    // main thread when it is taken.
    file_pool(int jobs, int files);
    ~file_pool();
    file_pool(const file_pool &) = delete;
    file_pool &operator=(const file_pool &) = delete;

    // Queues the next file with the settings in force where it was named; all files
    // are added, in argument order, before start.
    void add(const char *path, const settings &options);
    void start();
    // The conversion of the next file in argument order (path, named with options),
    // once it is done.
    conversion &take(const char *path, const settings &options);
    // The taken file is delivered: its slot goes to a later file.
    void done();
    // No file is started from now on; the workers finish the one they hold.
    void stop();

  private:
    struct task {
        const char *path;
        settings options;
    };
    struct slot {
        conversion found;
        bool converted = false;
    };
    static void *work(void *pool);
    void run_worker();
    slot &slot_of(std::size_t file) { return slots_[file % window_]; }

    task *tasks_ = nullptr;
    std::size_t files_ = 0, added_ = 0;
    slot *slots_ = nullptr;
    std::size_t window_ = 1; // files in flight at most
    pthread_t threads_[max_jobs];
    int workers_ = 0;
    conversion alone_; // the file being delivered when no worker runs

    std::mutex lock_;
    std::condition_variable converted_, freed_;
    std::size_t next_ = 0;      // the next file to start
    std::size_t delivered_ = 0; // files taken and done
    bool stopping_ = false;
};
