#pragma once
// Runs operations and link checks off the window thread. At most one thread
// talks to the port at a time: a start request while an operation runs is
// refused, and a link check still in progress is waited for by the worker,
// never by the window thread.
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace veldrix {

struct AppContext;

// The worker body for the operation code already in the block.
void RunOperation(AppContext& ctx);
// Sets the operation code and runs the body on the calling thread.
void RunOperationNow(AppContext& ctx, int opCode);
void MonitorLink(AppContext& ctx);

class Worker {
public:
    // Threads: a worker thread per operation and a thread per link check, as
    // the real window uses them. Inline: everything runs on the caller's
    // thread, for the headless runner.
    enum class Mode { Threads, Inline };

    Worker(AppContext& ctx, Mode mode);
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // False when refused (no link, or an operation is still running).
    bool StartOperation(int opCode);
    // A link check on the link thread, unless one or an operation still runs
    // (the window's timer tick after the first).
    void CheckLink();
    // The programmer search of the first tick, on the link thread.
    void StartSearch();
    bool OperationRunning() const { return workerActive_.load(); }
    bool MonitorRunning() const { return monitorActive_.load(); }
    // Asks both threads to stop and waits for them, calling pump between
    // short waits (the window thread keeps its messages flowing), at most
    // timeoutMs. True when both ended.
    bool Shutdown(int timeoutMs, const std::function<void()>& pump = {});
    // For the window thread's own short operation: waits until a link check
    // in progress has let go of the port, serving the window calls it makes
    // meanwhile. The caller holds BusyFlag, so no new one starts.
    void WaitForLinkCheck();

private:
    void LaunchMonitor(std::function<void()> body);
    void JoinMonitor();

    AppContext& ctx_;
    Mode mode_;
    std::mutex threadsMutex_;
    std::thread worker_, monitor_;
    std::atomic<bool> workerActive_{false}, monitorActive_{false};
};

}  // namespace veldrix
