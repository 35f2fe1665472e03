// SPDX-License-Identifier: MIT
#include "offload.h"

#include <utility>

namespace tarnvik {

Offload::Offload(std::function<void()> wake) : wake_(std::move(wake)) {}

Offload::~Offload() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

// One thread for the window's life, started with the first job: a thread per probe would cost
// a creation each second and leave the allocator's per-thread arenas behind.
void Offload::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return stopping_ || job_; });
        if (stopping_) {
            return;
        }
        Job job = std::exchange(job_, nullptr);
        lock.unlock();
        Continuation continuation = job();
        lock.lock();
        continuation_ = std::move(continuation);
        finished_ = true;
        changed_.notify_all();
        if (wake_) {
            wake_();
        }
    }
}

bool Offload::start(Job job) {
    if (busy_) {
        return false;
    }
    busy_ = true;
    {
        const std::lock_guard lock(mutex_);
        finished_ = false;
        job_ = std::move(job);
    }
    if (!worker_.joinable()) {
        worker_ = std::thread([this] { work(); });
    }
    changed_.notify_all();
    return true;
}

bool Offload::deliver() {
    Continuation continuation;
    {
        const std::lock_guard lock(mutex_);
        if (!busy_ || !finished_) {
            return false;
        }
        continuation = std::exchange(continuation_, nullptr);
        finished_ = false;
    }
    // Free before the continuation runs, so that it may start the next job.
    busy_ = false;
    if (continuation) {
        continuation();
    }
    return true;
}

bool Offload::finish() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_ || finished_; });
    }
    return deliver();
}

void Offload::drop() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !busy_ || finished_; });
        continuation_ = nullptr;
        finished_ = false;
    }
    busy_ = false;
}

} // namespace tarnvik
