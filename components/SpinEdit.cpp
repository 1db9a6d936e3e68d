#include "components/SpinEdit.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QToolButton>
#include <QVBoxLayout>
#include <climits>

#include "components/Application.h"

bool ParseInteger(const std::string& text, long long& value)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    if (i == text.size()) return false;
    long long v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) return false;
    }
    v = negative ? -v : v;
    if (v > INT_MAX || v < INT_MIN) return false;
    value = v;
    return true;
}

TCSpinEdit::TCSpinEdit(QWidget* parent) : QWidget(parent)
{
    edit_ = new QLineEdit(this);
    up_ = new QToolButton(this);
    down_ = new QToolButton(this);
    up_->setArrowType(Qt::UpArrow);
    down_->setArrowType(Qt::DownArrow);
    for (QToolButton* b : {up_, down_}) {
        b->setFixedSize(16, 11);
        b->setFocusPolicy(Qt::NoFocus);
        b->setAutoRepeat(true);
    }
    auto* buttons = new QVBoxLayout;
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(0);
    buttons->addWidget(up_);
    buttons->addWidget(down_);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    row->addWidget(edit_);
    row->addLayout(buttons);
    setFocusProxy(edit_);
    edit_->installEventFilter(this);
    edit_->setText("0");
    connect(edit_, &QLineEdit::textChanged, this, [this](const QString&) { Fire(OnChange, this); });
    connect(up_, &QToolButton::clicked, this, [this] { StepUp(); });
    connect(down_, &QToolButton::clicked, this, [this] { StepDown(); });
}

int TCSpinEdit::Clamp(long long v) const
{
    if (v < min_) return min_;
    if (v > max_) return max_;
    return static_cast<int>(v);
}

int TCSpinEdit::Value()
{
    long long v = 0;
    if (!ParseInteger(Text(), v)) {
        SetText(std::to_string(min_));
        return min_;
    }
    return static_cast<int>(v);
}

void TCSpinEdit::SetValue(int v)
{
    SetText(std::to_string(Clamp(v)));
}

void TCSpinEdit::SetRange(int min, int max)
{
    min_ = min;
    max_ = max;
}

std::string TCSpinEdit::Text() const
{
    return edit_->text().toStdString();
}

void TCSpinEdit::SetText(const std::string& text)
{
    edit_->setText(QString::fromStdString(text));
}

void TCSpinEdit::CheckOnExit()
{
    long long v = 0;
    if (ParseInteger(Text(), v)) {
        const int c = Clamp(v);
        if (c != v) SetText(std::to_string(c));
    }
    Fire(OnExit, this);
}

bool TCSpinEdit::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != edit_) return false;
    if (event->type() == QEvent::FocusOut) {
        CheckOnExit();
    } else if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Up) { StepUp(); return true; }
        if (key->key() == Qt::Key_Down) { StepDown(); return true; }
        const QString text = key->text();
        if (!text.isEmpty() && text.at(0).isPrint() && !(key->modifiers() & Qt::ControlModifier)) {
            const QChar c = text.at(0);
            const QString sep = QLocale::system().decimalPoint();
            if (!(c.isDigit() && c.unicode() < 128) && c != '+' && c != '-' && !sep.startsWith(c)) {
                QApplication::beep();
                return true;
            }
        }
    }
    return false;
}
