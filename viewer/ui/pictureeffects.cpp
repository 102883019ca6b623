// The desktop's thumbnails drawn into a picture box's image, and the picture
// filters on the boxes' images.
#include "app/frmrecover.h"

#include "drive/driveinfo.h"
#include "platform/os.h"
#include "platform/paths.h"
#include "viewer/filters.h"
#include "viewer/foundnames.h"
#include "viewer/pictureops.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTime>
#include <QWidget>

namespace {

constexpr int kPointerDefault = 0;
constexpr int kPointerHourglass = 11;

// VB's integer division: the operand rounded half to even, then divided.
int64_t intDiv(double value, int64_t by) { return RoundHalfEven(value) / by; }

} // namespace

bool frmRecover::DrawSystemThumbnail(PictureCanvas &box, double width, double height, const QString &file)
{
    const QString name = FileNamePart(file);
    const qsizetype dot = name.lastIndexOf('.');
    const bool document = dot >= 0 && name.mid(dot + 1).compare(QLatin1String("doc"), Qt::CaseInsensitive) == 0;
    std::optional<pcMemDC> thumbnail;
    bool success = false;
    // Files that failed once, and word-processor documents, are not asked.
    if (!InNoPreviewList(NoPreviewList, name) && !document) {
        const int pointer = plat::screenMousePointer();
        if (!RenderingThumbnails)
            plat::setScreenMousePointer(kPointerHourglass);
        CurrentThumbnailGenerator = std::make_unique<cThumbnailGenerator>();
        cThumbnailGenerator &generator = *CurrentThumbnailGenerator;
        generator.SetFlags(ieiflag::Offline | ieiflag::Screen | ieiflag::OrigSize | ieiflag::Quality);
        generator.SetWidth(int(intDiv(width, 16)));
        generator.SetHeight(int(intDiv(height, 16)));
        generator.SetFileName(file);
        generator.TimeLimitMs = ThumbnailerLimitMs;
        generator.WhileWaiting = [] { plat::pumpEvents(); };
        TimerCleanThumbnail.setEnabled(true);
        thumbnail = generator.GetThumbnail(success);
        if (!RenderingThumbnails)
            plat::setScreenMousePointer(pointer == kPointerHourglass ? kPointerDefault : pointer);
    }
    if (success && thumbnail) {
        const int x = int(intDiv(intDiv(width, plat::kTwipsPerPixel) - thumbnail->GetWidth() - 5, 2));
        const int y = int(intDiv(intDiv(height, plat::kTwipsPerPixel) - thumbnail->GetHeight(), 2));
        thumbnail->Draw(box.image, x, y);
    } else {
        success = false;
        AddToNoPreviewList(NoPreviewList, name);
        NoSystemThumbnail.insert(file);
    }
    CurrentThumbnailGenerator.reset();
    TimerCleanThumbnail.setEnabled(false);
    return success;
}

void frmRecover::TimerCleanThumbnail_Timer()
{
    TimerCleanThumbnail.setEnabled(false);
    if (CurrentThumbnailGenerator)
        CurrentThumbnailGenerator->FreeItemIds();
}

// ---- filters -----------------------------------------------------------------------

void frmRecover::SoftenPicture(PictureCanvas &box)
{
    if (LowColourDisplay)
        return;
    ::SoftenPicture(box.image);
}

void frmRecover::FindWhiteBand(PictureCanvas &box) { ::FindWhiteBand(box.image); }

void frmRecover::ApplyPictureFilter(PictureCanvas &box, QString &name)
{
    ::ApplyPictureFilter(box.image, name, LowColourDisplay);
}

int frmRecover::GetBitsPerPixel(plat::PictureBox &box)
{
    // The box's image lives on the screen it stands on, at that screen's depth.
    QScreen *screen = box.widget() ? box.widget()->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->depth() : 32;
}

void frmRecover::AddRandomNoise(plat::PictureBox &box)
{
    // The box's image: its picture at the top-left corner on its back colour.
    const QSize size(plat::twipsToPixels(box.ScaleWidth()), plat::twipsToPixels(box.ScaleHeight()));
    if (size.isEmpty())
        return;
    QImage image(size, QImage::Format_RGB32);
    image.fill(plat::colorFromVb(box.BackColor()));
    if (!box.Picture().isNull()) {
        QPainter p(&image);
        p.drawImage(0, 0, box.Picture());
    }
    ::AddRandomNoise(image);
    box.setPicture(image);
}
