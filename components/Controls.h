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

// How a settings text (the file's bytes) is shown: as UTF-8 where the bytes
// are valid UTF-8, as Windows-1252 (the ANSI code page of a file written on
// Windows) otherwise.
QString SettingsTextToShow(const std::string& bytes);

// An edit whose text is the file's bytes: a text the program sets comes back
// byte for byte from Text() until the user edits it; what the user types is
// UTF-8.
class TEdit : public QLineEdit {
public:
    explicit TEdit(QWidget* parent = nullptr);
    std::string Text() const;
    void SetText(const std::string& bytes);
    // The text as shown, in UTF-8 (for places that need text, not bytes).
    std::string ShownText() const { return text().toStdString(); }
    // Every change of the text, by the user or the program.
    std::function<void(TEdit*)> OnChange;

private:
    std::string bytes_;  // the text the program set
    QString shown_;      // and how it was shown
};
