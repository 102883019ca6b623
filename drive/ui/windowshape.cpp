#include "drive/ui/windowshape.h"

#include "platform/ui/controls.h"

#include <QEvent>
#include <QObject>
#include <QPainterPath>
#include <QRegion>
#include <QWidget>

namespace {

QRegion roundedRegion(const QSize &size, int corner)
{
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, size.width(), size.height()), corner / 2.0, corner / 2.0);
    return QRegion(path.toFillPolygon().toPolygon());
}

// Keeps the shape of one widget in step with its size.
class RoundShape : public QObject {
public:
    RoundShape(QWidget *widget, int corner) : QObject(widget), corner_(corner) { widget->installEventFilter(this); }
    void setCorner(int corner) { corner_ = corner; }
    void apply(QWidget *w) const
    {
        if (w->width() > 0 && w->height() > 0)
            w->setMask(roundedRegion(w->size(), corner_));
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Resize)
            apply(static_cast<QWidget *>(watched));
        return false;
    }

private:
    int corner_;
};

} // namespace

void MakeRoundWindow(plat::Control &control, int cornerSize)
{
    QWidget *w = control.widget();
    if (!w)
        return;
    RoundShape *shape = nullptr;
    for (QObject *child : w->children())
        if (auto *s = dynamic_cast<RoundShape *>(child))
            shape = s;
    if (!shape)
        shape = new RoundShape(w, cornerSize);
    shape->setCorner(cornerSize < 0 ? 0 : cornerSize);
    shape->apply(w);
}
