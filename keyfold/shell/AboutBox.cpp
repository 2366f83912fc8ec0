#include "keyfold/shell/AboutBox.h"

#include "keyfold/res/resource.h"

CAboutBox::CAboutBox() : kf::CDialog(IDD_ABOUTBOX) {}
