// Scripted answers for the message boxes and dialogs of a test: no test ever
// waits on a real box or dialog. A script installs itself as the layer's
// responder for its lifetime, answers in the order of its expectations,
// records every box or dialog, and fails the test on one that no expectation
// was left for, and at its end for expectations that no box met.
#pragma once

#include "platform/ui/dialogs.h"
#include "platform/ui/msgbox.h"

#include <QString>
#include <deque>
#include <functional>
#include <vector>

namespace testing_support {

class MessageScript {
public:
    MessageScript();
    ~MessageScript();
    MessageScript(const MessageScript &) = delete;
    MessageScript &operator=(const MessageScript &) = delete;

    // The next box is answered with answer (plat::id::...); when textContains
    // is not empty, the box's text must contain it.
    MessageScript &expect(int answer, const QString &textContains = {});
    // Runs when the box of the last expectation comes, before its answer (a
    // test advances its clock here, for example).
    MessageScript &then(std::function<void(const plat::MessageRequest &)> action);

    const std::vector<plat::MessageRequest> &boxes() const { return boxes_; }
    int pending() const { return int(expected_.size()); }

private:
    struct Expectation {
        int answer;
        QString textContains;
        std::function<void(const plat::MessageRequest &)> action;
    };
    int answer(const plat::MessageRequest &request);
    std::deque<Expectation> expected_;
    std::vector<plat::MessageRequest> boxes_;
};

class DialogScript {
public:
    DialogScript();
    ~DialogScript();
    DialogScript(const DialogScript &) = delete;
    DialogScript &operator=(const DialogScript &) = delete;

    // The next dialog is answered with this internal path (and filter index).
    DialogScript &expect(const QString &internalPath, int filterIndex = 1);
    // The next dialog is cancelled.
    DialogScript &expectCancel();

    const std::vector<plat::DialogRequest> &dialogs() const { return dialogs_; }
    int pending() const { return int(expected_.size()); }

private:
    plat::DialogAnswer answer(const plat::DialogRequest &request);
    std::deque<plat::DialogAnswer> expected_;
    std::vector<plat::DialogRequest> dialogs_;
};

} // namespace testing_support
