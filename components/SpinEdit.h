#pragma once
// Integer spin field. Its value is the integer in its text; reading a text
// that is no integer resets it to the minimum. Values set by the program or
// the step buttons are clamped at once, typed ones when the field is left.
#include <QWidget>
#include <functional>
#include <string>

class QLineEdit;
class QToolButton;

class TCSpinEdit : public QWidget {
public:
    explicit TCSpinEdit(QWidget* parent = nullptr);

    int Value();
    // What Value() gives, leaving the text as it is (a bad text is not reset).
    int Peek() const;
    void SetValue(int v);
    int MinValue() const { return min_; }
    int MaxValue() const { return max_; }
    void SetRange(int min, int max);
    int Increment() const { return step_; }
    void SetIncrement(int step) { step_ = step; }
    std::string Text() const;
    void SetText(const std::string& text);
    QLineEdit* Editor() const { return edit_; }
    // Names the field, its text and its arrow buttons for assistive technology.
    void SetAccessibleName(const QString& name);
    // Steps are clamped into the range; no overflow near the int limits.
    void StepUp() { SetText(std::to_string(Clamp(static_cast<long long>(Value()) + step_))); }
    void StepDown() { SetText(std::to_string(Clamp(static_cast<long long>(Value()) - step_))); }

    // Every change of the text.
    std::function<void(TCSpinEdit*)> OnChange;
    std::function<void(TCSpinEdit*)> OnExit;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    int Clamp(long long v) const;
    void CheckOnExit();
    QLineEdit* edit_;
    QToolButton* up_;
    QToolButton* down_;
    int min_ = 0, max_ = 100, step_ = 1;
};

// Strict integer parse: optional sign, then decimal digits, within int range.
bool ParseInteger(const std::string& text, long long& value);
