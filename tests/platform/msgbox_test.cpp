// The message-box service: close answers, centring, the responder, the real
// box closing itself by its time-out, and no box waiting once the program
// closes.
#include "platform/ui/msgbox.h"

#include "platform/os.h"
#include "platform/ui/controls.h"
#include "platform/ui/dialogs.h"
#include "tests/support/responder.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Ends any box still up after a while, so that a fault can never hang the
// test: presses the box's last button.
class Watchdog {
public:
    explicit Watchdog(int ms)
    {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                fired = true;
                const auto buttons = box->buttons();
                if (!buttons.isEmpty())
                    buttons.last()->click();
                else
                    box->done(0);
            }
            timer_.start(50);   // and again, should another box follow
        });
        timer_.start(ms);
    }
    bool fired = false;

private:
    QTimer timer_;
};

} // namespace

TEST(MessageService, CloseAnswerOfEachButtonSet)
{
    EXPECT_EQ(plat::closeAnswer(plat::mb::OK), plat::id::OK);
    EXPECT_EQ(plat::closeAnswer(plat::mb::OK | plat::mb::IconInformation), plat::id::OK);
    EXPECT_EQ(plat::closeAnswer(plat::mb::OKCancel), plat::id::Cancel);
    EXPECT_EQ(plat::closeAnswer(plat::mb::YesNoCancel | plat::mb::DefButton2), plat::id::Cancel);
    EXPECT_EQ(plat::closeAnswer(plat::mb::RetryCancel), plat::id::Cancel);
    EXPECT_EQ(plat::closeAnswer(plat::mb::YesNo), 0);             // waits for the user
    EXPECT_EQ(plat::closeAnswer(plat::mb::AbortRetryIgnore), 0);
}

TEST(MessageService, CentredOverOwnerAndKeptOnScreen)
{
    const QRect screen(0, 0, 1024, 768);
    EXPECT_EQ(plat::centredBoxPosition(QRect(100, 100, 400, 300), QSize(200, 100), screen), QPoint(200, 200));
    // Halves are truncated each on its own: 401 / 2 = 200, 201 / 2 = 100.
    EXPECT_EQ(plat::centredBoxPosition(QRect(0, 0, 401, 301), QSize(201, 101), screen), QPoint(100, 100));
    // An owner partly off the top-left puts the box at 0.
    EXPECT_EQ(plat::centredBoxPosition(QRect(-300, -200, 400, 300), QSize(300, 200), screen), QPoint(0, 0));
    // An owner at the bottom-right pushes the box back inside.
    EXPECT_EQ(plat::centredBoxPosition(QRect(900, 700, 400, 300), QSize(200, 100), screen), QPoint(824, 668));
    // A second screen to the right keeps the box on that screen.
    EXPECT_EQ(plat::centredBoxPosition(QRect(1000, 10, 100, 100), QSize(300, 100), QRect(1024, 0, 800, 600)),
              QPoint(1024, 10));
}

TEST(MessageService, ResponderAnswersAndRecordsEveryBox)
{
    plat::Form owner;
    {
        testing_support::MessageScript script;
        script.expect(plat::id::No, "really");
        plat::MessageRequest r;
        r.text = "Do you really want to delete the folder\r\n\r\nC:\\x\\";
        r.title = "Delete Folder";
        r.style = plat::mb::YesNo | plat::mb::IconQuestion;
        r.timeoutMs = 4000;
        r.ownerHandle = owner.hWnd();
        EXPECT_EQ(plat::showMessage(r), plat::id::No);
        ASSERT_EQ(script.boxes().size(), 1u);
        const plat::MessageRequest &got = script.boxes().front();
        EXPECT_EQ(got.text, r.text);   // CR LF kept as the program wrote it
        EXPECT_EQ(got.title, "Delete Folder");
        EXPECT_EQ(got.style, plat::mb::YesNo | plat::mb::IconQuestion);
        EXPECT_EQ(got.timeoutMs, 4000);
        EXPECT_EQ(got.ownerHandle, owner.hWnd());
        EXPECT_EQ(script.pending(), 0);
    }
    EXPECT_FALSE(plat::hasMessageResponder());
}

