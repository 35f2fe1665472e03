// The window's icon, drawn in code: a 16 x 16, 256-colour yellow smiling face.
#pragma once

#include <QIcon>
#include <QImage>

namespace tarnvik {

QImage smilingFaceImage();
QIcon smilingFaceIcon();

} // namespace tarnvik
