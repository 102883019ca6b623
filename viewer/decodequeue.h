// Picture decoding on worker threads for the preview and the thumbnail grid.
// Only the decode itself runs there (DecodePicture: a file's properties and
// its picture, nothing of the program); the window's thread hands requests
// in, takes the decoded pictures back and alone draws them. While it waits
// for a picture the window's events run, so a slow decode never holds the
// window; the grid asks for the pictures of the entries ahead, so that every
// core decodes.
#pragma once

#include "viewer/pictureops.h"

#include <QThreadPool>
#include <deque>
#include <functional>
#include <memory>

class PictureDecodeQueue {
public:
    using Decoder = std::function<DecodedPicture(const PictureDecodeRequest &)>;

    // Workers: one a core when 0.
    explicit PictureDecodeQueue(Decoder decoder = DecodePicture, int workers = 0);
    // Drops what waits to start; waits for what runs.
    ~PictureDecodeQueue();
    PictureDecodeQueue(const PictureDecodeQueue &) = delete;
    PictureDecodeQueue &operator=(const PictureDecodeQueue &) = delete;

    // Starts decoding a picture the window will ask for soon, unless it is
    // held already. At most `held limit` pictures are held: the oldest goes.
    void prefetch(const PictureDecodeRequest &request);
    // The decoded picture: a prefetched one, else decoded now on a worker.
    // `whileWaiting` runs every few milliseconds until it is there.
    DecodedPicture take(const PictureDecodeRequest &request, const std::function<void()> &whileWaiting);
    // Forgets the prefetched pictures (those still waiting never start).
    void clear();
    // Pictures held or being decoded for prefetches.
    int held() const { return int(jobs_.size()); }
    int workers() const { return pool_.maxThreadCount(); }
    int heldLimit() const { return 4 * workers(); }

private:
    struct Job;
    std::shared_ptr<Job> start(const PictureDecodeRequest &request, int priority);

    Decoder decoder_;
    std::deque<std::shared_ptr<Job>> jobs_;
    QThreadPool pool_;
};
