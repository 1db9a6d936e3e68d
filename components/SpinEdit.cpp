#include "components/SpinEdit.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QToolButton>
#include <QVBoxLayout>
#include <charconv>
#include <climits>
#include <string_view>

#include "components/Application.h"

namespace {
// Optional sign, then decimal digits. A number past the int range is held
// just beyond it, so that clamping still picks the nearer bound.
bool ParseSaturated(const std::string& text, long long& value)
{
    std::string_view s = text;
    bool negative = false;
    if (!s.empty() && (s.front() == '+' || s.front() == '-')) {
        negative = s.front() == '-';
        s.remove_prefix(1);
    }
    if (s.empty() || s.find_first_not_of("0123456789") != std::string_view::npos) return false;
    constexpr unsigned long long kBeyond = static_cast<unsigned long long>(INT_MAX) + 2;
    unsigned long long v = 0;
    const auto result = std::from_chars(s.data(), s.data() + s.size(), v);
    if (result.ec == std::errc::result_out_of_range || v > kBeyond) v = kBeyond;
    value = negative ? -static_cast<long long>(v) : static_cast<long long>(v);
    return true;
}
}  // namespace

bool ParseInteger(const std::string& text, long long& value)
{
    long long v = 0;
    if (!ParseSaturated(text, v) || v > INT_MAX || v < INT_MIN) return false;
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

void TCSpinEdit::SetAccessibleName(const QString& name)
{
    setAccessibleName(name);
    edit_->setAccessibleName(name);
    up_->setAccessibleName("Increase " + name);
    down_->setAccessibleName("Decrease " + name);
}

int TCSpinEdit::Clamp(long long v) const
{
    if (v < min_) return min_;
    if (v > max_) return max_;
    return static_cast<int>(v);
}

int TCSpinEdit::Peek() const
{
    long long v = 0;
    if (!ParseSaturated(Text(), v)) return min_;
    return v > INT_MAX || v < INT_MIN ? Clamp(v) : static_cast<int>(v);
}

int TCSpinEdit::Value()
{
    long long v = 0;
    if (!ParseSaturated(Text(), v)) {
        SetText(std::to_string(min_));
        return min_;
    }
    if (v > INT_MAX || v < INT_MIN) {  // typed past what an int holds: the nearer bound
        SetText(std::to_string(Clamp(v)));
        return Clamp(v);
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
    if (ParseSaturated(Text(), v)) {
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
