#include "veltran/pool.h"

#include <algorithm>

#include <sys/stat.h>

#include "veltran/jsonl.h"
#include "veltran/stats.h"
#if VELTRAN_HAVE_SQLITE
#include "veltran/rows.h"
#endif

namespace
{

void convert_as_asked(const run_plan &plan, const job &file, conversion &found)
{
    if (file.options.echo) {
        show_file(file.arg, found);
#if VELTRAN_HAVE_SQLITE
    } else if (plan.database) {
        row_writer rows{found.records};
        convert_file(file.arg, file.options, found, &rows);
#endif
    } else if (plan.format == output_format::jsonl) {
        jsonl_writer lines{found.records};
        convert_file(file.arg, file.options, found, &lines);
    } else {
        convert_file(file.arg, file.options, found);
    }
}

} // namespace

void convert_job(const run_plan &plan, const job &file, conversion &found)
{
    if (!plan.stats) return convert_as_asked(plan, file, found);
    const double start = monotonic_seconds();
    convert_as_asked(plan, file, found);
    found.seconds = monotonic_seconds() - start;
    struct stat about {
    };
    if (stat(file.arg, &about) == 0 && S_ISREG(about.st_mode))
        found.bytes = std::uint64_t(about.st_size);
}

file_pool::file_pool(const run_plan &plan) : plan_{plan}, slots_{&single_, 1}
{
    const std::size_t workers = std::size_t(std::clamp(plan.jobs, 1, max_jobs));
    if (workers == 1 || plan.files < 2) return;
    // One slot more than workers: while the main thread delivers the oldest file, every
    // worker can already go on with a later one instead of waiting for its slot.
    // Without memory for the slots or the threads, one file at a time as with one job.
    if (!several_.hold(workers + 1) || !threads_.hold(std::min(workers, plan.files))) return;
    slots_ = several_.items();
}

file_pool::~file_pool()
{
    stop();
    for (std::size_t i = 0; i < workers_; ++i)
        pthread_join(threads_[i], nullptr);
}

std::size_t file_pool::next_file(std::size_t from) const
{
    while (from < plan_.count && plan_.list[from].is != job::what::file)
        ++from;
    return from;
}

void file_pool::start()
{
    next_job_ = next_file(0);
    while (workers_ < threads_.size() &&
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
        const job *next = nullptr;
        {
            std::unique_lock<std::mutex> hold{lock_};
            // File n goes into the slot of file n - slots: it may start only once that
            // file is delivered, which done() says under this lock after emptying the
            // slot; until then the slot is the main thread's alone.
            freed_.wait(hold, [&] {
                return stopping_ || next_ == plan_.files || next_ < delivered_ + slots_.size();
            });
            if (stopping_ || next_ == plan_.files) return;
            file = next_++;
            next = &plan_.list[next_job_];
            next_job_ = next_file(next_job_ + 1);
        }
        slot &s = slot_of(file);
        convert_job(plan_, *next, s.found);
        {
            const std::lock_guard<std::mutex> hold{lock_};
            s.converted = true;
        }
        converted_.notify_all();
    }
}

conversion &file_pool::take(const job &file)
{
    slot &s = slot_of(delivered_);
    if (workers_ == 0) {
        convert_job(plan_, file, s.found);
        return s.found;
    }
    std::unique_lock<std::mutex> hold{lock_};
    converted_.wait(hold, [&] { return s.converted; });
    return s.found;
}

void file_pool::done()
{
    slot &s = slot_of(delivered_);
    s.found.reset(); // no worker touches the slot before delivered_ moves on
    {
        const std::lock_guard<std::mutex> hold{lock_};
        s.converted = false;
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
