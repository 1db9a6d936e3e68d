#pragma once
// Check box and edit: the program's handlers see every change, also those
// the program makes itself.
#include <QCheckBox>
#include <QLineEdit>
#include <functional>
#include <string>

class TCheckBox : public QCheckBox {
public:
    explicit TCheckBox(const std::string& caption, QWidget* parent = nullptr);
    bool Checked() const { return isChecked(); }
    void SetChecked(bool v) { setChecked(v); }
    // Every change of the ticked state, by the user or the program.
    std::function<void(TCheckBox*)> OnClick;
};

class TEdit : public QLineEdit {
public:
    explicit TEdit(QWidget* parent = nullptr);
    std::string Text() const { return text().toStdString(); }
    void SetText(const std::string& t) { setText(QString::fromStdString(t)); }
    // Every change of the text, by the user or the program.
    std::function<void(TEdit*)> OnChange;
};
