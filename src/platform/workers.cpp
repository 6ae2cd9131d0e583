#include "platform/workers.h"

#include <atomic>
#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <unistd.h>
#endif

namespace tvx::platform {
namespace {

constexpr unsigned kDefaultMost = 8;
constexpr unsigned kMost = 64;
std::atomic<unsigned> TestWorkers{0};
// Set on the threads of a running call (the caller's included), so that a task
// that splits its own work runs those parts itself instead of starting threads
// of threads.
thread_local bool InsideParallel = false;

unsigned processors() noexcept {
#if defined(_WIN32)
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors;
#else
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? static_cast<unsigned>(n) : 1u;
#endif
}

// The shared state of one run_parallel call: the next task index and the task.
struct Job {
    TaskFunction task;
    void* context;
    std::uint32_t count;
    std::atomic<std::uint32_t> next{0};

    void work() noexcept {
        InsideParallel = true;
        for (std::uint32_t i = next.fetch_add(1, std::memory_order_relaxed); i < count;
             i = next.fetch_add(1, std::memory_order_relaxed))
            task(context, i);
    }
};

#if defined(_WIN32)
using Thread = HANDLE;
DWORD WINAPI thread_main(LPVOID job) {
    static_cast<Job*>(job)->work();
    return 0;
}
bool start(Thread* t, Job* job) noexcept {
    *t = CreateThread(nullptr, 0, thread_main, job, 0, nullptr);
    return *t != nullptr;
}
void join(Thread t) noexcept {
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
}
#else
using Thread = pthread_t;
void* thread_main(void* job) {
    static_cast<Job*>(job)->work();
    return nullptr;
}
bool start(Thread* t, Job* job) noexcept { return pthread_create(t, nullptr, thread_main, job) == 0; }
void join(Thread t) noexcept { pthread_join(t, nullptr); }
#endif

}  // namespace

unsigned worker_count() noexcept {
    const unsigned forced = TestWorkers.load(std::memory_order_relaxed);
    if (forced != 0) return forced;
    if (const char* text = std::getenv("TAVIREX_THREADS"); text != nullptr && *text != '\0') {
        char* end = nullptr;
        const long n = std::strtol(text, &end, 10);
        if (*end == '\0' && n >= 1 && n <= static_cast<long>(kMost)) return static_cast<unsigned>(n);
    }
    const unsigned n = processors();
    return n < 1 ? 1 : (n > kDefaultMost ? kDefaultMost : n);
}

void test_set_worker_count(unsigned n) noexcept { TestWorkers.store(n > kMost ? kMost : n); }

std::uint32_t band_count(std::uint32_t rows, std::uint32_t min_rows) noexcept {
    const std::uint32_t most = min_rows == 0 ? rows : rows / min_rows;
    const std::uint32_t n = worker_count();
    return most < 1 ? 1 : (n < most ? n : most);
}

void run_parallel(std::uint32_t count, TaskFunction task, void* context) noexcept {
    if (count == 0) return;
    if (InsideParallel) {
        for (std::uint32_t i = 0; i < count; ++i) task(context, i);
        return;
    }
    Job job{task, context, count};
    unsigned helpers = worker_count() - 1;
    if (helpers > count - 1) helpers = count - 1;
    Thread threads[kMost];
    unsigned started = 0;
    while (started < helpers && start(&threads[started], &job)) ++started;
    job.work();
    InsideParallel = false;
    for (unsigned i = 0; i < started; ++i) join(threads[i]);
}

}  // namespace tvx::platform
