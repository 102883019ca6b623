#include "viewer/decodequeue.h"

#include <QThread>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>

struct PictureDecodeQueue::Job {
    PictureDecodeRequest request;
    std::atomic<bool> dropped{false};
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    DecodedPicture result;
};

PictureDecodeQueue::PictureDecodeQueue(Decoder decoder, int workers) : decoder_(std::move(decoder))
{
    pool_.setMaxThreadCount(workers > 0 ? workers : std::max(1, QThread::idealThreadCount()));
}

PictureDecodeQueue::~PictureDecodeQueue()
{
    clear();
    pool_.waitForDone();
}

std::shared_ptr<PictureDecodeQueue::Job> PictureDecodeQueue::start(const PictureDecodeRequest &request, int priority)
{
    auto job = std::make_shared<Job>();
    job->request = request;
    // The worker holds the job and a copy of the decoder, never the queue.
    pool_.start(
        [job, decoder = decoder_] {
            DecodedPicture result;
            if (!job->dropped.load())
                result = decoder(job->request);
            const std::lock_guard lock(job->mutex);
            job->result = std::move(result);
            job->done = true;
            job->finished.notify_all();
        },
        priority);
    return job;
}

void PictureDecodeQueue::prefetch(const PictureDecodeRequest &request)
{
    for (const auto &job : jobs_)
        if (job->request == request)
            return;
    while (held() >= heldLimit()) {
        jobs_.front()->dropped = true;
        jobs_.pop_front();
    }
    jobs_.push_back(start(request, 0));
}

DecodedPicture PictureDecodeQueue::take(const PictureDecodeRequest &request, const std::function<void()> &whileWaiting)
{
    std::shared_ptr<Job> job;
    const auto held = std::find_if(jobs_.begin(), jobs_.end(),
                                   [&request](const auto &j) { return j->request == request; });
    if (held != jobs_.end()) {
        job = *held;
        jobs_.erase(held);
    } else {
        // Asked for now: ahead of the prefetches.
        job = start(request, 1);
    }
    std::unique_lock lock(job->mutex);
    while (!job->done) {
        job->finished.wait_for(lock, std::chrono::milliseconds(10));
        if (!job->done && whileWaiting) {
            lock.unlock();
            whileWaiting();
            lock.lock();
        }
    }
    return std::move(job->result);
}

void PictureDecodeQueue::clear()
{
    for (const auto &job : jobs_)
        job->dropped = true;
    jobs_.clear();
}
