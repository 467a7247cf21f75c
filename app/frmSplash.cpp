// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/frmSplash.h"

namespace tandrel {

frmSplash::frmSplash(QWidget* parent) : QDialog(parent) {}

}  // namespace tandrel
