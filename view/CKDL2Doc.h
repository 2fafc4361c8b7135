#pragma once
// The program's single document. All of its data lives in the application
// object; the document only carries the title shown for it.
#include <QString>

namespace vrx4 {

class CKDL2Doc {
 public:
  QString title() const { return title_; }
  void setTitle(const QString& t) { title_ = t; }

 private:
  QString title_ = QStringLiteral("Untitled");
};

}  // namespace vrx4
