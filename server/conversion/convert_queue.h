#pragma once

// The conversion queue and its worker.
//
// Jobs wait in one ordered queue; one worker thread converts them one at a time, in
// queue order, with the encoder engine. Request handlers and the desktop window add,
// cancel, clear and read jobs through the queue's own methods; the engine notices of
// a job (complete, error) arrive on the server's notice queue and call the queue
// directly, so completion renames and error deletions happen in the daemon and the
// application alike. Whoever shows the jobs (the desktop conversion window) is told
// of every change through the observer.
//
// Threads and locks: m_queueLock guards the job list and m_current; it is never held
// while an engine starts or stops, a file is renamed or deleted, the observer is
// called, or anybody waits. Jobs marked "to be removed" stay in the list until the
// worker has stopped their engines and deleted their temporary files; only then are
// they taken out. State changes go through the job's compare-and-set helpers, so a
// cancel never loses to a late notice. m_threadLock guards the worker's thread object
// only: the worker is joined after it is let go.

#include "conversion/convert_info.h"
#include "conversion/convert_store.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Progress code of a cancelled job.
inline constexpr int kConvertProgressCancelled = -255;

using ConvertJobPtr = std::shared_ptr<ConvertInfo_t>;

struct ConvertQueueTiming {
    std::chrono::milliseconds step { 100 }; // the worker's pause between looks
    // How long an engine that has ended may take to have its notice handled before
    // its job counts as failed.
    std::chrono::milliseconds noticeGrace { 3000 };
    int startAttempts = 3; // failed engine starts before a job fails
};

// What changed about a job, for whoever shows the jobs.
enum class ConversionChange { Added, Progress, State, Deleted };
using ConversionObserver = std::function<void(ConversionChange change, const ConvertInfo_t& job)>;

// How a new job meets a queued one of the same file name.
enum class SameNameJobs {
    Replace, // a client's request: the earlier job of that name gives way
    Keep, // a file dropped at this computer: two files of one name are two jobs
};

// The result of offering a client's job to the queue.
enum class QueueAdmission {
    Added,
    Stopped, // the queue has stopped: nothing takes it
    ClientFull, // its client has kMaxWaitingJobsPerClient jobs waiting
    QueueFull, // kMaxWaitingJobs jobs wait in all
};

class CConvertQueue {
public:
    explicit CConvertQueue(ConvertQueueTiming timing = {});
    ~CConvertQueue(); // Stop
    CConvertQueue(const CConvertQueue&) = delete;
    CConvertQueue& operator=(const CConvertQueue&) = delete;

    // Set before Start; called on the thread that made the change, with no lock held.
    void SetObserver(ConversionObserver observer);
    // Before Start: the store that keeps the jobs across a crash or a stop, and the
    // jobs it kept (RestoreConvertJobs), which come first in the queue.
    void SetStore(std::shared_ptr<ConvertJobStore> store);
    void Restore(std::vector<ConvertJobPtr> jobs);
    // Starts the worker.
    void Start();
    // Program end: the worker ends, a running conversion is stopped and its partial
    // output deleted, and the queue empties; the store keeps the jobs for the next
    // start. Idempotent.
    void Stop();

    // Queues a job; false when the queue has stopped.
    bool AddJob(ConvertJobPtr job, SameNameJobs sameName = SameNameJobs::Replace);
    // Queues a client's job unless its client (strOwner) or the whole queue already has
    // as many jobs waiting as conversion_limits.h allows; decided under the queue's lock,
    // so requests at once cannot pass the bounds together.
    QueueAdmission AddClientJob(ConvertJobPtr job);
    // Marks the finished jobs (all: every job) to be removed.
    void MarkJobs(bool all);
    // A snapshot of the queue in order (jobs to be removed included).
    std::vector<ConvertJobPtr> Jobs() const;

    // The engine notices of a job, on the server's notice queue.
    void OnConversionCompleted(const ConvertJobPtr& job);
    void OnConversionError(const ConvertJobPtr& job);

private:
    void ReportProgress(int percent, const ConvertJobPtr& job);
    void Tell(ConversionChange change, const ConvertInfo_t& job);
    void WorkerThread();
    ConvertJobPtr TakeFirstWaitingJob();
    void RunJob(const ConvertJobPtr& job);
    void FailJob(const ConvertJobPtr& job);
    void SendProgress(const ConvertJobPtr& job);
    void RemoveMarkedJobs();
    // The job's row in the store follows its state.
    void Keep(const ConvertInfo_t& job);
    // Queues job under the lock held (lock is m_queueLock's guard); answers the waiting
    // job of the same name that it replaced and took off the queue, or null.
    ConvertJobPtr InsertLocked(const ConvertJobPtr& job, bool replaceSameName);
    // Pauses one step; false when the queue stops (or a job was added, wakeOnWork).
    bool PauseStep();

    const ConvertQueueTiming m_timing;
    ConversionObserver m_observer; // set before Start, read-only after
    std::shared_ptr<ConvertJobStore> m_store; // set before Start, read-only after; may be null

    mutable std::mutex m_queueLock;
    std::vector<ConvertJobPtr> m_jobs; // guarded by m_queueLock
    ConvertJobPtr m_current; // guarded by m_queueLock: the job the worker starts or runs
    bool m_stopping = false; // guarded by m_queueLock
    std::condition_variable m_wake; // with m_queueLock: stop or a new job

    std::mutex m_threadLock;
    std::thread m_worker; // guarded by m_threadLock
};

// Deletes a file, trying up to 10 times 20 ms apart; true when it is gone.
bool DeleteConvertOutput(const std::string& path);

// Moves a finished job's temporary output to its final name without replacing a file:
// when the name was taken meanwhile, the next free numbered name of the same form
// ("clip-vembacast (2).m4v") is used. The name taken, or empty when none could be.
std::string MoveConvertOutputIntoPlace(const std::string& temporary, const std::string& finalPath);
