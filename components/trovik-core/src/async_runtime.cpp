#include "trovik/core/async/runtime.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace trovik::core::async {
namespace {

void run_worker(asio::io_context& context) {
    // A handler that throws is a fault of that handler alone; the worker keeps
    // serving everyone else. run() returns normally only once the context is
    // stopped at process exit.
    for (;;) {
        try {
            context.run();
            return;
        } catch (...) {
        }
    }
}

// A double-checked guard rather than std::call_once, so that a failed start
// (an exception) simply leaves the next caller to try again.
std::atomic<Runtime*> started{nullptr};
std::mutex start_lock;

}  // namespace

Runtime& runtime() {
    if (Runtime* rt = started.load(std::memory_order_acquire)) return *rt;
    std::lock_guard lock(start_lock);
    if (Runtime* rt = started.load(std::memory_order_relaxed)) return *rt;
    auto* rt = new Runtime();
    try {
        std::thread([rt] { run_worker(rt->context()); }).detach();
    } catch (const std::system_error&) {
        delete rt;
        throw;
    }
    started.store(rt, std::memory_order_release);
    // At exit the workers leave run() instead of waking into a process whose
    // statics are being torn down; nobody waits for them.
    std::atexit([] { started.load(std::memory_order_acquire)->context().stop(); });
    return *rt;
}

namespace {

// Idle threads wait each on their own signal, the most recently idle first
// in line: a steady trickle of jobs keeps one thread busy and warm instead of
// handing each job to another.
class BlockingPool {
public:
    void post(std::move_only_function<void()> work) {
        std::unique_lock lock(mutex_);
        if (!idle_.empty()) {
            Worker* worker = idle_.back();
            idle_.pop_back();
            worker->job = std::move(work);
            worker->wake.notify_one();
            return;
        }
        jobs_.push_back(std::move(work));
        if (threads_ >= max_threads) return;  // some thread will get to it
        ++threads_;
        lock.unlock();
        try {
            std::thread([this] { serve(); }).detach();
        } catch (...) {
            lock.lock();
            --threads_;
            if (threads_ == 0) {
                // Nobody could take the job: run it here rather than lose it.
                auto job = std::move(jobs_.back());
                jobs_.pop_back();
                lock.unlock();
                run(job);
            }
        }
    }

private:
    static constexpr std::size_t max_threads = 512;
    static constexpr auto keep_alive = std::chrono::seconds(10);

    struct Worker {
        std::condition_variable wake;
        std::move_only_function<void()> job;  // handed over while idle
    };

    static void run(std::move_only_function<void()>& job) {
        try {
            job();
        } catch (...) {
        }
    }

    void serve() {
        Worker self;
        std::unique_lock lock(mutex_);
        for (;;) {
            while (!jobs_.empty()) {
                auto job = std::move(jobs_.front());
                jobs_.pop_front();
                lock.unlock();
                run(job);
                job = nullptr;  // its captures die outside the lock too
                lock.lock();
            }
            idle_.push_back(&self);
            if (self.wake.wait_for(lock, keep_alive, [&] { return static_cast<bool>(self.job); })) {
                auto job = std::move(self.job);
                self.job = nullptr;
                lock.unlock();
                run(job);
                job = nullptr;
                lock.lock();
                continue;
            }
            // Idle too long, and still in line (a handed-over job would have
            // ended the wait): leave.
            std::erase(idle_, &self);
            --threads_;
            return;
        }
    }

    std::mutex mutex_;
    std::deque<std::move_only_function<void()>> jobs_;
    std::vector<Worker*> idle_;  // most recently idle last
    std::size_t threads_ = 0;
};

}  // namespace

void post_blocking(std::move_only_function<void()> work) {
    // Never destroyed, like the runtime: its detached threads outlive main().
    static BlockingPool* pool = new BlockingPool();
    pool->post(std::move(work));
}

}  // namespace trovik::core::async
