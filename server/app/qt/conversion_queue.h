#pragma once

// What the conversion window shows and does: a snapshot of the queue's jobs, adding a
// dropped local file, cancelling a job and clearing the finished ones. The window only
// talks to this interface; the core's conversion queue is one implementation.

#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Job states as the queue keeps them.
enum ConversionState : int {
    kConvWaiting = 0,
    kConvComplete = 1,
    kConvConverting = 2,
    kConvFailed = 4,
    kConvCancelled = 16,
};

struct ConversionRow {
    std::string convertId;
    std::string sourcePath;
    std::string outputPath;
    int progress = 0; // 0 to 100
    int state = kConvWaiting;
};

class IConversionQueue {
public:
    virtual ~IConversionQueue() = default;
    virtual std::vector<ConversionRow> Rows() const = 0;
    // Queues a file from this computer by its own path (no share name involved);
    // false when it is not a readable file.
    virtual bool AddLocalFile(const std::string& path) = 0;
    virtual void Cancel(const std::string& convertId) = 0;
    virtual void RemoveCompleted() = 0;
    // changed is called, from any thread, after every change of the rows.
    virtual void SetObserver(std::function<void()> changed) = 0;
};

// The output name of a dropped file: "<folder>/<base>-vembacast.m4v", or with " (2)",
// " (3)" ... before the extension while that name exists or taken(name) says so.
std::string ConversionOutputPath(
    const std::string& source, const std::function<bool(const std::string&)>& taken);

// The queue the window keeps by itself until a converter is attached: jobs wait, and
// a converter (or a test) moves them on with Update.
class CLocalConversionQueue : public IConversionQueue {
public:
    std::vector<ConversionRow> Rows() const override;
    bool AddLocalFile(const std::string& path) override;
    void Cancel(const std::string& convertId) override;
    void RemoveCompleted() override;
    void SetObserver(std::function<void()> changed) override;
    // Sets a job's progress and state; false for an unknown id.
    bool Update(const std::string& convertId, int progress, int state);

private:
    void Notify();

    mutable std::mutex m_lock;
    std::vector<ConversionRow> m_rows; // guarded by m_lock
    std::function<void()> m_changed; // guarded by m_lock
};
