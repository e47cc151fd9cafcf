#pragma once

#include <QIcon>
#include <QLabel>

// A hidden image control that only carries a picture for others to use.
class PictureBox : public QLabel {
public:
    explicit PictureBox(QWidget* parent = nullptr) : QLabel(parent) {}

    const QIcon& Picture() const { return picture_; }
    void SetPicture(const QIcon& picture) { picture_ = picture; }

private:
    QIcon picture_;
};
