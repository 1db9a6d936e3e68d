#include "components/Controls.h"

#include "components/Application.h"

TCheckBox::TCheckBox(const std::string& caption, QWidget* parent)
    : QCheckBox(QString::fromStdString(caption), parent)
{
    connect(this, &QCheckBox::toggled, this, [this](bool) { Fire(OnClick, this); });
}

TEdit::TEdit(QWidget* parent) : QLineEdit(parent)
{
    connect(this, &QLineEdit::textChanged, this, [this](const QString&) { Fire(OnChange, this); });
}