TEST(MessageService, RealBoxClosesItselfByItsTimeout)
{
    ASSERT_FALSE(plat::hasMessageResponder());
    plat::Form owner;
    owner.Move(1500, 1500, 9000, 6000);
    owner.Show();
    Watchdog watchdog(3000);

    // An OK box, centred, with a relabelled OK button: closes with OK.
    QString label;
    QPoint boxAt, expectedAt;
    QTimer::singleShot(0, owner.widget(), [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                label = ok->text();
            boxAt = box->frameGeometry().topLeft();
            expectedAt = plat::centredBoxPosition(owner.widget()->frameGeometry(), box->frameGeometry().size(),
                                                  plat::screenRectPixels(owner.widget()));
        }
    });
    plat::MessageRequest r;
    r.text = "Still busy....  ";
    r.title = "Quilvane";
    r.style = plat::mb::OK | plat::mb::IconInformation | plat::mb::TaskModal;
    r.timeoutMs = 30;
    r.ownerHandle = owner.hWnd();
    r.okLabel = "SelfClosing";
    r.centred = true;
    EXPECT_EQ(plat::showMessage(r), plat::id::OK);
    EXPECT_EQ(label, "SelfClosing");
    EXPECT_EQ(boxAt, expectedAt);

    // OK and Cancel, Retry and Cancel: the time-out answers Cancel.
    r.style = plat::mb::OKCancel;
    EXPECT_EQ(plat::showMessage(r), plat::id::Cancel);
    r.style = plat::mb::RetryCancel;
    r.timeoutMs = 5;
    EXPECT_EQ(plat::showMessage(r), plat::id::Cancel);
    EXPECT_FALSE(watchdog.fired);

    // A Yes/No box is not closed by its time-out: it waits for the user,
    // here the watchdog, which presses the last button.
    Watchdog user(250);
    QElapsedTimer t;
    t.start();
    r.style = plat::mb::YesNo;
    r.timeoutMs = 5;
    int answer = plat::showMessage(r);
    EXPECT_TRUE(user.fired);
    EXPECT_GE(t.elapsed(), 200);
    EXPECT_TRUE(answer == plat::id::Yes || answer == plat::id::No);
    // With a time-out answer it gives that one (the watchdog would say No).
    r.timeoutAnswer = plat::id::Yes;
    EXPECT_EQ(plat::showMessage(r), plat::id::Yes);
    owner.Hide();
}

TEST(MessageService, OnceTheProgramClosesNoBoxOrDialogWaits)
{
    EXPECT_EQ(plat::closingAnswer(plat::mb::YesNo | plat::mb::DefButton1), plat::id::No);
    EXPECT_EQ(plat::closingAnswer(plat::mb::AbortRetryIgnore), plat::id::Abort);
    EXPECT_EQ(plat::closingAnswer(plat::mb::YesNoCancel), plat::id::Cancel);
    EXPECT_EQ(plat::closingAnswer(plat::mb::OK), plat::id::OK);

    ASSERT_FALSE(plat::hasMessageResponder());
    plat::Form owner;
    owner.Show();
    Watchdog user(3 * plat::kClosingBoxMs);
    plat::MessageRequest r;
    r.text = "Scan finished.";
    r.title = "Scan";
    r.style = plat::mb::YesNo | plat::mb::IconQuestion;
    r.ownerHandle = owner.hWnd();

    // A question that is up when the closing begins answers No by itself.
    QTimer::singleShot(50, [] { plat::beginClosing(); });
    EXPECT_EQ(plat::showMessage(r), plat::id::No);
    EXPECT_FALSE(user.fired);

    // Later boxes close themselves too: the responder sees the time-out.
    {
        testing_support::MessageScript script;
        script.expect(plat::id::OK).expect(plat::id::OK);
        r.style = plat::mb::OK;
        plat::showMessage(r);
        r.timeoutMs = 16000;
        plat::showMessage(r);
        ASSERT_EQ(script.boxes().size(), 2u);
        EXPECT_EQ(script.boxes()[0].timeoutMs, plat::kClosingBoxMs);
        EXPECT_EQ(script.boxes()[1].timeoutMs, plat::kClosingBoxMs);
    }
    // No dialog is asked (not even of a responder): it is cancelled.
    bool asked = false;
    plat::setDialogResponder([&asked](const plat::DialogRequest &) {
        asked = true;
        return plat::DialogAnswer{QStringLiteral("C:\\x\\"), 1};
    });
    EXPECT_TRUE(plat::showDialog(plat::DialogRequest{}).path.isEmpty());
    EXPECT_FALSE(asked);
    plat::setDialogResponder({});
    plat::resetClosing();
    owner.Hide();
}
