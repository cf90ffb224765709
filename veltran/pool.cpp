#include "veltran/pool.h"

#include <algorithm>
#include <new>

#include "qvxml/allocate.h"

void convert_any(const char *path, const settings &options, conversion &found)
{
    if (options.echo)
        show_file(path, found);
    else
        convert_file(path, options, found);
}

file_pool::file_pool(int jobs, int files) : files_{std::size_t(files)}
{
    jobs = std::clamp(jobs, 1, max_jobs);
    if (jobs == 1 || files < 2) return;
    const std::size_t window = std::size_t(jobs);
    tasks_ = static_cast<task *>(allocate(int(files_ * sizeof(task))));
    slots_ = static_cast<slot *>(allocate(int(window * sizeof(slot))));
    if (!tasks_ || !slots_) { // one file at a time, as with one job
        tasks_ = static_cast<task *>(liberate(tasks_));
        slots_ = static_cast<slot *>(liberate(slots_));
        return;
    }
    window_ = window;
    for (std::size_t i = 0; i < window_; ++i)
        new (&slots_[i]) slot;
}

file_pool::~file_pool()
{
    stop();
    for (int i = 0; i < workers_; ++i)
        pthread_join(threads_[i], nullptr);
    if (slots_) {
        for (std::size_t i = 0; i < window_; ++i)
            slots_[i].~slot();
        liberate(slots_);
    }
    liberate(tasks_);
}

void file_pool::add(const char *path, const settings &options)
{
    if (tasks_) tasks_[added_++] = task{path, options};
}

void file_pool::start()
{
    if (!tasks_) return;
    const std::size_t wanted = std::min(window_, files_);
    while (std::size_t(workers_) < wanted &&
           pthread_create(&threads_[workers_], nullptr, work, this) == 0)
        ++workers_;
}

void *file_pool::work(void *pool)
{
    static_cast<file_pool *>(pool)->run_worker();
    return nullptr;
}

void file_pool::run_worker()
{
    for (;;) {
        std::size_t file = 0;
        {
            std::unique_lock<std::mutex> hold{lock_};
            freed_.wait(
                hold, [&] { return stopping_ || next_ == files_ || next_ < delivered_ + window_; });
            if (stopping_ || next_ == files_) return;
            file = next_++;
        }
        slot &s = slot_of(file);
        convert_any(tasks_[file].path, tasks_[file].options, s.found);
        {
            const std::lock_guard<std::mutex> hold{lock_};
            s.converted = true;
        }
        converted_.notify_all();
    }
}

conversion &file_pool::take(const char *path, const settings &options)
{
    if (workers_ == 0) {
        convert_any(path, options, alone_);
        return alone_;
    }
    slot &s = slot_of(delivered_);
    {
        std::unique_lock<std::mutex> hold{lock_};
        converted_.wait(hold, [&] { return s.converted; });
    }
    return s.found;
}

void file_pool::done()
{
    if (workers_ == 0) {
        alone_.~conversion();
        new (&alone_) conversion;
        return;
    }
    slot &s = slot_of(delivered_);
    s.~slot(); // no worker touches it before delivered_ moves on
    new (&s) slot;
    {
        const std::lock_guard<std::mutex> hold{lock_};
        ++delivered_;
    }
    freed_.notify_all();
}

void file_pool::stop()
{
    {
        const std::lock_guard<std::mutex> hold{lock_};
        stopping_ = true;
    }
    freed_.notify_all();
}
