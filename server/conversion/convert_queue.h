#pragma once

// The conversion queue and its worker.
//
// Jobs wait in one ordered queue; one worker thread converts them one at a time, in
// queue order, with the encoder engine. The queue is a message target at the
// conversion list's index (frame 5) on a message thread of its own: request
// handlers and the desktop window reach it only through the queue messages
// (0x80D4-0x80D9), and the engine notices of a job (0x80CE, 0x80D0) arrive there
// too, so completion renames and error deletions happen in the daemon and the
// application alike. The conversion window, when there is one, is told through
// the notices 0x80C9-0x80CC at frame 3.
//
// Threads and locks: m_queueLock guards the job list and m_current; it is never held
// while an engine starts or stops, a file is renamed or deleted, or anybody waits.
// Jobs marked "to be removed" stay in the list until the worker has stopped their
// engines and deleted their temporary files; only then are they taken out. State
// changes go through the job's compare-and-set helpers, so a cancel never loses to
// a late notice.

#include "conversion/convert_info.h"
#include "skin/frame_msg.h"
#include "skin/message_loop.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// The queue messages (the conversion list's window messages).
inline constexpr veneta::MessageId WM_APP_QUEUE_COUNT = 0x80D4; // lParam: int*
inline constexpr veneta::MessageId WM_APP_QUEUE_JOB_AT
    = 0x80D5; // wParam index, lParam: ConvertJobPtr*
inline constexpr veneta::MessageId WM_APP_QUEUE_PROGRESS
    = 0x80D6; // wParam percent, lParam: const std::string* id
// lParam: ConvertJobPtr*; wParam kQueueAddKeepSameName appends without replacing
inline constexpr veneta::MessageId WM_APP_QUEUE_ADD = 0x80D7;
inline constexpr veneta::MessageId WM_APP_QUEUE_NOTHING = 0x80D8;
inline constexpr veneta::MessageId WM_APP_QUEUE_CLEAR = 0x80D9; // wParam 0: finished jobs, 1: all

// WM_APP_QUEUE_ADD's wParam for a file dropped at this computer: two files of the
// same name from different folders are two jobs, not one replacing the other.
inline constexpr veneta::WParam kQueueAddKeepSameName = 1;

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

class CConvertQueue : public veneta::IMessageTarget {
public:
    explicit CConvertQueue(ConvertQueueTiming timing = {});
    ~CConvertQueue() override; // Stop
    CConvertQueue(const CConvertQueue&) = delete;
    CConvertQueue& operator=(const CConvertQueue&) = delete;

    // Registers at the conversion list's index and starts the worker.
    void Start();
    // Program end: the worker ends, a running conversion is cancelled and its partial
    // output deleted, waiting jobs are dropped. Idempotent.
    void Stop();

    veneta::LResult OnMessage(
        veneta::MessageId message, veneta::WParam wParam, veneta::LParam lParam) override;

    // A snapshot of the queue in order (jobs to be removed included).
    std::vector<ConvertJobPtr> Jobs() const;

private:
    bool AddJob(ConvertJobPtr job, bool replaceSameName);
    void ReportProgress(int percent, const std::string& convertId);
    void MarkJobs(bool all);
    void OnConversionCompleted(uint64_t key);
    void OnConversionError(uint64_t key);
    ConvertJobPtr FindByKey(uint64_t key) const;

    void WorkerThread();
    ConvertJobPtr TakeFirstWaitingJob();
    void RunJob(const ConvertJobPtr& job);
    void FailJob(const ConvertJobPtr& job);
    void SendProgress(const ConvertJobPtr& job);
    void RemoveMarkedJobs();
    // Pauses one step; false when the queue stops (or a job was added, wakeOnWork).
    bool PauseStep();

    const ConvertQueueTiming m_timing;
    veneta::CMessageLoopThread m_loop;

    mutable std::mutex m_queueLock;
    std::vector<ConvertJobPtr> m_jobs; // guarded by m_queueLock
    ConvertJobPtr m_current; // guarded by m_queueLock: the job the worker starts or runs
    bool m_stopping = false; // guarded by m_queueLock
    std::condition_variable m_wake; // with m_queueLock: stop or a new job

    std::mutex m_threadLock;
    std::thread m_worker; // guarded by m_threadLock
    bool m_registered = false; // guarded by m_threadLock
};

// Deletes a file, trying up to 10 times 20 ms apart; true when it is gone.
bool DeleteConvertOutput(const std::string& path);

// Posts one of the notices 0x80C9-0x80CC about a job to the conversion window.
void PostConversionNotice(veneta::MessageId notice, const ConvertInfo_t& job);
