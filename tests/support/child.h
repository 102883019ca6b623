// A test binary started again as a child process, for tests that kill the
// program (SIGKILL) at chosen moments: the child runs one function, registered
// under a name, instead of the tests, in a program home and a temporary
// folder of its own.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace testing_support {

// A child's function: its arguments; its result is the exit code.
using ChildMain = std::function<int(const QStringList &args)>;
// Registers a child's function; used at static initialisation
// (`const bool registered = registerChild("name", fn);`).
bool registerChild(const QString &name, ChildMain main);
// For main(), once the application object exists: runs the child that
// QUILVANE_TEST_CHILD names and gives its exit code; -1 when none is named.
int runChildIfAsked();
// In a child: a line on standard output, at once.
void childSays(const QString &line);

class ChildProcess {
public:
    // Starts this binary as the child of that name, in the program home
    // given (native path; a fresh one when empty).
    ChildProcess(const QString &name, const QStringList &args, const QString &home = {});
    ~ChildProcess();   // a child still running is killed
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Waits until the child said a line beginning with the text; false when
    // it ended or the time ran out first.
    bool waitForLine(const QString &text, int timeoutMs = 30000);
    // SIGKILL, then waits for the end.
    void kill();
    // Waits for the end; the exit code, -1 when it did not end in time or
    // did not end normally.
    int wait(int timeoutMs = 60000);
    QString output() const { return output_; }
    qint64 processId() const { return process_->processId(); }

private:
    std::unique_ptr<QProcess> process_;
    QString output_;
    QString tempDir_;
};

} // namespace testing_support
