// Answers the program's folder chooser (frmDirChoose, a modal window) in
// tests: whenever one stands open it is answered in order, OK (the folder it
// shows: it starts at ChooserStartPath) or Cancel. A chooser that no answer was left for is cancelled and fails the
// test; answers left at the end fail it too.
#pragma once

#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>

namespace testing_support {

class ChooserScript {
public:
    ChooserScript();
    ~ChooserScript();
    ChooserScript(const ChooserScript &) = delete;
    ChooserScript &operator=(const ChooserScript &) = delete;

    // OK on the folder the chooser offers.
    ChooserScript &ok();
    ChooserScript &cancel();

    QStringList offered;   // ChooserStartPath each time a chooser opened
    QStringList captions;  // the captions of the choosers answered

private:
    void poll();
    QTimer timer_;
    std::deque<bool> answers_;
};

} // namespace testing_support
