#pragma once

// The hand-overs between threads, told to ThreadSanitizer. Qt is not built with it, so the locks
// under which Qt's thread pool and event queues pass work from one thread to another are invisible
// to it, and everything handed over that way would look raced on. In every build but a
// ThreadSanitizer one the marks (send, receive, Unchecked) are empty.
// This file can go once CI's Qt is built with ThreadSanitizer: QtConcurrent::run and plain queued
// calls then say all of this themselves.

#include <QFuture>
#include <QPromise>
#include <QRunnable>
#include <QThreadPool>

#include <memory>
#include <type_traits>
#include <utility>

#if defined(__SANITIZE_THREAD__)
#    define TSTX_THREAD_SANITIZER 1
#elif defined(__has_feature)
#    if __has_feature(thread_sanitizer)
#        define TSTX_THREAD_SANITIZER 1
#    endif
#endif

#ifdef TSTX_THREAD_SANITIZER
// The runtime's own interface; sanitizer/tsan_interface.h lacks the last two.
extern "C" void __tsan_acquire(void *addr); // NOLINT(bugprone-reserved-identifier)
extern "C" void __tsan_release(void *addr); // NOLINT(bugprone-reserved-identifier)
extern "C" void __tsan_ignore_thread_begin(); // NOLINT(bugprone-reserved-identifier)
extern "C" void __tsan_ignore_thread_end(); // NOLINT(bugprone-reserved-identifier)
#endif

namespace HandOver {

// What this thread did so far happens before what a thread does after receive(key).
inline void send([[maybe_unused]] const void *key)
{
#ifdef TSTX_THREAD_SANITIZER
    __tsan_release(const_cast<void *>(key));
#endif
}

inline void receive([[maybe_unused]] const void *key)
{
#ifdef TSTX_THREAD_SANITIZER
    __tsan_acquire(const_cast<void *>(key));
#endif
}

// While one exists, this thread's reads and writes are not checked: only for what Qt alone does
// under an order ThreadSanitizer cannot see.
class Unchecked
{
public:
    Unchecked() { ignore(true); }
    ~Unchecked() { ignore(false); }
    Unchecked(const Unchecked &) = delete;
    Unchecked &operator=(const Unchecked &) = delete;

private:
    static void ignore([[maybe_unused]] bool start)
    {
#ifdef TSTX_THREAD_SANITIZER
        start ? __tsan_ignore_thread_begin() : __tsan_ignore_thread_end();
#endif
    }
};

// A call queued to another thread (QMetaObject::invokeMethod with Qt::QueuedConnection), which
// copies it into memory of its own: the copy, made on the posting thread, happens before the call
// on the receiving thread, and the call before the copy is freed, on whichever thread Qt frees it.
template<typename Call> class Queued
{
public:
    explicit Queued(Call call)
        : call(std::move(call))
    { }
    Queued(Queued &&other) noexcept
        : call(std::move(other.call))
    {
        send(this);
    }
    Queued(const Queued &) = delete;
    Queued &operator=(const Queued &) = delete;
    Queued &operator=(Queued &&) = delete;
    ~Queued() { receive(this); }

    void operator()()
    {
        receive(this);
        call();
        send(this);
    }

private:
    Call call;
};

// Runs task() on pool, as QtConcurrent::run(pool, task) does: the future starts at once, and
// carries the result when it finishes, or finishes cancelled without one if the pool drops the
// task unrun (QThreadPool::clear). All the caller did before happens before the task; the result
// is read under the future's lock, which ThreadSanitizer sees. (A task that QtConcurrent runs
// cannot be marked: the pool thread reads its task object before any code of the project runs.)
template<typename Task> QFuture<std::invoke_result_t<Task &>> run(QThreadPool *pool, Task task)
{
    using Result = std::invoke_result_t<Task &>;
    class Runnable final : public QRunnable
    {
    public:
        explicit Runnable(Task task)
            : task(std::move(task))
        {
            promise.start();
        }
        Runnable(const Runnable &) = delete;
        Runnable &operator=(const Runnable &) = delete;
        ~Runnable() override
        {
            // Whichever of this and the future's last reader lets go last frees the future's
            // state, after the reader's last look at it: Qt orders the two by a reference count
            // that ThreadSanitizer cannot see. An unfinished promise finishes cancelled here.
            const Unchecked freedByQt;
            QPromise<Result> released = std::move(promise);
        }
        QFuture<Result> future() { return promise.future(); }
        void run() override
        {
            receive(this);
            promise.addResult(task());
            promise.finish();
        }

    private:
        Task task;
        QPromise<Result> promise;
    };
    auto runnable = std::make_unique<Runnable>(std::move(task));
    QFuture<Result> future = runnable->future();
    send(runnable.get());
    pool->start(runnable.release()); // the pool deletes it once it has run, or dropped it
    return future;
}

} // namespace HandOver
