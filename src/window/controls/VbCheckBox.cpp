#include "VbCheckBox.h"

VbCheckBox::VbCheckBox(const QString& caption, QWidget* parent) : QCheckBox(caption, parent) {
    connect(this, &QCheckBox::stateChanged, this, &VbCheckBox::Click);
}

int VbCheckBox::Value() const {
    switch (checkState()) {
    case Qt::Checked:
        return 1;
    case Qt::PartiallyChecked:
        return 2;
    default:
        return 0;
    }
}

bool VbCheckBox::SetValue(int value) {
    switch (value) {
    case 0:
        setCheckState(Qt::Unchecked);
        return true;
    case 1:
        setCheckState(Qt::Checked);
        return true;
    case 2:
        setCheckState(Qt::PartiallyChecked);
        return true;
    default:
        return false;
    }
}

void VbCheckBox::nextCheckState() {
    setCheckState(checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
}
