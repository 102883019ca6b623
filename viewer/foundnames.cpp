#include "viewer/foundnames.h"

namespace {

const QString kPreviewList = QStringLiteral(
    "CR2,CRW,DCR,DNG,JBF,ARW,MRW,NEF,ORF,PCX,PEF,PIXAR,PIX,PSP,RAF,X3F,SRF,RW2,JPE,JPG,JPEG,THM,ICO,WMF,BMP,"
    "CUR,PNG,GIF,TIF,TIFF,KDC,JFIF,3FR,RDC,RAW,KDC,SR2,MEF,CDR,");
const QString kRawList = QStringLiteral(".CRW.CR2.DNG.NEF.RAW.RAF.X3F.ORF.SRF.MRW.DCR.BAY.PEF.TIFF.TIF.SR2.ARW.RW2");
const QString kPictureList = QStringLiteral(".jpeg.jpg.jpe.thm.ico.wmf.bmp.cur.png.gif.tiff.tif.kdc.jfif.mef.nef.dng.thc.rpc");

const QChar kSeparator('/');

} // namespace

QString FoundFileExtension(const QString &name)
{
    const qsizetype dot = name.indexOf('.');
    return dot < 0 ? QString() : name.mid(dot + 1);
}

bool InPreviewList(const QString &extension) { return kPreviewList.contains(extension, Qt::CaseInsensitive); }

bool InRawList(const QString &extension)
{
    return !extension.isEmpty() && kRawList.contains('.' + extension, Qt::CaseInsensitive);
}

bool InPictureList(const QString &text)
{
    return !text.isEmpty() && kPictureList.contains(text, Qt::CaseInsensitive);
}

QString TypeThumbnailNameOf(const QString &extension) { return extension + QStringLiteral(".jpg"); }

bool InNoPreviewList(const QString &list, const QString &name)
{
    if (name.isEmpty())
        return false;
    return (kSeparator + list).contains(kSeparator + name + kSeparator);
}

void AddToNoPreviewList(QString &list, const QString &name)
{
    if (name.isEmpty() || InNoPreviewList(list, name))
        return;
    if (!list.isEmpty() && !list.endsWith(kSeparator))
        list += kSeparator;
    list += name + kSeparator;
}

void RemoveFromNoPreviewList(QString &list, const QString &name)
{
    if (!InNoPreviewList(list, name))
        return;
    QString all = kSeparator + list;
    all.replace(kSeparator + name + kSeparator, QString(kSeparator));
    list = all.mid(1);
}
