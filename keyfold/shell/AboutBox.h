// The about box: program name, version and rights line; "确定", Enter or
// Escape closes it. Opened modally by the about command and discarded.
#pragma once

#include "keyfold/framework/Dialog.h"

class CAboutBox : public kf::CDialog {
 public:
  CAboutBox();
};
