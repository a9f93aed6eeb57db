#pragma once

#include <QPixmap>

// The maker's logo, 144 x 29, drawn rather than shipped as a picture file.
QPixmap Logo();
