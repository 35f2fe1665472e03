// SPDX-License-Identifier: MIT
// Work that would block the window's thread (an echo's wait, a name lookup) runs on a worker, one
// job at a time; what the job found is handed back to the window's thread, which alone touches
// the window and the repair.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tarnvik {

class Offload {
  public:
    // What a job leaves for the window's thread.
    using Continuation = std::function<void()>;
    using Job = std::function<Continuation()>;

    // `wake` is called on the worker once a job has finished: the binding then calls deliver()
    // on the window's thread. Without it the owner calls deliver() when it wants the result.
    explicit Offload(std::function<void()> wake = nullptr);
    // Waits for the job that is out; its continuation is dropped.
    ~Offload();
    Offload(const Offload&) = delete;
    Offload& operator=(const Offload&) = delete;

    // From its start until its continuation has run.
    bool busy() const { return busy_; }
    // Starts `job` on the worker; false, and nothing started, while another is out.
    bool start(Job job);
    // Runs the finished job's continuation, if there is one; returns whether it ran.
    bool deliver();
    // Waits until the job that is out has finished, then delivers it.
    bool finish();
    // Waits until the job that is out has finished, and drops its continuation.
    void drop();

  private:
    void work();

    std::function<void()> wake_;
    // The window's thread's own view: a job started and not yet delivered.
    bool busy_ = false;
    std::mutex mutex_;
    std::condition_variable changed_;
    Job job_;
    bool finished_ = false;
    bool stopping_ = false;
    Continuation continuation_;
    std::thread worker_;
};

} // namespace tarnvik
