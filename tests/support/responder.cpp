#include "tests/support/responder.h"

#include <gtest/gtest.h>

namespace testing_support {

// ---- message boxes ------------------------------------------------------------

MessageScript::MessageScript()
{
    plat::setMessageResponder([this](const plat::MessageRequest &r) { return answer(r); });
}

MessageScript::~MessageScript()
{
    plat::setMessageResponder({});
    if (!expected_.empty()) {
        ADD_FAILURE() << expected_.size() << " expected message box(es) never shown; first expected text: \""
                      << expected_.front().textContains.toStdString() << "\"";
    }
}

MessageScript &MessageScript::expect(int answer, const QString &textContains)
{
    expected_.push_back({answer, textContains, {}});
    return *this;
}

MessageScript &MessageScript::then(std::function<void(const plat::MessageRequest &)> action)
{
    if (expected_.empty())
        ADD_FAILURE() << "MessageScript::then without an expectation";
    else
        expected_.back().action = std::move(action);
    return *this;
}

int MessageScript::answer(const plat::MessageRequest &request)
{
    boxes_.push_back(request);
    if (expected_.empty()) {
        ADD_FAILURE() << "unexpected message box \"" << request.title.toStdString() << "\": \""
                      << request.text.toStdString() << "\" (style " << request.style << ")";
        // The most cautious answer the box offers.
        int a = plat::closeAnswer(request.style);
        if (a != 0)
            return a;
        return (request.style & plat::mb::ButtonMask) == plat::mb::YesNo ? plat::id::No : plat::id::Abort;
    }
    Expectation e = expected_.front();
    expected_.pop_front();
    if (!e.textContains.isEmpty()) {
        EXPECT_TRUE(request.text.contains(e.textContains))
            << "message box text \"" << request.text.toStdString() << "\" lacks \""
            << e.textContains.toStdString() << "\"";
    }
    if (e.action)
        e.action(request);
    return e.answer;
}

// ---- dialogs -------------------------------------------------------------------

DialogScript::DialogScript()
{
    plat::setDialogResponder([this](const plat::DialogRequest &r) { return answer(r); });
}

DialogScript::~DialogScript()
{
    plat::setDialogResponder({});
    if (!expected_.empty())
        ADD_FAILURE() << expected_.size() << " expected dialog(s) never shown";
}

DialogScript &DialogScript::expect(const QString &internalPath, int filterIndex)
{
    expected_.push_back({internalPath, filterIndex});
    return *this;
}

DialogScript &DialogScript::expectCancel()
{
    expected_.push_back({QString(), 1});
    return *this;
}

plat::DialogAnswer DialogScript::answer(const plat::DialogRequest &request)
{
    dialogs_.push_back(request);
    if (expected_.empty()) {
        ADD_FAILURE() << "unexpected dialog \"" << request.title.toStdString() << "\"";
        return {QString(), request.filterIndex};
    }
    plat::DialogAnswer a = expected_.front();
    expected_.pop_front();
    return a;
}

} // namespace testing_support
