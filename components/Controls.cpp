#include "components/Controls.h"

#include <QStringDecoder>

#include "components/Application.h"

QString SettingsTextToShow(const std::string& bytes)
{
    const QByteArray data = QByteArray::fromStdString(bytes);
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8.decode(data);
    if (!utf8.hasError()) return text;
    QStringDecoder ansi("windows-1252", QStringConverter::Flag::Stateless);
    if (ansi.isValid()) return ansi.decode(data);
    return QString::fromLatin1(data);  // a toolkit without the code page: its close neighbour
}

TCheckBox::TCheckBox(const std::string& caption, QWidget* parent)
    : QCheckBox(QString::fromStdString(caption), parent)
{
    connect(this, &QCheckBox::toggled, this, [this](bool) { Fire(OnClick, this); });
}

TEdit::TEdit(QWidget* parent) : QLineEdit(parent)
{
    connect(this, &QLineEdit::textChanged, this, [this](const QString&) { Fire(OnChange, this); });
}

void TEdit::SetText(const std::string& bytes)
{
    bytes_ = bytes;
    shown_ = SettingsTextToShow(bytes);
    setText(shown_);
}

std::string TEdit::Text() const
{
    const QString now = text();
    return now == shown_ ? bytes_ : now.toStdString();
}
