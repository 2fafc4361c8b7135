#pragma once
// The program's icon (packaging/vrx4.svg, built into the executable), at
// the sizes window managers and task bars ask for.
#include <QIcon>

namespace vrx4 {

QIcon applicationIcon();

}  // namespace vrx4
