#include "tests/support/chooser_script.h"

#include "drive/chooserpath.h"

#include <QApplication>
#include <QPushButton>
#include <gtest/gtest.h>

namespace testing_support {

ChooserScript::ChooserScript()
{
    timer_.setInterval(2);
    QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
    timer_.start();
}

ChooserScript::~ChooserScript()
{
    timer_.stop();
    EXPECT_TRUE(answers_.empty()) << answers_.size() << " chooser answer(s) left";
}

ChooserScript &ChooserScript::ok()
{
    answers_.push_back(true);
    return *this;
}

ChooserScript &ChooserScript::cancel()
{
    answers_.push_back(false);
    return *this;
}

void ChooserScript::poll()
{
    for (QWidget *top : QApplication::topLevelWidgets()) {
        if (!top->isVisible() || !top->isModal())
            continue;
        QPushButton *okButton = nullptr, *createButton = nullptr;
        for (QPushButton *b : top->findChildren<QPushButton *>()) {
            const QString t = b->text().remove('&');
            if (t == QLatin1String("OK"))
                okButton = b;
            if (t == QLatin1String("Create new"))
                createButton = b;
        }
        if (!okButton || !createButton)
            continue;   // not the folder chooser
        offered << ChooserStartPath;
        captions << top->windowTitle();
        if (answers_.empty()) {
            ADD_FAILURE() << "unexpected folder chooser offering " << ChooserStartPath.toStdString();
            top->close();
            return;
        }
        const bool ok = answers_.front();
        answers_.pop_front();
        if (ok)
            okButton->click();
        else
            top->close();
        return;
    }
}

} // namespace testing_support
