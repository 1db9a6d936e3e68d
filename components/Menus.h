#pragma once
// Menu items and the popup menu. Captions use "&" as the mnemonic marker and
// "&&" for a literal "&"; a caption of "-" is a separator.
#include <QObject>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Types.h"

class QAction;
class QMenu;
class TPopupMenu;

class TMenuItem {
public:
    TMenuItem(TPopupMenu* owner, const std::string& name, const std::string& caption);
    ~TMenuItem();

    const std::string& Name() const { return name_; }
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);
    bool Visible() const { return visible_; }
    void SetVisible(bool v);
    bool Default() const { return default_; }
    void SetDefault(bool v);
    bool IsSeparator() const { return caption_ == "-"; }
    // Runs the handler, whether or not the item is visible.
    void Click();
    QAction* Action() const { return action_; }

    std::function<void(TMenuItem*)> OnClick;

private:
    std::string name_;
    std::string caption_;
    bool visible_ = true;
    bool default_ = false;
    QAction* action_;
};

class TPopupMenu {
public:
    TPopupMenu();
    ~TPopupMenu();
    TPopupMenu(const TPopupMenu&) = delete;
    TPopupMenu& operator=(const TPopupMenu&) = delete;

    TMenuItem* Add(const std::string& name, const std::string& caption);
    int Count() const { return static_cast<int>(items_.size()); }
    TMenuItem* Items(int i) const { return items_.at(static_cast<std::size_t>(i)).get(); }
    TMenuItem* Find(const std::string& name) const;

    bool AutoPopup() const { return autoPopup_; }
    void SetAutoPopup(bool v) { autoPopup_ = v; }
    // The component the menu was last opened from.
    void* PopupComponent() const { return popupComponent_; }
    void SetPopupComponent(void* c) { popupComponent_ = c; }
    // Runs OnPopup, then shows the menu at the screen point; returns when it closes.
    void Popup(int x, int y);
    // The menu as the toolkit shows it (tests and the tray use it).
    QMenu* Menu() const { return menu_.get(); }
    // Set while the menu is open (for tests).
    std::function<void(TPopupMenu*)> OnShown;

    std::function<void(TPopupMenu*)> OnPopup;

private:
    std::unique_ptr<QMenu> menu_;
    std::vector<std::unique_ptr<TMenuItem>> items_;
    bool autoPopup_ = true;
    bool popping_ = false;  // inside Popup, which ran OnPopup itself
    void* popupComponent_ = nullptr;
};
