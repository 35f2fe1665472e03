// SPDX-License-Identifier: MIT
// The window's icon, drawn in code: a yellow smiling face, 16 x 16 in 256 colours as the window
// shows it, and the same drawing at larger sizes for desktops and the Windows edition.
#pragma once

#include <QIcon>
#include <QImage>

#include <vector>

namespace tarnvik {

// At 16 pixels, indexed in 256 colours; larger sizes in full colour.
QImage smilingFaceImage(int size = 16);
QIcon smilingFaceIcon();

// A Windows icon file holding `images`, each as a 32-bit DIB with its mask.
QByteArray iconFile(const std::vector<QImage>& images);

} // namespace tarnvik
