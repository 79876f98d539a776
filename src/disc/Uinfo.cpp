#include "disc/Uinfo.h"

TfrmCDInfo::TfrmCDInfo(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {}

TfrmCDInfo::~TfrmCDInfo() = default;
