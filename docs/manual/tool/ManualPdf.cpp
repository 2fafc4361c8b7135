// vrx4-manual-pdf: turns a manual written in Markdown into an A4 PDF with
// page numbers and the pictures it refers to (relative to the Markdown
// file). Run at build time, offscreen:
//   vrx4-manual-pdf IN.md OUT.pdf [--font FAMILY] [--title TEXT]
// With --font the family must really be there (the Japanese manual needs
// its Japanese font); the tool fails rather than write a PDF of empty boxes.
#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextStream>
#include <QTextTable>
#include <QUrl>

#include <cstdio>

namespace {

constexpr int kResolution = 150;  // dots per inch of the layout
constexpr qreal kBodyPointSize = 10;

int fail(const QString& why) {
  std::fprintf(stderr, "vrx4-manual-pdf: %s\n", qPrintable(why));
  return 1;
}

// Pictures are read from the Markdown file's folder; wide ones are shown at
// the text width.
class ManualDocument : public QTextDocument {
 public:
  ManualDocument(QString folder, qreal textWidth) : folder_(std::move(folder)), textWidth_(textWidth) {}
  QStringList missing;

 protected:
  QVariant loadResource(int type, const QUrl& name) override {
    if (type != QTextDocument::ImageResource) return QTextDocument::loadResource(type, name);
    const QString path = folder_ + QLatin1Char('/') + name.toString();
    QImage image(path);
    if (image.isNull()) {
      missing << path;
      return {};
    }
    // The layout shows image pixels as pixels of a 96-dpi screen (their
    // size on screen); wider than the text they are made smaller.
    const int widest = int(textWidth_ * 96.0 / kResolution);
    if (image.width() > widest) image = image.scaledToWidth(widest, Qt::SmoothTransformation);
    return image;
  }

 private:
  QString folder_;
  qreal textWidth_;
};

// Markdown tables come without rules; give them thin ones and some room.
void formatTables(QTextDocument& doc) {
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    QTextCursor c(b);
    if (QTextTable* t = c.currentTable()) {
      QTextTableFormat f = t->format();
      if (f.border() == 1 && f.borderStyle() == QTextFrameFormat::BorderStyle_Solid) continue;
      f.setBorder(1);
      f.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
      f.setBorderBrush(QColor(0x88, 0x88, 0x88));
      f.setBorderCollapse(true);
      f.setCellPadding(4);
      f.setCellSpacing(0);
      t->setFormat(f);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  QString family, title;
  for (int i = 0; i < args.size();) {
    if ((args[i] == QLatin1String("--font") || args[i] == QLatin1String("--title")) && i + 1 < args.size()) {
      (args[i] == QLatin1String("--font") ? family : title) = args[i + 1];
      args.remove(i, 2);
    } else {
      ++i;
    }
  }
  if (args.size() != 2)
    return fail(QStringLiteral("usage: vrx4-manual-pdf IN.md OUT.pdf [--font FAMILY] [--title TEXT]"));

  QFile in(args[0]);
  if (!in.open(QIODevice::ReadOnly | QIODevice::Text)) return fail(QStringLiteral("cannot read ") + args[0]);
  const QString markdown = QString::fromUtf8(in.readAll());

  QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
  if (!family.isEmpty()) {
    font = QFont(family);
    if (!QFontInfo(font).family().contains(family, Qt::CaseInsensitive))
      return fail(QStringLiteral("font ") + family + QStringLiteral(" is not installed"));
  }
  font.setPointSizeF(kBodyPointSize);

  QPdfWriter writer(args[1]);
  writer.setPageSize(QPageSize(QPageSize::A4));
  writer.setPageMargins(QMarginsF(20, 18, 20, 15), QPageLayout::Millimeter);
  writer.setResolution(kResolution);
  writer.setTitle(title.isEmpty() ? QFileInfo(args[0]).baseName() : title);
  writer.setCreator(QStringLiteral("vrx4-manual-pdf"));

  const QRectF body = writer.pageLayout().paintRectPixels(kResolution);
  const qreal footer = QFontMetricsF(font, &writer).height() * 2.5;
  const QSizeF page(body.width(), body.height() - footer);

  ManualDocument doc(QFileInfo(args[0]).absolutePath(), page.width());
  doc.documentLayout()->setPaintDevice(&writer);
  doc.setDefaultFont(font);
  doc.setDocumentMargin(0);
  doc.setDefaultStyleSheet(QStringLiteral("code, pre { font-family: monospace; }"));
  doc.setMarkdown(markdown);
  formatTables(doc);
  doc.setPageSize(page);
  const int pages = doc.pageCount();
  if (!doc.missing.isEmpty())
    return fail(QStringLiteral("missing pictures: ") + doc.missing.join(QStringLiteral(", ")));

  QPainter painter;
  if (!painter.begin(&writer)) return fail(QStringLiteral("cannot write ") + args[1]);
  QFont footerFont = font;
  footerFont.setPointSizeF(kBodyPointSize - 1);
  for (int i = 0; i < pages; ++i) {
    if (i > 0) writer.newPage();
    painter.save();
    painter.translate(0, -i * page.height());
    QAbstractTextDocumentLayout::PaintContext context;
    context.clip = QRectF(0, i * page.height(), page.width(), page.height());
    painter.setClipRect(context.clip);
    doc.documentLayout()->draw(&painter, context);
    painter.restore();
    painter.setFont(footerFont);
    painter.setPen(QColor(0x55, 0x55, 0x55));
    painter.drawText(QRectF(0, page.height(), page.width(), footer), Qt::AlignHCenter | Qt::AlignBottom,
                     QStringLiteral("%1 / %2").arg(i + 1).arg(pages));
  }
  if (!painter.end()) return fail(QStringLiteral("cannot write ") + args[1]);
  return 0;
}
